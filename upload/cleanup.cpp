#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "ftpresult.h"
#include "localfileerror.h"
#include "pathhelpers.h"
#include "stringtable.h"
#include "systemhelpers.h"
#include "uploadview.h"

#include <QBuffer>
#include <QFile>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

const QString kUploadLogName = QStringLiteral("vellumixftplog.log");

// The old log comes from the server, and anyone with access to the account can change it. Only
// names the local scan could have written are acted on: no empty name, no "." or "..", no "/" and
// no control character, so no entry can lead out of the remote base folder or smuggle a command to
// the server.
bool isSafeName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

// Many servers take "~" and "~name" in CWD as a home folder, which would lead the walk, and the
// deletions after it, out of the site; a folder name the log names like that is not followed.
bool isSafeFolderName(const QString &name)
{
    return isSafeName(name) && !name.startsWith(QLatin1Char('~'));
}

// A folder line is "\" for the site folder, or names joined by "\" with one "\" at the end.
bool isSafeFolderLine(const QString &line)
{
    if (line == QLatin1String("\\"))
        return true;
    const QStringList names = line.left(line.size() - 1).split(QLatin1Char('\\'));
    return std::all_of(names.cbegin(), names.cend(), isSafeFolderName);
}

// Reads an upload log one line at a time, without its line end (LF or CR LF), so that even a large
// log never needs more memory than its longest line.
class LogReader
{
public:
    // The downloaded copy of the server's log.
    explicit LogReader(const QString &path) : mFile(std::make_unique<QFile>(path))
    {
        errno = 0;
        if (!mFile->open(QIODevice::ReadOnly))
            ThrowFileReadError(path, errno != 0 ? errno : EIO);
    }
    // The local log as the previous run wrote it.
    explicit LogReader(const QByteArray &content) : mFile(std::make_unique<QBuffer>())
    {
        static_cast<QBuffer &>(*mFile).setData(content);
        mFile->open(QIODevice::ReadOnly);
    }

    [[nodiscard]] bool next(QString &line)
    {
        if (mFile->atEnd())
            return false;
        QByteArray raw = mFile->readLine();
        if (raw.endsWith('\n'))
            raw.chop(1);
        if (raw.endsWith('\r'))
            raw.chop(1);
        line = QString::fromUtf8(raw);
        return true;
    }

private:
    std::unique_ptr<QIODevice> mFile;
};

// How deep a folder line lies: "a\b\" is 2.
qsizetype depthOf(const QString &folderLine)
{
    return folderLine.count(QLatin1Char('\\'));
}

bool isPermanentRefusal(qint16 result)
{
    return result >= FtpResult::ReplyBase + 500 && result < FtpResult::ReplyBase + 600;
}

} // namespace

void classUpload::CollectStaleEntries(const LogSource &source, CleanUpPlan &plan)
{
    const auto skip = [this](const QString &entry) {
        DebugNote(
            ReplaceAll(ResourceString(MessageId::OldLogEntrySkipped), QStringLiteral("%1"), entry));
    };
    LogReader log = source.path.isEmpty() ? LogReader(source.content) : LogReader(source.path);
    QString entry;
    QString folderLine;
    bool folderIsSafe = true;
    qint64 listedFiles = 0;
    while (log.next(entry)) {
        if (entry.endsWith(QLatin1Char('\\'))) {
            folderLine = entry;
            folderIsSafe = isSafeFolderLine(entry);
            if (DirIsInLog(entry))
                continue;
            if (!folderIsSafe) {
                skip(entry);
                continue;
            }
            if (!plan.seen.contains(entry)) {
                plan.seen.insert(entry);
                plan.folders.append(entry);
            }
            continue;
        }
        ++listedFiles;
        if (FileIsInLog(folderLine, entry))
            continue;
        // The upload log is never deleted, in whatever folder it is listed.
        if (entry.toLower() == kUploadLogName)
            continue;
        const QString path = JoinLocalPath(folderLine, entry);
        if (!folderIsSafe || !isSafeName(entry)) {
            skip(path);
            continue;
        }
        if (!plan.seen.contains(path)) {
            plan.seen.insert(path);
            plan.files.append({folderLine, entry});
        }
    }
    // Both logs describe the same site at different times; the longer list is what a
    // deletion of most of the site is measured against.
    plan.listedFiles = std::max(plan.listedFiles, listedFiles);
}

