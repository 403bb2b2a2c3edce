#pragma once

#include <functional>

// The time of day in seconds since midnight, with fraction. The run measures its durations with it,
// as it always has; a difference that comes out negative crossed midnight (see ElapsedSince).
[[nodiscard]] double TimeOfDay();

// now - start for two times of day, with one day added when the run crossed midnight (a difference
// of more than half a day backwards).
[[nodiscard]] double ElapsedSince(double start, double now);

// Replaces the clock, so that tests get reproducible rates and estimates; an empty function
// restores the real one.
void SetTimeOfDaySource(std::function<double()> source);
