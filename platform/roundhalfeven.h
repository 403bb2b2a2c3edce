#pragma once

// Rounds to the nearest whole number, exact halves to the even neighbour (0.5 gives 0, 1.5 and 2.5
// give 2), independent of the floating-point environment's rounding mode. Settings, times and the
// summary's kilobytes have always been rounded this way.
[[nodiscard]] double RoundHalfEven(double value);
