#include "classupload.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "pathhelpers.h"
#include "stringtable.h"

// The session never jumps to an absolute remote folder. Some servers present a chrooted or virtual
// tree in which absolute paths do not mean what they seem; relative steps from the folder the
// server reports work on all of them. Every walk therefore asks for the current folder, climbs with
// ".." as far as the two paths differ and descends one name at a time.

QString classUpload::FTPGetCurrentDir()
{
    return KnownCurrentDir().value_or(QString());
}

std::optional<QString> classUpload::KnownCurrentDir()
{
    // A server that put the query off may well answer the next one; it is asked once more. What
    // an earlier query said is no answer: every command since may have moved the server.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            ftp().QueryCurrentDirectory();
        } catch (const FtpError &) {
            // Only a component still busy with a request that a cancellation or the watchdog gave
            // up refuses the query; the run is stopping then.
            if (!mFailure.mAborted)
                RecordFailure(MessageId::ConnectionFailed, ftp().host());
            return std::nullopt;
        }
        WaitForCompletion();
        const std::optional<qint16> result = CompletedResult(true);
        if (mFailure.mAborted || !result)
            return std::nullopt;
        if (*result == 0)
            return ftp().currentDirectory();
        if (RecordIfConnectionLost())
            return std::nullopt;
        DebugNote(ReplaceAll(ResourceString(MessageId::CurrentFolderUnknown), QStringLiteral("%1"),
                             QString::number(*result)));
    }
    return std::nullopt;
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
    const QStringList wanted = SplitRemotePath(myDesiredDir);
    const std::optional<QString> known = KnownCurrentDir();
    if (!known) {
        // Every step from a folder the server did not name would lead from a guess: a file stored,
        // or a page deleted, in another folder than the one meant. The walk does not start; an
        // upload fails with the folder it wanted, a deletion is put off.
        mLastChangeDirResult = 0;
        if (CreateNew && !mFailure.mAborted)
            RecordFailure(MessageId::FolderNotEntered,
                          wanted.isEmpty() ? QStringLiteral("/") : wanted.last());
        return false;
    }
    const QStringList current = SplitRemotePath(*known);

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
    if (climbRefused && !mFailure.mAborted) {
        const std::optional<QString> ended = KnownCurrentDir();
        if (!ended || !SameRemotePath(*ended, myDesiredDir)) {
            if (CreateNew && !mFailure.mAborted)
                RecordFailure(MessageId::FolderNotEntered, QStringLiteral(".."));
            return failedWalk();
        }
    }
    return !mFailure.mAborted;
}

void classUpload::SetRemoteBaseDir()
{
    // Right after the log-in the current folder is the account's login folder; the configured
    // folder is taken relative to it, also when it starts with a separator.
    const std::optional<QString> loginFolder = KnownCurrentDir();
    if (mFailure.mAborted)
        return;
    // Without the login folder the base folder is nowhere for certain.
    if (!loginFolder) {
        const QStringList configured = SplitRemotePath(mSettings.mRemoteBaseDir);
        RecordFailure(MessageId::FolderNotEntered,
                      configured.isEmpty() ? QStringLiteral("/") : configured.last());
        return;
    }
    mSettings.mRemoteBaseDir = JoinRemotePath(*loginFolder, mSettings.mRemoteBaseDir);
}
