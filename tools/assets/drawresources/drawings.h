#pragma once

#include <QImage>

// The program's own pictures, drawn with QPainter so that every size is made from the same
// shapes. Sizes are in device pixels; "scale" is the device pixel ratio a picture is made for.

enum class StepMark { Running, Done, Failed };

// A step marker of the window's image list: 10 x 10 logical pixels on white. At scale 1 the marks
// are set pixel by pixel, because a 10-pixel triangle drawn with antialiasing turns into a blur.
[[nodiscard]] QImage DrawStepMark(StepMark mark, int scale);

// The globe of the summary panel, on a transparent background.
[[nodiscard]] QImage DrawGlobe(int size);

// The program's icon: a parcel with an arrow that lifts it up.
[[nodiscard]] QImage DrawProgramIcon(int size);

// One frame of the animation clip: pages fly from a folder to a spinning globe. The clip is
// 273 x 41 logical pixels; frame runs from 0 to frameCount - 1 and the last frame leads back into
// the first.
[[nodiscard]] QImage DrawAnimationFrame(int frame, int frameCount, int scale);
