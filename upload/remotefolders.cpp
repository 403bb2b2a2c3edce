#include "classupload.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "pathhelpers.h"

// The session never jumps to an absolute remote folder. Some servers present a chrooted or virtual
// tree in which absolute paths do not mean what they seem; relative steps from the folder the
// server reports work on all of them. Every walk therefore asks for the current folder, climbs with
// ".." as far as the two paths differ and descends one name at a time.

QString classUpload::FTPGetCurrentDir()
{
    try {
        ftp().QueryCurrentDirectory();
    } catch (const FtpError &) {
        // Only a component still busy with a request that a cancellation or the watchdog gave up
        // refuses the query; the run is stopping then, and an empty folder makes every walk end.
        if (!mFailure.mAborted)
            RecordFailure(MessageId::ConnectionFailed, ftp().host());
        return QString();
    }
    WaitForCompletion();
    const std::optional<qint16> result = CompletedResult(true);
    if (mFailure.mAborted || !result)
        return QString();
    if (*result != 0 && RecordIfConnectionLost())
        return QString();
    return ftp().currentDirectory();
}

bool classUpload::FTPChangeDir(const QString &myDirName)
{
    bool started = true;
    try {
        ftp().ChangeDirectory(myDirName);
    } catch (const FtpError &) {
        // Not reported: the callers decide what a failed change means, and the wait below still
        // ends through cancellation or the watchdog.
        started = false;
    }
    WaitForCompletion();
    const std::optional<qint16> result = CompletedResult(started);
    mLastChangeDirResult = result.value_or(0);
    if (result && *result != 0)
        RecordIfConnectionLost();
    return result && *result == 0;
}

void classUpload::FTPCreateDir(const QString &myDirName)
{
    try {
        ftp().CreateDirectory(myDirName);
    } catch (const FtpError &) {
        RecordFailure(MessageId::FolderNotCreated, myDirName);
        return;
    }
    WaitForCompletion();
    // Checked however the wait ended: a refused creation is the more useful message than a
    // time-out.
    const std::optional<qint16> result = CompletedResult(true);
    if (result && *result != 0 && !RecordIfConnectionLost())
        RecordFailure(MessageId::FolderNotCreated, myDirName);
}

bool classUpload::FTPSetCurrentDir(const QString &myDesiredDir, bool CreateNew)
{
    const QStringList current = SplitRemotePath(FTPGetCurrentDir());
    const QStringList wanted = SplitRemotePath(myDesiredDir);

    // The first level at which the two differ; a missing level counts as an empty name.
    const qsizetype depth = std::max(current.size(), wanted.size());
    qsizetype first = -1;
    for (qsizetype i = 0; i < depth; ++i) {
        const QString have = i < current.size() ? current.at(i) : QString();
        const QString want = i < wanted.size() ? wanted.at(i) : QString();
        if (have != want) {
            first = i;
            break;
        }
    }
    if (first < 0)
        return !mFailure.mAborted;

    // Up: one ".." for every current name from the first difference on, whatever those names are.
    bool climbRefused = false;
    qint16 climbResult = 0;
    for (qsizetype i = current.size() - 1; i >= first; --i) {
        if (!FTPChangeDir(QStringLiteral(".."))) {
            climbRefused = true;
            climbResult = mLastChangeDirResult;
        }
        if (mFailure.mAborted)
            return false;
    }
    // A walk that fails after a refused climb failed because of the climb: a name that is missing
    // below the wrong folder says nothing about the wanted one, and a deletion that was only put
    // off ("450") must not be taken for one refused for good.
    const auto failedWalk = [&] {
        if (climbRefused)
            mLastChangeDirResult = climbResult;
        return false;
    };

    // Down: one name at a time, creating a missing folder when asked to.
    for (qsizetype i = first; i < wanted.size(); ++i) {
        const QString &name = wanted.at(i);
        if (mFailure.mAborted)
            return false;
        if (FTPChangeDir(name))
            continue;
        if (mFailure.mAborted)
            return false;
        if (!CreateNew)
            return failedWalk();
        // After a refused climb the walk is somewhere else: a folder created there belongs to no
        // site and would stay on the server for good, named in no upload log.
        if (climbRefused) {
            RecordFailure(MessageId::FolderNotEntered, QStringLiteral(".."));
            return false;
        }
        FTPCreateDir(name);
        if (mFailure.mAborted)
            return false;
        if (!FTPChangeDir(name)) {
            RecordFailure(MessageId::FolderNotEntered, name);
            return false;
        }
    }
    // A server that refused a ".." left the walk deeper than it thinks, and the names after it may
    // well exist there too: a file would then be stored, and reported as published, in another
    // folder. Where the walk really ended is asked once more.
    if (climbRefused && !mFailure.mAborted && !SameRemotePath(FTPGetCurrentDir(), myDesiredDir)) {
        if (CreateNew && !mFailure.mAborted)
            RecordFailure(MessageId::FolderNotEntered, QStringLiteral(".."));
        return failedWalk();
    }
    return !mFailure.mAborted;
}

void classUpload::SetRemoteBaseDir()
{
    // Right after the log-in the current folder is the account's login folder; the configured
    // folder is taken relative to it, also when it starts with a separator.
    const QString loginFolder = FTPGetCurrentDir();
    if (!mFailure.mAborted)
        mSettings.mRemoteBaseDir = JoinRemotePath(loginFolder, mSettings.mRemoteBaseDir);
}
