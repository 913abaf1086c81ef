#pragma once
// The notifications the custom controls and windows post.

// The mouse moved over the full-screen window / rested there for a while.
inline constexpr char kFullScreenMouseMovedNotification[] = "fullScreenMouseMoved";
inline constexpr char kFullScreenMouseIdleNotification[] = "fullScreenMouseIdle";
// A window-button group's roll-over state changed (object: the group).
inline constexpr char WindowButtonGroupDidUpdateRolloverStateNotification[] =
    "WindowButtonGroupDidUpdateRolloverStateNotification";
// A search field became first responder (no object, on the posting thread).
inline constexpr char kSearchFieldActivatedNotification[] = "sesarchFieldActivated";

// The source list and its delegate proxy post these with the list as object.
inline constexpr char kSourceListSelectionIsChangingNotification[] = "SourceListSelectionIsChanging";
inline constexpr char kSourceListSelectionDidChangeNotification[] = "SourceListSelectionDidChange";
inline constexpr char kSourceListItemWillExpandNotification[] = "SourceListItemWillExpand";
inline constexpr char kSourceListItemDidExpandNotification[] = "SourceListItemDidExpand";
inline constexpr char kSourceListItemWillCollapseNotification[] = "SourceListItemWillCollapse";
inline constexpr char kSourceListItemDidCollapseNotification[] = "SourceListItemDidCollapse";
// User info: "rows", the ns::IndexSet of the selected rows.
inline constexpr char kSourceListDeleteKeyPressedOnRowsNotification[] = "SourceListDeleteKeyPressedOnRows";
