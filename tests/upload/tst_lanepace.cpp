#include "lanepace.h"

#include <QTest>

Q_DECLARE_METATYPE(LanePace)

// Whether one more connection logs in, at paces measured on real servers.
class TestLanePace : public QObject
{
    Q_OBJECT

private slots:
    void oneMoreLogIn_data()
    {
        QTest::addColumn<LanePace>("pace");
        QTest::addColumn<bool>("pays");
        QTest::newRow("no further log-in yet") << LanePace{900, 100, 130, -1} << true;
        QTest::newRow("no file sent yet") << LanePace{1000, 0, 130, 127} << true;
        // vsftpd on loopback: 0.9 s of files left against a log-in of 0.13 s.
        QTest::newRow("near server, a thousand small files")
            << LanePace{850, 150, 160, 127} << false;
        // 20 ms per reply: 400 files, a log-in of six round trips.
        QTest::newRow("far server") << LanePace{380, 10, 400, 125} << true;
        QTest::newRow("far server, last few files") << LanePace{3, 390, 15000, 125} << false;
        QTest::newRow("exactly ten log-ins of work") << LanePace{10, 10, 1000, 100} << true;
        QTest::newRow("a log-in too fast to time") << LanePace{5, 1000, 100, 0} << false;
    }
    void oneMoreLogIn()
    {
        QFETCH(LanePace, pace);
        QFETCH(bool, pays);
        QCOMPARE(pace.oneMoreLogInPays(), pays);
    }
};

QTEST_GUILESS_MAIN(TestLanePace)
#include "tst_lanepace.moc"
