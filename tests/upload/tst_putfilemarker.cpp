#include "changemarkerstore.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "recordingview.h"
#include "sessionaccess.h"
#include "sitetree.h"
#include "userfolders.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <utility>

namespace {

// A component whose transfers end as the test says, a moment after they start, like a server's
// answer arriving through the event loop.
class ScriptedTransfer : public FtpControl
{
public:
    qint16 outcome = 0;
    bool refuseToStart = false;
    std::function<void()> whileTransferring;
    QStringList sent;

    qint16 result() const override { return mResult; }
    // One scripted connection: the run uploads over it alone.
    std::unique_ptr<FtpControl> makeFurtherConnection() const override { return nullptr; }

    void PutFile(const QString &localPath, const QString &remoteFileName,
                 FtpSentBytesWatcher /*watchSent*/ = {}) override
    {
        if (refuseToStart)
            throw FtpError(1, QStringLiteral("busy"));
        sent << localPath + QStringLiteral(" -> ") + remoteFileName;
        const quint64 number = beginRequestNumber();
        QTimer::singleShot(0, this, [this, number] {
            if (whileTransferring)
                whileTransferring();
            mResult = outcome;
            emit OperationComplete(0, mResult, QString(), number);
        });
    }

private:
    qint16 mResult = 0;
};

enum class Transfer {
    Confirmed,
    Failed,
    RefusedToStart,
    Cancelled,
    // The file is written during every transfer, as a file that never holds still.
    FileWrittenMeanwhile,
};

} // namespace

Q_DECLARE_METATYPE(Transfer)

class TestPutFileMarker : public QObject
{
    Q_OBJECT

private slots:
    void markerAfterTransfer_data();
    void markerAfterTransfer();
    void fileWrittenOnceIsSentAgain();
};

void TestPutFileMarker::markerAfterTransfer_data()
{
    QTest::addColumn<Transfer>("transfer");
    QTest::addColumn<bool>("marked");
    QTest::addColumn<int>("errorId");

    QTest::newRow("confirmed-clears") << Transfer::Confirmed << false << 0;
    QTest::newRow("failed-keeps") << Transfer::Failed << true << 2001;
    QTest::newRow("refused-keeps") << Transfer::RefusedToStart << true << 2001;
    QTest::newRow("cancelled-keeps") << Transfer::Cancelled << true << 2004;
    // Sent again each time, and reported once the attempts are used up: a run that said "success"
    // would leave a stale copy on the server.
    QTest::newRow("written-meanwhile-keeps") << Transfer::FileWrittenMeanwhile << true << 2001;
}

void TestPutFileMarker::markerAfterTransfer()
{
    QFETCH(Transfer, transfer);
    QFETCH(bool, marked);
    QFETCH(int, errorId);

    IsolatedUserFolders userFolders;
    QTemporaryDir site;
    WriteSiteFile(site.path(), QStringLiteral("Page.html"), "version 1");
    const QString localFile = site.path() + QStringLiteral("/Page.html");
    // The tick of the write must have passed, or no upload could clear the marker.
    QVERIFY(SettledIdentity(localFile));

    auto component = std::make_unique<ScriptedTransfer>();
    ScriptedTransfer &ftp = *component;
    RecordingView view;
    classUpload &session = classUploadTestAccess::fresh();
    session.useFtpComponent(std::move(component));
    view.install();
    classUploadTestAccess::session().LocalBaseDir(site.path());

    ftp.outcome = transfer == Transfer::Failed ? 20550 : 0;
    ftp.refuseToStart = transfer == Transfer::RefusedToStart;
    if (transfer == Transfer::Cancelled)
        ftp.whileTransferring = [&session] { session.FTPCancel(); };
    int version = 1;
    if (transfer == Transfer::FileWrittenMeanwhile)
        ftp.whileTransferring = [&] {
            WriteSiteFile(site.path(), QStringLiteral("Page.html"),
                          "version " + QByteArray::number(++version));
        };

    classUploadTestAccess::putFile(localFile, QStringLiteral("page.html"));

    QCOMPARE(classUploadTestAccess::state().errorId, errorId);
    const auto identity = SettledIdentity(localFile);
    QVERIFY(identity);
    QCOMPARE(classUploadTestAccess::markers().isMarked(localFile, *identity), marked);
    if (transfer == Transfer::FileWrittenMeanwhile)
        QCOMPARE(ftp.sent.size(), 3);
    classUploadTestAccess::fresh();
}

void TestPutFileMarker::fileWrittenOnceIsSentAgain()
{
    IsolatedUserFolders userFolders;
    QTemporaryDir site;
    WriteSiteFile(site.path(), QStringLiteral("Page.html"), "version 1");
    const QString localFile = site.path() + QStringLiteral("/Page.html");
    QVERIFY(SettledIdentity(localFile));

    auto component = std::make_unique<ScriptedTransfer>();
    ScriptedTransfer &ftp = *component;
    RecordingView view;
    classUploadTestAccess::fresh().useFtpComponent(std::move(component));
    view.install();
    classUploadTestAccess::session().LocalBaseDir(site.path());
    // Written while the first copy is on its way; the second goes through untouched.
    bool written = false;
    ftp.whileTransferring = [&] {
        if (!std::exchange(written, true))
            WriteSiteFile(site.path(), QStringLiteral("Page.html"), "version 2, longer");
    };

    classUploadTestAccess::putFile(localFile, QStringLiteral("page.html"));

    QCOMPARE(classUploadTestAccess::state().errorId, 0);
    QCOMPARE(ftp.sent.size(), 2);
    classUploadTestAccess::fresh();
}

QTEST_GUILESS_MAIN(TestPutFileMarker)
#include "tst_putfilemarker.moc"
