#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "lanepace.h"
#include "pathhelpers.h"
#include "stringtable.h"
#include "uploadorder.h"

#include <QDateTime>
#include <algorithm>
#include <vector>

// Uploads over several connections at once. A serial client waits a round trip for every reply
// and a new data connection per file; a server 20 to 100 ms away leaves it idle most of the time.
// Several connections, each working through the same ordered list, keep the line busy. Shared
// hosts limit connections per account or address and answer one more log-in with a refusal: that
// is the host's limit, not a failure, and is remembered for the destination.

namespace {

// Four, as most sync tools open by default; more gains little on a typical host and meets its
// limit sooner.
constexpr int kDefaultConnections = 4;
constexpr int kMostConnections = 10;
// A destination that refused one more connection is asked again for one more after a week: its
// host may have raised the limit, or the refusal may have been a busy moment.
constexpr qint64 kRetryLimitAfterSeconds = 7 * 24 * 60 * 60;

} // namespace

void classUpload::FTPConnections(qint32 myConnections)
{
    mSettings.mConnections = std::clamp(myConnections, 0, kMostConnections);
}

int classUpload::ConnectionsForThisRun()
{
    int wanted = mSettings.mConnections > 0 ? mSettings.mConnections : kDefaultConnections;
    if (wanted <= 1)
        return 1;
    if (const auto limit = markers().connectionLimit(); limit && limit->connections < wanted) {
        const qint64 age = QDateTime::currentSecsSinceEpoch() - limit->notedAt;
        wanted =
            age >= kRetryLimitAfterSeconds || age < 0 ? limit->connections + 1 : limit->connections;
    }
    return wanted;
}

QString classUpload::RemoteFolderOf(const UploadItem &item) const
{
    return ToRemoteSlashes(
        JoinRemotePath(mSettings.mRemoteBaseDir, SplitPathAndFileName(item.Path).DirName));
}

void classUpload::UploadSideBySide(int connections)
{
    mLanes = LaneSchedule{};
    mLanes.wanted = connections;
    mLanes.byPath = true;
    mLanes.takeable = mQueue.mUploadCount;
    if (mLanes.takeable > 0 && IsUploadLog(mQueue.mUploadList.at(mLanes.takeable - 1).Path))
        --mLanes.takeable;
    for (qint32 i = 0; i < mLanes.takeable; ++i)
        mLanes.assetsLeft += IsPage(mQueue.mUploadList.at(i).Path) ? 0 : 1;

    FtpComponentHost &host = ftpHost();
    for (int connection = 1; connection < connections; ++connection) {
        std::unique_ptr<FtpControl> further = ftp().makeFurtherConnection();
        if (!further)
            break;
        further->setDownloadLimit(LargestUploadLog);
        host.addComponent(std::move(further));
    }
    mWait.mFurtherTicks.fill(0);
    mLanes.running = true;
    mLanes.started.start();
    DebugNote(
        ResourceString(MessageId::UploadingSideBySide, {QString::number(host.connectionCount())}));

    // Files arrive by the hundred a second on a near server; their records go to the disk
    // together (see ChangeMarkerStore::holdCommits).
    markers().holdCommits(true);
    std::vector<AsyncStep<void>> lanes;
    for (int connection = 0; connection < host.connectionCount(); ++connection)
        lanes.push_back(LaneOn(connection));
    for (AsyncStep<void> &lane : lanes)
        lane.start();
    // A failure of one file lets the transfers under way on the others end, so that their files
    // are either on the server and marked, or not; the user's cancellation and the watchdog end
    // every one at once.
    WaitForCompletion(
        [&lanes] {
            return std::all_of(lanes.cbegin(), lanes.cend(),
                               [](const AsyncStep<void> &lane) { return lane.done(); });
        },
        false);
    lanes.clear();
    markers().holdCommits(false);
    mLanes.loggingIn = 0;
    mLanes.running = false;
    // The server's slots are given back before the upload log goes, on the first connection.
    host.removeFurtherComponents();

    // What the host took is remembered only when it was put to the test: a refusal, or every
    // connection asked for logged in.
    if (mLanes.refused) {
        markers().rememberConnectionLimit(mLanes.loggedIn, QDateTime::currentSecsSinceEpoch());
    } else if (mLanes.loggedIn == connections && markers().connectionLimit()) {
        const int asked = mSettings.mConnections > 0 ? mSettings.mConnections : kDefaultConnections;
        markers().rememberConnectionLimit(connections >= asked ? std::nullopt
                                                               : std::optional<int>(connections),
                                          QDateTime::currentSecsSinceEpoch());
    }
}