void classUpload::FTPDeleteFiles()
{
    const QString copyPath = GetTempFolder() + kUploadLogName;

    // The log is fetched by its bare name from wherever the walk ends; when the base folder does
    // not exist yet every deletion below is skipped anyway.
    FTPSetCurrentDir(mSettings.mRemoteBaseDir, false);
    if (mFailure.mAborted)
        return;

    view().fileStarted(FileAction::Reading,
                       JoinRemotePath(mSettings.mRemoteBaseDir, kUploadLogName));
    try {
        ftp().GetFile(kUploadLogName, copyPath);
    } catch (const FtpError &) {
        return;
    }
    WaitForCompletion();
    // A download that a cancellation or the watchdog cut short left no complete copy to read.
    const std::optional<qint16> result = CompletedResult(true);
    if (!result || mFailure.mAborted)
        return;
    // Given up at the limit: no log of ours, nothing is deleted, and this run's log replaces it.
    if (*result == FtpResult::DownloadTooLarge) {
        DebugNote(ResourceString(MessageId::OldLogTooLarge));
        return;
    }
    const bool serverLogRead = *result == 0;
    if (!serverLogRead) {
        if (RecordIfConnectionLost())
            return;
        // A refusal for good is how a server says there is no such file: the first run to it,
        // nothing to clean up. Any other failure ("451 try again") leaves a log that names what
        // is to be deleted; replacing it with this run's log would forget those names for good.
        if (!isPermanentRefusal(*result)) {
            DebugNote(ReplaceAll(ResourceString(MessageId::OldLogUnreadable), QStringLiteral("%1"),
                                 QString::number(*result)));
            KeepServerLog();
        }
    }

    // What is to be deleted: what the server's log names, and what the local log of the previous
    // run names, which may be more. A run that failed after it had uploaded new files never got
    // its log onto the server, and files the user deleted since are named only there.
    CleanUpPlan plan;
    if (serverLogRead)
        CollectStaleEntries({copyPath, {}}, plan);
    if (mUploadLog.mPreviousLocalLog)
        CollectStaleEntries({QString(), *mUploadLog.mPreviousLocalLog}, plan);
    // Inner folders before the folders that hold them.
    std::stable_sort(plan.folders.begin(), plan.folders.end(),
                     [](const QString &a, const QString &b) { return depthOf(a) > depthOf(b); });

    if (mSettings.mPreviewOnly) {
        for (const auto &[folderLine, name] : std::as_const(plan.files))
            view().previewEntry(PreviewAction::DeleteFile,
                                RemoteFilePath(JoinLocalPath(folderLine, name)), 0);
        for (const QString &folder : std::as_const(plan.folders))
            view().previewEntry(PreviewAction::DeleteFolder,
                                ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, folder)),
                                0);
        mCleanUp.mPreviewFilesDeleted = plan.files.size();
        mCleanUp.mPreviewFoldersDeleted = plan.folders.size();
        return;
    }
    if (!MayCleanUp(plan))
        return;

    QList<std::pair<QString, QString>> putOffFiles;
    QStringList putOffFolders;
    const auto putOff = [this](const QString &entry) {
        DebugNote(
            ResourceString(MessageId::DeletionPutOff).arg(entry, QString::number(ftp().result())));
    };

    // Files first: a folder can only be removed once it is empty.
    for (const auto &[folderLine, name] : std::as_const(plan.files)) {
        const QString path = JoinLocalPath(folderLine, name);
        const Deletion outcome = FTPDeleteFileEx(path);
        if (mFailure.mAborted)
            return;
        if (outcome == Deletion::PutOff) {
            putOff(path);
            putOffFiles.append({folderLine, name});
        }
    }
    for (const QString &folderLine : std::as_const(plan.folders)) {
        const Deletion outcome = FTPDeleteDirEx(folderLine);
        if (mFailure.mAborted)
            return;
        if (outcome == Deletion::PutOff) {
            putOff(folderLine);
            putOffFolders.append(folderLine);
        }
    }
    KeepInLog(putOffFiles, putOffFolders);
}

