#pragma once

#include <QString>

// A whole number of seconds as German duration text: "unter 1 Sekunde", "1 Minute 1 Sekunde",
// "62 Minuten 5 Sekunden". Minutes are the largest unit. A minute part is followed by one blank
// even when no seconds follow, as the window has always shown it.
[[nodiscard]] QString FormatRemainingTime(qint32 seconds);
