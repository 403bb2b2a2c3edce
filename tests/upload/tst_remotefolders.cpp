#include "ftpresult.h"
#include "scriptedsession.h"

#include <QTest>

using Access = classUploadTestAccess;

class TestRemoteFolders : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void walk_data();
    void walk();
    void refusedCreationNamesOnlyThatFolder();
    void createdButNotEnterable();
    void existingButNotEnterableIsCreatedAgain();
    void missingWithoutCreatingRecordsNothing();
    void lostConnectionIsNoFolderProblem_data();
    void lostConnectionIsNoFolderProblem();
    void cancelDuringTheQuerySendsNoChange();
    void cancelWhileClimbingStops();
    void failedClimbIsNotNoticed();
    void failedClimbCreatesNoFolder();
    void deeperThanSixteenLevels();
    void unknownCurrentFolderIsNoStartingPoint_data();
    void unknownCurrentFolderIsNoStartingPoint();
    void emptyCurrentFolderIsTheRoot();
    void baseFolder_data();
    void baseFolder();

private:
    std::unique_ptr<ScriptedSession> mSession;
    RecordingView *mView = nullptr;
    ScriptedFtp *mFtp = nullptr;
};

void TestRemoteFolders::init()
{
    mSession = std::make_unique<ScriptedSession>();
    mView = &mSession->view;
    mFtp = mSession->ftp;
}

void TestRemoteFolders::cleanup()
{
    mSession.reset();
}

void TestRemoteFolders::walk_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<bool>("createNew");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("finalFolder");

    const QStringList tree{"/a", "/a/b", "/a/b/c", "/a/x", "/a/x/c", "/Web", "/web"};
    QTest::newRow("already-there") << tree << "/a/b"
                                   << "/a/b" << true << QStringList{"PWD"} << true << "/a/b";
    QTest::newRow("already-there-other-separators")
        << tree << "/a/b"
        << "\\a\\\\b\\" << false << QStringList{"PWD"} << true << "/a/b";
    QTest::newRow("root-down-two")
        << tree << "/"
        << "/a/b" << false << QStringList{"PWD", "CWD a", "CWD b"} << true << "/a/b";
    QTest::newRow("up-two-down-one")
        << tree << "/a/b/c"
        << "/a/x" << false << QStringList{"PWD", "CWD ..", "CWD ..", "CWD x"} << true << "/a/x";
    QTest::newRow("up-one") << tree << "/a/b"
                            << "/a" << false << QStringList{"PWD", "CWD .."} << true << "/a";
    QTest::newRow("down-two") << tree << "/a"
                              << "/a/b/c" << false << QStringList{"PWD", "CWD b", "CWD c"} << true
                              << "/a/b/c";
    QTest::newRow("equal-names-below-difference-do-not-count")
        << tree << "/a/b/c"
        << "/a/x/c" << false << QStringList{"PWD", "CWD ..", "CWD ..", "CWD x", "CWD c"} << true
        << "/a/x/c";
    QTest::newRow("case-differs") << tree << "/Web"
                                  << "/web" << false << QStringList{"PWD", "CWD ..", "CWD web"}
                                  << true << "/web";
    QTest::newRow("up-to-root") << tree << "/a/b"
                                << "/" << false << QStringList{"PWD", "CWD ..", "CWD .."} << true
                                << "/";
    QTest::newRow("create-missing-levels")
        << tree << "/a"
        << "/a/n/m" << true
        << QStringList{"PWD", "CWD n", "MKD n", "CWD n", "CWD m", "MKD m", "CWD m"} << true
        << "/a/n/m";
    QTest::newRow("missing-without-creating")
        << tree << "/"
        << "/a/n/m" << false << QStringList{"PWD", "CWD a", "CWD n"} << false << "/a";
    QTest::newRow("dots-are-sent-as-names")
        << tree << "/"
        << "/a/.." << false << QStringList{"PWD", "CWD a", "CWD .."} << true << "/";
}

void TestRemoteFolders::walk()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, current);
    QFETCH(QString, wanted);
    QFETCH(bool, createNew);
    QFETCH(QStringList, requests);
    QFETCH(bool, result);
    QFETCH(QString, finalFolder);

    for (const QString &folder : existing)
        mFtp->folders.insert(folder);
    mFtp->cwd = current;
    QCOMPARE(Access::session().FTPSetCurrentDir(wanted, createNew), result);
    QCOMPARE(mFtp->log, requests);
    QCOMPARE(mFtp->cwd, finalFolder);
    QVERIFY(!Access::state().aborted);
    QCOMPARE(Access::state().errorId, 0);
}

void TestRemoteFolders::refusedCreationNamesOnlyThatFolder()
{
    mFtp->refuse.insert(QStringLiteral("MKD neu"), 20550);
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/neu/tief"), true));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "CWD neu", "MKD neu"}));
    QVERIFY(Access::state().aborted);
    QCOMPARE(Access::state().errorId, 2002);
    QCOMPARE(Access::state().errorText,
             QStringLiteral("Der Ordner \"neu\" konnte auf dem FTP-Server nicht angelegt werden."));
}

