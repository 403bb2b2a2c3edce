#include "ftpactivitymeter.h"

FtpActivityMeter::FtpActivityMeter(QObject *parent) : QObject(parent)
{
    mPending.setSingleShot(true);
    // A coarse timer may fire a little early, which would bring two reports too close.
    mPending.setTimerType(Qt::PreciseTimer);
    connect(&mPending, &QTimer::timeout, this, &FtpActivityMeter::report);
}

void FtpActivityMeter::note(qint64 bytesSoFar)
{
    mBytes = bytesSoFar;
    if (!mSinceReport.isValid() || mSinceReport.elapsed() >= IntervalMs) {
        report();
        return;
    }
    if (!mPending.isActive())
        mPending.start(IntervalMs - static_cast<int>(mSinceReport.elapsed()));
}

void FtpActivityMeter::report()
{
    mPending.stop();
    if (mBytes == mReported)
        return;
    mReported = mBytes;
    mSinceReport.start();
    emit activity(mBytes);
}
