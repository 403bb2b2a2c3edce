#include "ftpsteptrace.h"

Q_LOGGING_CATEGORY(lcFtpSteps, "parcelup.ftp.steps", QtWarningMsg)
