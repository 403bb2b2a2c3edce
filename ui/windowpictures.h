#pragma once

#include <QIcon>

// The pictures of the progress window, compiled into the program with an "@2x" twin each, so they
// stay sharp on screens with twice the pixel density.

// Logical size of the pictures in the image list.
inline constexpr int kImageListPictureSize = 10;

// Picture `number` of the window's image list: 1 a step that runs, 2 a step or run that succeeded,
// 3 a step or run that failed. Any other number gives the null icon, an empty picture.
[[nodiscard]] QIcon ImageListPicture(int number);

// The 32 x 32 globe of the summary panel.
[[nodiscard]] QIcon GlobePicture();

// The program's icon in all the sizes the desktop asks for.
[[nodiscard]] QIcon ProgramIcon();
