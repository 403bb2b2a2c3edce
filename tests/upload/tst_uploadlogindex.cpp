#include "linearlog.h"
#include "sessionaccess.h"

#include <QRandomGenerator>
#include <QTest>

using Access = classUploadTestAccess;

namespace {

const QStringList kExampleLog{"bilder\\icons\\", "pfeil.gif", "bilder\\", "logo.gif", "\\",
                              "index.html",      "style.css"};

void useLog(const QStringList &log)
{
    Access::fresh();
    for (const QString &line : log)
        Access::addLogEntry(line);
}

} // namespace

class TestUploadLogIndex : public QObject
{
    Q_OBJECT

private slots:
    void fileIsInLog_data();
    void fileIsInLog();
    void dirIsInLog_data();
    void dirIsInLog();
    void sameAnswersAsReadingTheList();
    void newLinesAreSeen();
    void replacedListIsSeen();
};

void TestUploadLogIndex::fileIsInLog_data()
{
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("myDir");
    QTest::addColumn<QString>("myFilename");
    QTest::addColumn<bool>("expected");

    QTest::newRow("file-in-its-block") << kExampleLog << "bilder\\"
                                       << "logo.gif" << true;
    QTest::newRow("file-of-another-block") << kExampleLog << "bilder\\"
                                           << "pfeil.gif" << false;
    QTest::newRow("empty-folder-example") << kExampleLog << ""
                                          << "index.html" << false;
    QTest::newRow("folder-case-differs") << kExampleLog << "Bilder\\"
                                         << "logo.gif" << false;
    QTest::newRow("file-case-differs") << kExampleLog << "bilder\\"
                                       << "Logo.gif" << false;
    QTest::newRow("site-folder-block") << kExampleLog << "\\"
                                       << "style.css" << true;
    QTest::newRow("nested-block") << kExampleLog << "bilder\\icons\\"
                                  << "pfeil.gif" << true;
    QTest::newRow("folder-without-backslash") << kExampleLog << "bilder"
                                              << "logo.gif" << false;
    QTest::newRow("folder-line-as-name") << kExampleLog << "\\"
                                         << "bilder\\" << false;
    QTest::newRow("lines-before-first-folder") << QStringList{"orphan.html", "a\\", "x"} << ""
                                               << "orphan.html" << true;
    QTest::newRow("empty-folder-ends-at-first-folder-line")
        << QStringList{"orphan.html", "a\\", "x"} << ""
        << "x" << false;
    QTest::newRow("folder-line-twice-first-block")
        << QStringList{"a\\", "x", "b\\", "y", "a\\", "z"} << "a\\"
        << "x" << true;
    QTest::newRow("folder-line-twice-second-block")
        << QStringList{"a\\", "x", "b\\", "y", "a\\", "z"} << "a\\"
        << "z" << true;
    QTest::newRow("folder-line-twice-not-between")
        << QStringList{"a\\", "x", "b\\", "y", "a\\", "z"} << "a\\"
        << "y" << false;
    QTest::newRow("empty-log") << QStringList{} << ""
                               << "x" << false;
}

void TestUploadLogIndex::fileIsInLog()
{
    QFETCH(QStringList, log);
    QFETCH(QString, myDir);
    QFETCH(QString, myFilename);
    QFETCH(bool, expected);

    useLog(log);
    QCOMPARE(Access::session().FileIsInLog(myDir, myFilename), expected);
}

void TestUploadLogIndex::dirIsInLog_data()
{
    QTest::addColumn<QString>("myDir");
    QTest::addColumn<bool>("expected");

    QTest::newRow("argument-lower-cased") << "Bilder\\" << true;
    QTest::newRow("no-trailing-backslash") << "bilder" << false;
    QTest::newRow("nested") << "bilder\\icons\\" << true;
    QTest::newRow("site-folder") << "\\" << true;
    QTest::newRow("part-of-a-folder-line") << "icons\\" << false;
    QTest::newRow("file-line-never-compared") << "index.html" << false;
    QTest::newRow("empty") << "" << false;
}

void TestUploadLogIndex::dirIsInLog()
{
    QFETCH(QString, myDir);
    QFETCH(bool, expected);

    useLog(kExampleLog);
    QCOMPARE(Access::session().DirIsInLog(myDir), expected);
}

// Logs and questions drawn from a small set of lines, so that repeated folder lines, blocks before
// the first folder line, empty lines and case differences come up often.
void TestUploadLogIndex::sameAnswersAsReadingTheList()
{
    const QStringList pieces{"a",  "b", "A",      "a\\",  "b\\",    "A\\",
                             "\\", "",  "x\\y\\", "x\\y", "c.html", "\\\\"};
    QRandomGenerator random(20240611);
    const auto pick = [&] { return pieces.at(random.bounded(int(pieces.size()))); };

    for (int round = 0; round < 300; ++round) {
        QStringList log;
        const int lines = random.bounded(25);
        for (int i = 0; i < lines; ++i)
            log << pick();
        Access::fresh();
        Access::replaceLogList(log);

        for (int question = 0; question < 40; ++question) {
            const QString myDir = pick();
            const QString name = pick();
            QVERIFY2(Access::session().FileIsInLog(myDir, name) ==
                         LinearFileIsInLog(log, myDir, name),
                     qPrintable(QStringLiteral("log %1, folder '%2', name '%3'")
                                    .arg(log.join(QLatin1Char('|')), myDir, name)));
            QVERIFY2(
                Access::session().DirIsInLog(myDir) == LinearDirIsInLog(log, myDir),
                qPrintable(
                    QStringLiteral("log %1, folder '%2'").arg(log.join(QLatin1Char('|')), myDir)));
        }
    }
}

// A look-up before the list is complete must not keep the answer from the shorter list.
void TestUploadLogIndex::newLinesAreSeen()
{
    useLog({"\\", "a.html"});
    QVERIFY(!Access::session().FileIsInLog(QStringLiteral("\\"), QStringLiteral("b.html")));
    QVERIFY(!Access::session().DirIsInLog(QStringLiteral("sub\\")));
    Access::addLogEntry(QStringLiteral("B.html"));
    Access::addLogEntry(QStringLiteral("Sub\\"));
    QVERIFY(Access::session().FileIsInLog(QStringLiteral("\\"), QStringLiteral("b.html")));
    QVERIFY(Access::session().DirIsInLog(QStringLiteral("sub\\")));
}

void TestUploadLogIndex::replacedListIsSeen()
{
    useLog({"\\", "a.html"});
    QVERIFY(Access::session().FileIsInLog(QStringLiteral("\\"), QStringLiteral("a.html")));
    Access::replaceLogList({QStringLiteral("\\"), QStringLiteral("c.html")});
    QVERIFY(!Access::session().FileIsInLog(QStringLiteral("\\"), QStringLiteral("a.html")));
    QVERIFY(Access::session().FileIsInLog(QStringLiteral("\\"), QStringLiteral("c.html")));
}

QTEST_GUILESS_MAIN(TestUploadLogIndex)
#include "tst_uploadlogindex.moc"
