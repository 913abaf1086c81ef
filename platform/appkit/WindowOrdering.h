#pragma once
namespace ak {

// Where a window or view goes relative to another.
enum class WindowOrderingMode : int { Below = -1, Out = 0, Above = 1 };

}  // namespace ak