AsyncStep<void> classUpload::LaneOn(int connection)
{
    ConnectionWait &wait = ftpHost().wait(connection);
    if (connection == 0) {
        co_await PrepareFoldersOn(0);
    } else {
        // One log-in after another, each after the one before it succeeded: a host that counts
        // log-ins at once, or a firewall that counts new connections, sees them one by one.
        while (Outcome() && !mLanes.loginsEnded && mLanes.loggedIn < connection) {
            ConnectionWait::Pause turn(wait);
            co_await turn;
        }
        if (!Outcome() || mLanes.loginsEnded)
            co_return;
        // Another connection only pays while more than one file is still waiting, and while
        // they would keep it at work for a while.
        if (mLanes.takeable - mLanes.next <= 1 || !FurtherLogInPays()) {
            mLanes.loginsEnded = true;
            WakeLanes();
            co_return;
        }
        mLanes.loggingIn = connection;
        QElapsedTimer logIn;
        logIn.start();
        const bool loggedIn = co_await LogInFurtherOn(connection);
        mLanes.lastLogInMs = logIn.elapsed();
        mLanes.loggingIn = 0;
        if (!loggedIn) {
            mLanes.loginsEnded = true;
            WakeLanes();
            co_return;
        }
        ++mLanes.loggedIn;
        WakeLanes();
    }

    while (Outcome()) {
        const std::optional<qint32> taken = TakeNextFile();
        if (!taken) {
            if (mLanes.next >= mLanes.takeable)
                break;
            ConnectionWait::Pause fileReady(wait);
            co_await fileReady;
            continue;
        }
        const UploadItem item = mQueue.mUploadList.at(*taken);
        // A file that did not get there, or the run stopped elsewhere: the others stop taking
        // files.
        if (const StepOutcome sent = co_await SendFileOn(connection, item.Path, item.NativePath);
            !sent) {
            WakeLanes();
            co_return;
        }
        if (!IsPage(item.Path))
            --mLanes.assetsLeft;
        CountFileDone(item);
        ++mLanes.sent;
        WakeLanes();
    }
    WakeLanes();
}

bool classUpload::FurtherLogInPays()
{
    const LanePace pace{mLanes.takeable - mLanes.next, mLanes.sent, mLanes.started.elapsed(),
                        mLanes.lastLogInMs};
    if (pace.oneMoreLogInPays())
        return true;
    DebugNote(ResourceString(MessageId::FurtherConnectionsNotWorthIt,
                             {QString::number(mLanes.loggedIn), QString::number(pace.msLeft()),
                              QString::number(mLanes.lastLogInMs)}));
    return false;
}

AsyncStep<void> classUpload::PrepareFoldersOn(int connection)
{
    for (qint32 i = 0; i < mLanes.takeable && Outcome(); ++i) {
        const QString folder = RemoteFolderOf(mQueue.mUploadList.at(i));
        if (mLanes.readyFolders.contains(folder))
            continue;
        const QString down =
            RemotePathDown(SplitPathAndFileName(mQueue.mUploadList.at(i).Path).DirName);
        bool ready = false;
        if (mLanes.byPath && !down.isEmpty())
            ready = co_await ReachByPathOn(connection, down);
        if (!Outcome())
            co_return;
        if (!ready) {
            const FolderWalk walk = co_await SetCurrentDirOn(connection, folder, true);
            if (!walk.run)
                co_return;
            ready = walk.entered;
        }
        if (!ready)
            co_return;
        mLanes.readyFolders.insert(folder);
        WakeLanes();
    }
}

AsyncStep<bool> classUpload::ReachByPathOn(int connection, QString down)
{
    // From the base folder, as the server names it: a folder that is there takes one CWD, and the
    // next folder's walk climbs back after a PWD; a new one takes a CWD and a MKD, and the walk
    // stays where it is. The walk down name by name, creating each, would take five.
    const FolderWalk atBase = co_await SetCurrentDirOn(connection, mSettings.mRemoteBaseDir, false);
    if (!atBase.entered || !atBase.run)
        co_return false;
    const RequestOutcome into = co_await ChangeDirOn(connection, down);
    if (into.succeeded() || !into.isCompleted() || !Outcome())
        co_return into.succeeded();
    // A missing folder above it, or a server that takes no path here: the walk finds out which,
    // and says so.
    std::function<void(FtpControl &)> create = [&down](FtpControl &ftp) {
        ftp.CreateDirectory(down);
    };
    const RequestOutcome creation = co_await Request(connection, create);
    if (creation.isCompleted() && !creation.succeeded())
        RecordIfConnectionLost(connection);
    co_return creation.succeeded();
}

AsyncStep<bool> classUpload::LogInFurtherOn(int connection)
{
    std::function<void(FtpControl &)> connect = [](FtpControl &ftp) { ftp.Connect(); };
    const RequestOutcome login = co_await Request(connection, connect);
    if (login.succeeded())
        co_return true;
    // Refused, reset, timed out or cut short: the host's limit, most likely. The run goes on with
    // the connections it has; which ones worked is remembered for the destination.
    if (login.isCompleted() && Outcome()) {
        mLanes.refused = true;
        DebugNote(ResourceString(MessageId::FurtherConnectionRefused,
                                 {QString::number(connection + 1), QString::number(login.result()),
                                  QString::number(mLanes.loggedIn)}));
    }
    co_return false;
}

std::optional<qint32> classUpload::TakeNextFile()
{
    if (mLanes.next >= mLanes.takeable)
        return std::nullopt;
    const UploadItem &item = mQueue.mUploadList.at(mLanes.next);
    if (IsPage(item.Path) && mLanes.assetsLeft > 0)
        return std::nullopt;
    if (!mLanes.readyFolders.contains(RemoteFolderOf(item)))
        return std::nullopt;
    return mLanes.next++;
}

void classUpload::WakeLanes()
{
    FtpComponentHost &host = ftpHost();
    for (int connection = 0; connection < host.connectionCount(); ++connection)
        host.wait(connection).wake();
}
