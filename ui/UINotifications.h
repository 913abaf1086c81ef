#pragma once
// Notification names the custom controls post for the rest of the system.

// The source list and its delegate proxy post these with the list as object.
inline constexpr char kSourceListSelectionIsChangingNotification[] = "SourceListSelectionIsChanging";
inline constexpr char kSourceListSelectionDidChangeNotification[] = "SourceListSelectionDidChange";
inline constexpr char kSourceListItemWillExpandNotification[] = "SourceListItemWillExpand";
inline constexpr char kSourceListItemDidExpandNotification[] = "SourceListItemDidExpand";
inline constexpr char kSourceListItemWillCollapseNotification[] = "SourceListItemWillCollapse";
inline constexpr char kSourceListItemDidCollapseNotification[] = "SourceListItemDidCollapse";
// User info: "rows", the ns::IndexSet of the selected rows.
inline constexpr char kSourceListDeleteKeyPressedOnRowsNotification[] = "SourceListDeleteKeyPressedOnRows";