void TestRemoteFolders::createdButNotEnterable()
{
    // The first change fails because the folder is missing, the creation succeeds, the second
    // change is refused all the same.
    int attempts = 0;
    mFtp->onStarted = [&](const QString &request) {
        if (request == QLatin1String("CWD sperre") && ++attempts == 2)
            mFtp->refuse.insert(request, 20550);
    };
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/sperre"), true));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "CWD sperre", "MKD sperre", "CWD sperre"}));
    QCOMPARE(Access::state().errorId, 2003);
    QCOMPARE(Access::state().errorText,
             QStringLiteral("Es konnte nicht in den Ordner \"sperre\" gewechselt werden."));
}

void TestRemoteFolders::existingButNotEnterableIsCreatedAgain()
{
    mFtp->folders.insert(QStringLiteral("/zu"));
    mFtp->refuse.insert(QStringLiteral("CWD zu"), 20550);
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/zu"), true));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "CWD zu", "MKD zu"}));
    QCOMPARE(Access::state().errorId, 2002);
}

void TestRemoteFolders::missingWithoutCreatingRecordsNothing()
{
    Access::setErrorId(MessageId::TimedOut); // whatever was recorded stays
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/fehlt"), false));
    QVERIFY(!Access::state().aborted);
    QCOMPARE(Access::state().errorId, 2006);
}

void TestRemoteFolders::lostConnectionIsNoFolderProblem_data()
{
    QTest::addColumn<QString>("lostAt");
    QTest::addColumn<bool>("createNew");
    QTest::addColumn<QStringList>("requests");
    // The server went away (a reset, a restart, a reply that is no reply): the walk stops at once,
    // and the message says so instead of naming a folder the server never refused.
    QTest::newRow("query") << "PWD" << true << QStringList{"PWD"};
    QTest::newRow("change") << "CWD neu" << true << QStringList{"PWD", "CWD neu"};
    QTest::newRow("change-for-a-deletion") << "CWD neu" << false << QStringList{"PWD", "CWD neu"};
    QTest::newRow("creation") << "MKD neu" << true << QStringList{"PWD", "CWD neu", "MKD neu"};
}

void TestRemoteFolders::lostConnectionIsNoFolderProblem()
{
    QFETCH(QString, lostAt);
    QFETCH(bool, createNew);
    QFETCH(QStringList, requests);
    mFtp->refuse.insert(lostAt, FtpResult::ConnectionLost);
    mFtp->onStarted = [&](const QString &request) {
        if (request == lostAt)
            mFtp->connected = false;
    };
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/neu"), createNew));
    QCOMPARE(mFtp->log, requests);
    QCOMPARE(Access::state().errorId, 4070);
    QCOMPARE(Access::state().errorText,
             QStringLiteral("Die Verbindung zum FTP-Server \"\" wurde unterbrochen."));
}

void TestRemoteFolders::cancelDuringTheQuerySendsNoChange()
{
    mFtp->hang << QStringLiteral("PWD");
    mFtp->onStarted = [](const QString &) { Access::session().FTPCancel(); };
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/a"), true));
    QCOMPARE(mFtp->log, (QStringList{"ABOR", "PWD"}));
    QCOMPARE(Access::state().errorId, 2004);
}

void TestRemoteFolders::cancelWhileClimbingStops()
{
    mFtp->folders << "/a"
                  << "/a/b"
                  << "/x";
    mFtp->cwd = QStringLiteral("/a/b");
    mFtp->onStarted = [](const QString &request) {
        if (request == QLatin1String("CWD .."))
            Access::session().FTPCancel();
    };
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/x"), true));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "ABOR", "CWD .."}));
}

void TestRemoteFolders::failedClimbIsNotNoticed()
{
    mFtp->folders << "/a"
                  << "/b";
    mFtp->cwd = QStringLiteral("/a");
    mFtp->refuse.insert(QStringLiteral("CWD .."), 20550);
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/b"), false));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "CWD ..", "CWD b"}));
    QVERIFY(!Access::state().aborted);
}

void TestRemoteFolders::failedClimbCreatesNoFolder()
{
    // A server that says "450" to "CWD .." keeps the walk in /a/b; a folder "neu" created there
    // would be named in no upload log and stay on the server for good.
    mFtp->folders << "/a"
                  << "/a/b";
    mFtp->cwd = QStringLiteral("/a/b");
    mFtp->refuse.insert(QStringLiteral("CWD .."), 20450);
    QVERIFY(!Access::session().FTPSetCurrentDir(QStringLiteral("/a/neu"), true));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "CWD ..", "CWD neu"}));
    QCOMPARE(Access::state().errorId, 2003);
    QCOMPARE(Access::state().errorText,
             QStringLiteral("Es konnte nicht in den Ordner \"..\" gewechselt werden."));
}

