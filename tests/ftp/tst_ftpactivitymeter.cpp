#include "ftpactivitymeter.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

// The pacing of Activity: a steady stream of small notes becomes about four reports a second, and
// the last count is always reported.
class TestFtpActivityMeter : public QObject
{
    Q_OBJECT

private slots:
    void pacing_data()
    {
        QTest::addColumn<int>("noteEveryMs");
        QTest::newRow("busy-stream") << 2;
        QTest::newRow("steady-stream") << 40;
        QTest::newRow("sparse-stream") << 400;
    }
    void pacing()
    {
        QFETCH(int, noteEveryMs);
        FtpActivityMeter meter;
        QElapsedTimer clock;
        QList<qint64> times;
        QList<qint64> counts;
        connect(&meter, &FtpActivityMeter::activity, this, [&](qint64 bytes) {
            times.append(clock.elapsed());
            counts.append(bytes);
        });

        qint64 noted = 0;
        QTimer source;
        source.setTimerType(Qt::PreciseTimer);
        connect(&source, &QTimer::timeout, this, [&] { meter.note(noted += 1000); });
        clock.start();
        source.start(noteEveryMs);
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 2000, 5000);
        source.stop();
        const qint64 lastNoted = noted;
        QTRY_COMPARE_WITH_TIMEOUT(counts.last(), lastNoted, 1000);

        // Generous towards a busy machine, and still well inside "at least once a second".
        const qint64 maximumGap = std::max<qint64>(noteEveryMs, FtpActivityMeter::IntervalMs) + 400;
        for (qsizetype i = 1; i < times.size(); ++i) {
            const qint64 gap = times.at(i) - times.at(i - 1);
            QVERIFY2(gap >= FtpActivityMeter::IntervalMs - 5, QByteArray::number(gap));
            QVERIFY2(gap <= maximumGap, QByteArray::number(gap));
            QVERIFY(counts.at(i) > counts.at(i - 1));
        }
        QVERIFY(times.size() <= 2000 / FtpActivityMeter::IntervalMs + 2);
    }

    void nothingNewNothingReported()
    {
        FtpActivityMeter meter;
        QSignalSpy spy(&meter, &FtpActivityMeter::activity);
        meter.note(10);
        meter.note(10);
        QCOMPARE(spy.size(), 1);
        // The repeated 10 is not reported again; the next report is the next new count.
        meter.note(20);
        QTRY_COMPARE(spy.size(), 2);
        QCOMPARE(spy.at(1).at(0).toLongLong(), 20);
    }
};

QTEST_GUILESS_MAIN(TestFtpActivityMeter)
#include "tst_ftpactivitymeter.moc"
