#pragma once
// The small enumerations shared by the drawing classes, with the platform's numbers.
namespace ak {

enum class CompositingOperation : int {
  Clear = 0,
  Copy = 1,
  SourceOver = 2,
  SourceIn = 3,
  SourceOut = 4,
  SourceAtop = 5,
  DestinationOver = 6,
  DestinationIn = 7,
  DestinationOut = 8,
  DestinationAtop = 9,
  XOR = 10,
  PlusDarker = 11,
  Highlight = 12,
  PlusLighter = 13,
};

enum class ImageInterpolation : int { Default = 0, None = 1, Low = 2, High = 3 };

// The blend modes of the Core Graphics calls that the controls use.
enum class BlendMode : int { Normal = 0, Multiply = 1, Screen = 2 };

enum class WindingRule : int { NonZero = 0, EvenOdd = 1 };
enum class LineCapStyle : int { Butt = 0, Round = 1, Square = 2 };
enum class LineJoinStyle : int { Miter = 0, Round = 1, Bevel = 2 };

// Options of a linear gradient drawn through the graphics port.
enum GradientDrawingOptions : unsigned {
  GradientDrawsBeforeStartLocation = 1,
  GradientDrawsAfterEndLocation = 2,
};

enum class ControlSize : int { Regular = 0, Small = 1, Mini = 2 };

}  // namespace ak