bool classUpload::MayCleanUp(const CleanUpPlan &plan)
{
    // A site builder that produced an empty or half-empty folder, or a site folder setting that
    // points at another folder, would otherwise take the live site down with this run: more than
    // half of the files the server's log lists, and more than a handful, are not deleted without
    // asking. A site folder without any file always asks.
    const qint64 deletions = plan.files.size();
    const bool siteHasFiles =
        std::any_of(mUploadLog.mLogList.cbegin(), mUploadLog.mLogList.cend(),
                    [](const QString &line) { return !line.endsWith(QLatin1Char('\\')); });
    const bool mostOfTheSite = deletions * 2 > plan.listedFiles && deletions > 20;
    if (!mostOfTheSite && (siteHasFiles || deletions == 0))
        return true;

    // The user may take a while to answer; that is no silence of the server.
    ftpHost().setWatchDogEnabled(false);
    const MassDeletion answer = view().confirmMassDeletion(deletions, plan.listedFiles);
    ftpHost().setWatchDogEnabled(true);
    ResetWatchDog();
    const bool go = answer == MassDeletion::Delete;
    DebugNote(ResourceString(MessageId::MassDeletionNote)
                  .arg(deletions)
                  .arg(plan.listedFiles)
                  .arg(ResourceString(go ? MessageId::MassDeletionNoteYes
                                         : MessageId::MassDeletionNoteNo)));
    if (answer == MassDeletion::SkipAndReport)
        mCleanUp.mCleanUpRefused = std::pair{deletions, plan.listedFiles};
    return go;
}

QString classUpload::RemoteFilePath(const QString &myPathAndFileName) const
{
    const PathAndFileName parts = SplitPathAndFileName(myPathAndFileName);
    return JoinRemotePath(ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, parts.DirName)),
                          parts.FileName);
}

bool classUpload::IsCurrentDirectory(const QString &myDesiredDir)
{
    // A server that refused a ".." on the way leaves the walk one level too deep, where a folder of
    // the same name may well exist; a deletion must not land there.
    const QString current = FTPGetCurrentDir();
    if (mFailure.mAborted)
        return false;
    if (SameRemotePath(current, myDesiredDir))
        return true;
    DebugNote(ResourceString(MessageId::DeletionSkippedOtherFolder).arg(current, myDesiredDir));
    return false;
}

classUpload::Deletion classUpload::UnreachableFolderOutcome() const
{
    // A folder that does not exist: what was in it is gone as well.
    return isPermanentRefusal(mLastChangeDirResult) ? Deletion::Refused : Deletion::PutOff;
}

classUpload::Deletion classUpload::FTPDeleteFileEx(const QString &myPathAndFileName)
{
    const PathAndFileName parts = SplitPathAndFileName(myPathAndFileName);
    const QString remoteFolder =
        ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, parts.DirName));

    view().fileStarted(FileAction::DeletingFile, JoinRemotePath(remoteFolder, parts.FileName));

    if (!FTPSetCurrentDir(remoteFolder, false) || mFailure.mAborted)
        return UnreachableFolderOutcome();
    if (!IsCurrentDirectory(remoteFolder))
        return Deletion::PutOff;
    return FTPDeleteFile(parts.FileName);
}

classUpload::Deletion classUpload::FTPDeleteDirEx(const QString &myDir)
{
    // The folder line's own trailing "\" is not a separator between parent and name.
    const QString withoutTrailing = myDir.left(myDir.size() - 1);
    const qsizetype last = std::max(withoutTrailing.lastIndexOf(QLatin1Char('/')),
                                    withoutTrailing.lastIndexOf(QLatin1Char('\\')));
    QString parent;
    QString name;
    if (last >= 0) {
        parent = withoutTrailing.left(last);
        name = withoutTrailing.mid(last + 1);
    } else {
        parent = QStringLiteral("/");
        name = withoutTrailing;
    }
    const QString parentRemote = ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, parent));

    view().fileStarted(FileAction::DeletingFolder,
                       ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, myDir)));

    if (!FTPSetCurrentDir(parentRemote, false) || mFailure.mAborted)
        return UnreachableFolderOutcome();
    if (!IsCurrentDirectory(parentRemote))
        return Deletion::PutOff;
    return FTPDeleteDir(name);
}

// A deletion the server refuses (already gone, folder not empty, no permission) is not a reason to
// stop the publication; only one it put off is remembered, to be tried again next time.
classUpload::Deletion classUpload::FTPDeleteFile(const QString &myFileName)
{
    bool started = true;
    try {
        ftp().DeleteFile(myFileName);
    } catch (const FtpError &) {
        started = false;
    }
    WaitForCompletion();
    return DeletionOutcome(started);
}

classUpload::Deletion classUpload::FTPDeleteDir(const QString &myDirName)
{
    bool started = true;
    try {
        ftp().RemoveDirectory(myDirName);
    } catch (const FtpError &) {
        started = false;
    }
    WaitForCompletion();
    return DeletionOutcome(started);
}

classUpload::Deletion classUpload::DeletionOutcome(bool started)
{
    const std::optional<qint16> result = CompletedResult(started);
    if (!result)
        return Deletion::PutOff;
    if (*result == 0)
        return Deletion::Done;
    RecordIfConnectionLost();
    return isPermanentRefusal(*result) ? Deletion::Refused : Deletion::PutOff;
}
