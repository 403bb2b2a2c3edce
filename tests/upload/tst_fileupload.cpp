#include "scriptedsession.h"
#include "timeofday.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Access = classUploadTestAccess;

class TestFileUpload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void filesGoToTheirMirroredFolders();
    void emptyListTouchesNothing();
    void thirdOfFiveFails();
    void refusedStartIsAFailure();
    void cancelDuringTransferCountsNothing();
    void folderFailureStopsTheLoop();
    void remainingTime_data();
    void remainingTime();
    void onlyEmptyFilesLeaveTheBarAlone();
    void runAcrossMidnight();
    void replacementNeedsTheWholeFile_data();
    void replacementNeedsTheWholeFile();

private:
    void queue(const QString &path, qint64 size, const QString &localPath = QString());
    std::unique_ptr<QTemporaryDir> mSite;
    std::unique_ptr<ScriptedSession> mSession;
    RecordingView *mView = nullptr;
    ScriptedFtp *mFtp = nullptr;
    double mClock = 0;
};

void TestFileUpload::init()
{
    mSite = std::make_unique<QTemporaryDir>();
    mSession = std::make_unique<ScriptedSession>();
    mView = &mSession->view;
    mFtp = mSession->ftp;
    Access::session().LocalBaseDir(mSite->path());
    mSession->publishToBaseFolder();
    mClock = 1000.0;
    SetTimeOfDaySource([this] { return mClock; });
}

void TestFileUpload::cleanup()
{
    SetTimeOfDaySource({});
    mSession.reset();
    mSite.reset();
}

// Queues a file as the scan would, writing it into the site folder with the given size.
void TestFileUpload::queue(const QString &path, qint64 size, const QString &localPath)
{
    const QString real = localPath.isEmpty() ? path : localPath;
    const QString native = mSite->path() + QLatin1Char('/') +
                           QString(real).replace(QLatin1Char('\\'), QLatin1Char('/'));
    QDir().mkpath(QFileInfo(native).path());
    QFile file(native);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'x'));
    file.close();
    Access::addUploadFile(path, real);
}

void TestFileUpload::filesGoToTheirMirroredFolders()
{
    queue(QStringLiteral("sub\\deep\\page.html"), 3, QStringLiteral("Sub\\Deep\\Page.HTML"));
    queue(QStringLiteral("page.html"), 2);
    Access::session().FTPUploadFiles();

    QCOMPARE(mFtp->log,
             (QStringList{"PWD", "CWD home", "CWD u", "CWD htdocs", "CWD sub", "MKD sub", "CWD sub",
                          "CWD deep", "MKD deep", "CWD deep", "STOR page.html", "PWD", "CWD ..",
                          "CWD ..", "STOR page.html"}));
    QCOMPARE(mView->fileTexts,
             (QStringList{"/home/u/htdocs/sub/deep/page.html", "/home/u/htdocs/page.html"}));
    QCOMPARE(mView->caption(ViewLabel::labelFile), QStringLiteral("Übertrage Datei:"));
    // The file on disk is read by its real name; the server gets the lower-case one.
    QCOMPARE(mFtp->localPaths,
             (QStringList{mSite->path() + "/Sub/Deep/Page.HTML", mSite->path() + "/page.html"}));
    QCOMPARE(mFtp->files.value("/home/u/htdocs/sub/deep/page.html"), QByteArray("xxx"));
    QCOMPARE(Access::state().filesDone, 2);
    QCOMPARE(Access::state().bytesDone, 5.0);
    QCOMPARE(mView->progress, 100.0f);
    QCOMPARE(mView->caption(ViewLabel::labelTime), QStringLiteral("Restdauer: beinahe fertig"));
}

void TestFileUpload::emptyListTouchesNothing()
{
    mClock = 4242.4;
    Access::session().FTPUploadFiles();
    QVERIFY(mFtp->log.isEmpty());
    QVERIFY(mView->captions.isEmpty());
    QVERIFY(mView->fileTexts.isEmpty());
    QCOMPARE(Access::state().startTime, 4242);
}