void TestRemoteFolders::unknownCurrentFolderIsNoStartingPoint_data()
{
    QTest::addColumn<int>("refusals");
    QTest::addColumn<bool>("createNew");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<int>("errorId");
    // Once refused, the query is asked again; twice refused, the walk does not start from the
    // folder an earlier query named, where the server no longer stands.
    QTest::newRow("refused-once") << 1 << true << QStringList{"PWD", "PWD", "CWD b"} << 0;
    QTest::newRow("refused-twice-upload") << 2 << true << QStringList{"PWD", "PWD"} << 2003;
    QTest::newRow("refused-twice-deletion") << 2 << false << QStringList{"PWD", "PWD"} << 0;
}

void TestRemoteFolders::unknownCurrentFolderIsNoStartingPoint()
{
    QFETCH(int, refusals);
    QFETCH(bool, createNew);
    QFETCH(QStringList, requests);
    QFETCH(int, errorId);
    mFtp->folders << "/a"
                  << "/a/b";
    mFtp->QueryCurrentDirectory();
    Access::waitForCompletion();
    mFtp->cwd = QStringLiteral("/a");
    mFtp->log.clear();
    mFtp->refuse.insert(QStringLiteral("PWD"), 20550);
    mFtp->onStarted = [this, &refusals](const QString &request) {
        if (request == QLatin1String("PWD") && refusals-- == 0)
            mFtp->refuse.remove(request);
    };
    QCOMPARE(Access::session().FTPSetCurrentDir(QStringLiteral("/a/b"), createNew),
             requests.size() > 2);
    QCOMPARE(mFtp->log, requests);
    QCOMPARE(Access::state().errorId, errorId);
    if (errorId != 0)
        QCOMPARE(Access::state().errorText,
                 QStringLiteral("Es konnte nicht in den Ordner \"b\" gewechselt werden."));
}

void TestRemoteFolders::deeperThanSixteenLevels()
{
    QString wanted;
    QStringList expected{"PWD"};
    for (int level = 1; level <= 20; ++level) {
        wanted += QStringLiteral("/l%1").arg(level);
        expected << QStringLiteral("CWD l%1").arg(level) << QStringLiteral("MKD l%1").arg(level)
                 << QStringLiteral("CWD l%1").arg(level);
    }
    QVERIFY(Access::session().FTPSetCurrentDir(wanted, true));
    QCOMPARE(mFtp->log, expected);
    QCOMPARE(mFtp->cwd, wanted);

    // And back up from there to a sibling at level 18.
    mFtp->log.clear();
    const QString sibling =
        wanted.left(wanted.lastIndexOf(QStringLiteral("/l18"))) + QStringLiteral("/s");
    mFtp->folders.insert(sibling);
    QVERIFY(Access::session().FTPSetCurrentDir(sibling, false));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "CWD ..", "CWD ..", "CWD ..", "CWD s"}));
}

void TestRemoteFolders::emptyCurrentFolderIsTheRoot()
{
    mFtp->folders << "/a"
                  << "/a/b";
    mFtp->reportedCurrentDirectory = [] { return QString(); };
    QVERIFY(Access::session().FTPSetCurrentDir(QStringLiteral("/a/b"), false));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "CWD a", "CWD b"}));
}

void TestRemoteFolders::baseFolder_data()
{
    QTest::addColumn<QString>("loginFolder");
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("expected");
    QTest::newRow("relative") << "/home/u"
                              << "htdocs"
                              << "/home/u/htdocs";
    QTest::newRow("leading-slash") << "/home/u"
                                   << "/htdocs"
                                   << "/home/u/htdocs";
    QTest::newRow("leading-backslash") << "/home/u"
                                       << "\\htdocs"
                                       << "/home/u/htdocs";
    QTest::newRow("root-login") << "/"
                                << "htdocs"
                                << "/htdocs";
    QTest::newRow("empty-configured") << "/home/u"
                                      << ""
                                      << "/home/u/";
    QTest::newRow("server-reports-empty-folder") << ""
                                                 << "/htdocs"
                                                 << "/htdocs";
}

void TestRemoteFolders::baseFolder()
{
    QFETCH(QString, loginFolder);
    QFETCH(QString, configured);
    QFETCH(QString, expected);
    mFtp->reportedCurrentDirectory = [loginFolder] { return loginFolder; };
    Access::session().RemoteBaseDir(configured);
    Access::session().SetRemoteBaseDir();
    QCOMPARE(Access::state().remoteBaseDir, expected);
    QCOMPARE(mFtp->log, QStringList{"PWD"});
}

QTEST_GUILESS_MAIN(TestRemoteFolders)
#include "tst_remotefolders.moc"
