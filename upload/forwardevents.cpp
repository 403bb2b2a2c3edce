#include "forwardevents.h"

#include "classupload.h"
#include "ftpcontrol.h"

#include <QTimer>

void ForwardEventsToSession(FtpControl &ftpcontrol, QTimer &watchDogTimer)
{
    // The session is looked up on every event rather than captured: a handler that runs before
    // start-up created the session creates it, as any other first use does.
    QObject::connect(&ftpcontrol, &FtpControl::OperationComplete, &ftpcontrol,
                     [] { classUpload::instance().FTPDone(); });
    QObject::connect(&ftpcontrol, &FtpControl::DebugMessage, &ftpcontrol,
                     [](const QString &text) { classUpload::instance().FTPDebug(text); });
    QObject::connect(&ftpcontrol, &FtpControl::Activity, &ftpcontrol,
                     [] { classUpload::instance().ResetWatchDog(); });
    QObject::connect(&watchDogTimer, &QTimer::timeout, &watchDogTimer,
                     [] { classUpload::instance().TriggerWatchDog(); });
}
