#pragma once

namespace wk::gtk {

// Opens WebKitGTK if it is not open yet (later calls answer at once); whether it is there. A web
// view's back end is made only once it is.
bool loadWebEngineLibrary();

}  // namespace wk::gtk
