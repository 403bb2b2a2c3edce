#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Turns the many small "bytes moved" notes of a transfer into a calm Activity signal: at most one
// report per interval, and a note that falls inside an interval is reported at its end, so while
// bytes flow a report comes at least once per interval and the last count is never lost.
class FtpActivityMeter : public QObject
{
    Q_OBJECT

public:
    explicit FtpActivityMeter(QObject *parent = nullptr);

    void note(qint64 bytesSoFar);

    static constexpr int IntervalMs = 250;

signals:
    void activity(qint64 bytesSoFar);

private:
    void report();

    QElapsedTimer mSinceReport;
    QTimer mPending;
    qint64 mBytes = 0;
    qint64 mReported = -1;
};