void TestFileUpload::thirdOfFiveFails()
{
    for (int i = 1; i <= 5; ++i)
        queue(QStringLiteral("f%1.html").arg(i), 10);
    mFtp->refuse.insert(QStringLiteral("STOR f3.html"), 20553);
    Access::session().FTPUploadFiles();

    QVERIFY(Access::state().aborted);
    QCOMPARE(Access::state().errorId, 2001);
    QCOMPARE(
        Access::state().errorText,
        QStringLiteral("Die Datei \"f3.html\" konnte nicht auf den FTP-Server übertragen werden."));
    QCOMPARE(Access::state().filesDone, 2);
    QCOMPARE(Access::state().bytesDone, 20.0);
    QVERIFY(!mFtp->log.contains(QStringLiteral("STOR f4.html")));
    QVERIFY(!mFtp->log.contains(QStringLiteral("STOR f5.html")));
    QCOMPARE(mView->progress, 40.0f);
}

void TestFileUpload::refusedStartIsAFailure()
{
    queue(QStringLiteral("a.html"), 1);
    mFtp->raise << QStringLiteral("STOR a.html");
    Access::session().FTPUploadFiles();
    QCOMPARE(Access::state().errorId, 2001);
    QCOMPARE(Access::state().filesDone, 0);
}

void TestFileUpload::cancelDuringTransferCountsNothing()
{
    queue(QStringLiteral("a.html"), 10);
    queue(QStringLiteral("b.html"), 10);
    mFtp->hang << QStringLiteral("STOR b.html");
    mFtp->onStarted = [](const QString &request) {
        if (request == QLatin1String("STOR b.html"))
            QTimer::singleShot(0, [] { Access::session().FTPCancel(); });
    };
    Access::session().FTPUploadFiles();
    QCOMPARE(Access::state().errorId, 2004);
    QCOMPARE(Access::state().filesDone, 1);
    QCOMPARE(Access::state().bytesDone, 10.0);
    QCOMPARE(mFtp->log.last(), QStringLiteral("ABOR"));
}

void TestFileUpload::folderFailureStopsTheLoop()
{
    queue(QStringLiteral("neu\\a.html"), 1);
    queue(QStringLiteral("b.html"), 1);
    mFtp->refuse.insert(QStringLiteral("MKD neu"), 20550);
    Access::session().FTPUploadFiles();
    QCOMPARE(Access::state().errorId, 2002);
    QCOMPARE(Access::state().filesDone, 0);
    QVERIFY(!mFtp->log.contains(QStringLiteral("STOR a.html")));
    QVERIFY(!mFtp->log.contains(QStringLiteral("STOR b.html")));
}

void TestFileUpload::remainingTime_data()
{
    QTest::addColumn<qint64>("secondSize");
    QTest::addColumn<QString>("afterFirst");
    // The first file of 1000 bytes takes one second, so the estimate is one second per 1000 bytes
    // left.
    QTest::newRow("9.9-seconds-is-nearly-done") << qint64(9900) << "Restdauer: beinahe fertig";
    QTest::newRow("125-seconds-cut-to-120") << qint64(125000) << "Restdauer: 2 Minuten ";
    QTest::newRow("10-seconds") << qint64(10000) << "Restdauer: 10 Sekunden";
    QTest::newRow("61-seconds") << qint64(61000) << "Restdauer: 1 Minute ";
}

void TestFileUpload::remainingTime()
{
    QFETCH(qint64, secondSize);
    QFETCH(QString, afterFirst);
    // Neither is a page, so they go in the order queued.
    queue(QStringLiteral("first.css"), 1000);
    queue(QStringLiteral("second.bin"), secondSize);
    mFtp->onCompleted = [this](const QString &request) {
        if (request.startsWith(QLatin1String("STOR")))
            mClock += 1.0;
    };
    Access::session().FTPUploadFiles();
    QCOMPARE(mView->timeTexts, (QStringList{afterFirst, "Restdauer: beinahe fertig"}));
}

void TestFileUpload::onlyEmptyFilesLeaveTheBarAlone()
{
    queue(QStringLiteral("leer1.html"), 0);
    queue(QStringLiteral("leer2.html"), 0);
    mView->progress = -1;
    Access::session().FTPUploadFiles();
    QCOMPARE(Access::state().filesDone, 2);
    QCOMPARE(mView->progress, -1.0f); // 0 / 0 is not a percentage
    QCOMPARE(mView->timeTexts,
             (QStringList{"Restdauer: beinahe fertig", "Restdauer: beinahe fertig"}));
}

