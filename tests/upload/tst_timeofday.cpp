#include "timeofday.h"

#include <QTest>

class TestTimeOfDay : public QObject
{
    Q_OBJECT

private slots:
    void elapsed_data();
    void elapsed();
};

void TestTimeOfDay::elapsed_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("now");
    QTest::addColumn<double>("expected");
    QTest::newRow("ordinary") << 1000.0 << 1012.5 << 12.5;
    QTest::newRow("start-rounded-up-past-now") << 1001.0 << 1000.6 << -0.4;
    QTest::newRow("across-midnight") << 86399.0 << 1.5 << 2.5;
    QTest::newRow("across-midnight-long") << 80000.0 << 6000.0 << 12400.0;
    QTest::newRow("exactly-midnight") << 86399.0 << 0.0 << 1.0;
}

void TestTimeOfDay::elapsed()
{
    QFETCH(double, start);
    QFETCH(double, now);
    QFETCH(double, expected);
    QCOMPARE(ElapsedSince(start, now), expected);
}

QTEST_GUILESS_MAIN(TestTimeOfDay)
#include "tst_timeofday.moc"
