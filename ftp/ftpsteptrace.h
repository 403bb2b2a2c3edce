#pragma once

#include <QLoggingCategory>

// A developer's trace of the steps the FTP operations go through, one line per change of step,
// off unless asked for:
//   QT_LOGGING_RULES="parcelup.ftp.steps.debug=true" parcelup --no-window
// The dialogue itself is in the debug log; this shows which reply each operation waits for.
Q_DECLARE_LOGGING_CATEGORY(lcFtpSteps)
