#pragma once

#include <QFont>

// The font of the progress window's labels. The window was laid out for Tahoma 8.25 pt; where that
// font is not installed, which is the rule on Linux, the desktop's general sans-serif font is used
// at the same size, so the texts keep the size the layout expects.
[[nodiscard]] QFont LabelFont();
