#include "formatremainingtime.h"

#include <QTest>

class TestFormatRemainingTime : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
};

void TestFormatRemainingTime::format_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << 0 << "unter 1 Sekunde";
    QTest::newRow("1") << 1 << "1 Sekunde";
    QTest::newRow("2") << 2 << "2 Sekunden";
    QTest::newRow("59") << 59 << "59 Sekunden";
    QTest::newRow("60-trailing-blank") << 60 << "1 Minute ";
    QTest::newRow("61") << 61 << "1 Minute 1 Sekunde";
    QTest::newRow("90") << 90 << "1 Minute 30 Sekunden";
    QTest::newRow("120-trailing-blank") << 120 << "2 Minuten ";
    QTest::newRow("125") << 125 << "2 Minuten 5 Sekunden";
    QTest::newRow("3600-no-hours") << 3600 << "60 Minuten ";
    QTest::newRow("3725") << 3725 << "62 Minuten 5 Sekunden";
    QTest::newRow("-1-plural") << -1 << "-1 Sekunden";
    QTest::newRow("-60") << -60 << "-1 Minuten ";
    QTest::newRow("-65") << -65 << "-1 Minuten -5 Sekunden";
    QTest::newRow("max") << 2147483647 << "35791394 Minuten 7 Sekunden";
    QTest::newRow("min") << int(-2147483648LL) << "-35791394 Minuten -8 Sekunden";
}

void TestFormatRemainingTime::format()
{
    QFETCH(int, seconds);
    QFETCH(QString, expected);
    QCOMPARE(FormatRemainingTime(seconds), expected);
}

QTEST_GUILESS_MAIN(TestFormatRemainingTime)
#include "tst_formatremainingtime.moc"
