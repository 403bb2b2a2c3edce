#pragma once

class FtpControl;
class QTimer;

// Connects a view's FTP component and watchdog timer to the session, as every view must: completion
// to FTPDone, debug text to FTPDebug, activity to ResetWatchDog, each timer tick to
// TriggerWatchDog.
void ForwardEventsToSession(FtpControl &ftpcontrol, QTimer &watchDogTimer);
