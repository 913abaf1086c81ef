#include "app/browse/TableViewWithContextMenu.h"

#include "platform/runtime/ClassBuilder.h"

PL_CLASS_NAMED(TableViewWithContextMenu, "TableViewWithContextMenu", ak::TableView) {}