void TestFileUpload::runAcrossMidnight()
{
    // Started a second before midnight; each file takes a second, so the elapsed time must grow
    // across midnight instead of going negative.
    mClock = 86399.0;
    queue(QStringLiteral("a.bin"), 1000);
    queue(QStringLiteral("b.bin"), 1000);
    queue(QStringLiteral("c.bin"), 30000);
    mFtp->onCompleted = [this](const QString &request) {
        if (request.startsWith(QLatin1String("STOR"))) {
            mClock += 1.0;
            if (mClock >= 86400.0)
                mClock -= 86400.0;
        }
    };
    Access::session().FTPUploadFiles();
    // After a: 1 s for 1000 bytes, 31000 bytes left. After b: 2 s for 2000 bytes, 30000 bytes left.
    QCOMPARE(mView->timeTexts, (QStringList{"Restdauer: 30 Sekunden", "Restdauer: 30 Sekunden",
                                            "Restdauer: beinahe fertig"}));
}

namespace {

// What a replacement meets that a real server does not produce on demand.
enum class Meets {
    ShortFileAfterTransfer, // the server confirms the transfer, and SIZE names fewer bytes
    LeftoverOfDeletedFile,  // a killed run left a temporary file of a file deleted since
    ForeignNameNoted,       // the store notes a name of a shape this program never makes
};

} // namespace

void TestFileUpload::replacementNeedsTheWholeFile_data()
{
    QTest::addColumn<int>("meets");
    QTest::addColumn<int>("errorId");
    QTest::addColumn<QString>("deleted"); // the DELE sent, if any
    QTest::newRow("short-file-not-put-in-place")
        << int(Meets::ShortFileAfterTransfer) << 2001 << "";
    QTest::newRow("leftover-deleted-in-its-folder")
        << int(Meets::LeftoverOfDeletedFile) << 0 << "DELE .parcelup-00000000000000aa";
    QTest::newRow("foreign-name-never-deleted") << int(Meets::ForeignNameNoted) << 0 << "";
}

void TestFileUpload::replacementNeedsTheWholeFile()
{
    QFETCH(int, meets);
    QFETCH(int, errorId);
    QFETCH(QString, deleted);
    const QString live = ScriptedSession::BaseFolder + QStringLiteral("/bild.png");
    mFtp->files.insert(live, "old");
    queue(QStringLiteral("bild.png"), 5);
    const QString local = mSite->path() + QStringLiteral("/bild.png");
    ChangeMarkerStore &markers = Access::markers();
    // Uploaded before, in another state: a replacement.
    markers.clearMarker(local, {1, 1, 1, 1});
    const QString gone = mSite->path() + QStringLiteral("/alt.png");
    const auto note = [&](const QString &name) {
        mFtp->files.insert(ScriptedSession::BaseFolder + u'/' + name, "half");
        QVERIFY(markers.recordPending(gone, {ScriptedSession::BaseFolder, name, {9, 9, 9, 9}}));
    };
    if (Meets(meets) == Meets::ShortFileAfterTransfer)
        mFtp->onCompleted = [this](const QString &request) {
            if (request.startsWith(QLatin1String("STOR .parcelup-")))
                mFtp->files[mFtp->absolute(request.mid(5))].chop(1);
        };
    if (Meets(meets) == Meets::LeftoverOfDeletedFile)
        note(QStringLiteral(".parcelup-00000000000000aa"));
    if (Meets(meets) == Meets::ForeignNameNoted)
        note(QStringLiteral(".htaccess"));

    Access::session().FTPUploadFiles();
    QCOMPARE(Access::state().errorId, errorId);
    // Put in place only whole; the live file is never the half one.
    QCOMPARE(mFtp->files.value(live), errorId == 0 ? QByteArray("xxxxx") : QByteArray("old"));
    QVERIFY2(mFtp->log.filter(QRegularExpression(QStringLiteral("^DELE"))) ==
                 (deleted.isEmpty() ? QStringList() : QStringList{deleted}),
             qPrintable(mFtp->log.join(QLatin1Char(' '))));
    // Whatever became of it, the note is not acted on again.
    QVERIFY(!markers.pendingUpload(gone));
    if (Meets(meets) == Meets::ForeignNameNoted)
        QVERIFY(mFtp->files.contains(ScriptedSession::BaseFolder + QStringLiteral("/.htaccess")));
}

QTEST_GUILESS_MAIN(TestFileUpload)
#include "tst_fileupload.moc"
