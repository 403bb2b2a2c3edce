#include "classupload.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "ftpresult.h"
#include "localfileerror.h"
#include "pathhelpers.h"
#include "stringtable.h"
#include "systemhelpers.h"
#include "uploadorder.h"
#include "uploadview.h"

#include <QBuffer>
#include <QFile>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

const QString kUploadLogName = UploadLogName();

// The old log comes from the server, and anyone with access to the account can change it. Only
// names the local scan could have written are acted on: no empty name, no "." or "..", no "/" and
// no control character, so no entry can lead out of the remote base folder or smuggle a command to
// the server. No wildcard either: some servers expand "*", "?" and "[" in DELE, and one such name
// would delete a whole folder.
bool isSafeName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('*') ||
            c == QLatin1Char('?') || c == QLatin1Char('[') || c.category() == QChar::Other_Control)
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

// Whether a file name in the block of folderLine, or the folder of folderLine itself, is one a scan
// could have written. The site folder itself is never removed.
bool namesAreSafe(const QString &folderLine, const QString &name, bool folder)
{
    if (folder)
        return folderLine != QLatin1String("\\") && isSafeFolderLine(folderLine);
    return isSafeFolderLine(folderLine) && isSafeName(name);
}

// How the proof of a deletion knows a file or folder: a folder by its line, a file by the line of
// its folder followed by its name. A folder line ends with "\", so the two never meet.
QString namedKey(const QString &folderLine, const QString &name, bool folder)
{
    return folder ? folderLine : folderLine + name;
}

// A folder line as its parent's line and its own name: "a\b\" gives "a\" and "b", "a\" gives "\"
// and "a".
std::pair<QString, QString> splitFolderLine(const QString &folderLine)
{
    const QString withoutTrailing = folderLine.left(folderLine.size() - 1);
    const qsizetype last = withoutTrailing.lastIndexOf(QLatin1Char('\\'));
    if (last < 0)
        return {QStringLiteral("\\"), withoutTrailing};
    return {withoutTrailing.left(last + 1), withoutTrailing.mid(last + 1)};
}

} // namespace

void classUpload::CollectStaleEntries(const LogSource &source, CleanUpPlan &plan)
{
    const auto skip = [this](MessageId note, const QString &entry) {
        DebugNote(ResourceString(note, {entry}));
    };
    LogReader log = source.path.isEmpty() ? LogReader(source.content) : LogReader(source.path);
    QString entry;
    // Lines before the first folder line belong to no folder: a log written by a scan has none,
    // and taking them for files of the site folder would delete live pages there.
    std::optional<QString> folderLine;
    qint64 listedFiles = 0;
    const auto consider = [&](const QString &line, const QString &name, bool folder) {
        const QString shown = folder ? line : JoinLocalPath(line, name);
        if (!namesAreSafe(line, name, folder)) {
            skip(MessageId::OldLogEntrySkipped, shown);
            return;
        }
        mCleanUp.mNamedByLogs.insert(namedKey(line, name, folder));
        const auto [holder, own] = folder ? splitFolderLine(line) : std::pair{line, name};
        if (SiteHolds(holder, own) || plan.seen.contains(shown))
            return;
        plan.seen.insert(shown);
        if (folder)
            plan.folders.append(line);
        else
            plan.files.append({line, name});
    };
    while (log.next(entry)) {
        if (entry.endsWith(QLatin1Char('\\'))) {
            folderLine = entry;
            // The site folder itself is never removed.
            if (entry != QLatin1String("\\"))
                consider(entry, QString(), true);
            continue;
        }
        if (!folderLine) {
            skip(MessageId::OldLogEntryOutsideFolder, entry);
            continue;
        }
        ++listedFiles;
        // The upload log is never deleted, in whatever folder it is listed.
        if (entry.toLower() != kUploadLogName)
            consider(*folderLine, entry, false);
    }
    // Both logs describe the same site at different times; the longer list is what a
    // deletion of most of the site is measured against.
    plan.listedFiles = std::max(plan.listedFiles, listedFiles);
}

classUpload::ServerLog classUpload::FetchServerLog(const QString &copyPath)
{
    // The old log belongs to the remote base folder. One fetched from wherever a walk that could
    // not get there stopped describes another folder, or nothing at all.
    const FolderWalk walk = WalkTo(mSettings.mRemoteBaseDir, false);
    if (!walk.run)
        return ServerLog::RunStopped;
    view().fileStarted(FileAction::Reading,
                       JoinRemotePath(mSettings.mRemoteBaseDir, kUploadLogName));
    if (!walk.entered)
        return walk.refusal.isPermanentRefusal() ? ServerLog::Missing : ServerLog::Unknown;
    const RequestOutcome download =
        Perform([&copyPath](FtpControl &ftp) { ftp.GetFile(kUploadLogName, copyPath); });
    // A download that a cancellation or the watchdog cut short left no complete copy to read.
    if (!Outcome())
        return ServerLog::RunStopped;
    // One the component would not start says nothing about the log either; the run goes on
    // without deleting on its word.
    if (!download.isCompleted())
        return ServerLog::Unknown;
    // Given up at the limit: no log of ours, nothing is deleted, and this run's log replaces it.
    if (download.result() == FtpResult::DownloadTooLarge) {
        DebugNote(ResourceString(MessageId::OldLogTooLarge));
        return ServerLog::Unknown;
    }
    if (download.succeeded())
        return ServerLog::Read;
    if (RecordIfConnectionLost())
        return ServerLog::RunStopped;
    // A refusal for good is how a server says there is no such file: the first run to it,
    // nothing to clean up. "Not now" ("451 try again") leaves a log that names what is to be
    // deleted; replacing it with this run's log would forget those names for good. Any other
    // failure says nothing about the log, and a log that may not exist is not kept: the server
    // would then be left without any.
    if (download.isPermanentRefusal())
        return ServerLog::Missing;
    if (!download.isTransientRefusal())
        return ServerLog::Unknown;
    DebugNote(ResourceString(MessageId::OldLogUnreadable, {QString::number(download.result())}));
    KeepServerLog();
    return ServerLog::PutOff;
}

StepOutcome classUpload::FTPDeleteFiles()
{
    mCleanUp.mNamedByLogs.clear();
    const std::optional<CleanUpPlan> plan = PlanCleanUp();
    if (!plan)
        return Outcome();
    if (mSettings.mPreviewOnly) {
        if (plan->mayDelete)
            PreviewCleanUp(*plan);
        return StepOutcome::done();
    }
    // A clean-up skipped by the deletion guard is not forgotten either: the entries stay in the
    // log until a run is allowed to delete them (--allow-mass-delete, or "Ja").
    if (!plan->mayDelete || !MayCleanUp(*plan)) {
        if (!plan->files.isEmpty() || !plan->folders.isEmpty())
            DebugNote(ResourceString(MessageId::DeletionsKeptInLog,
                                     {QString::number(plan->files.size() + plan->folders.size())}));
        KeepInLog(plan->files, plan->folders);
        return Outcome(); // asked, and cancelled while the question was open
    }
    return CarryOutCleanUp(*plan);
}

std::optional<classUpload::CleanUpPlan> classUpload::PlanCleanUp()
{
    const QString copyPath = GetTempFolder() + kUploadLogName;
    const ServerLog serverLog = FetchServerLog(copyPath);
    if (serverLog == ServerLog::RunStopped)
        return std::nullopt;

    // What is to be deleted: what the server's log names, and what the local log of the previous
    // run names, which may be more. A run that failed after it had uploaded new files never got
    // its log onto the server, and files the user deleted since are named only there. That log
    // counts only when it was written for this destination: another one names pages of another
    // server, and a page of the same name here may be one its owner placed by other means.
    CleanUpPlan plan;
    if (serverLog == ServerLog::Read)
        CollectStaleEntries({copyPath, {}}, plan);
    // Read once; a copy of up to 64 MiB has no business staying in the runtime folder, which
    // is memory on most systems (and a preview promises to leave nothing behind).
    QFile::remove(copyPath);
    if (mUploadLog.mPreviousLocalLog && mUploadLog.mPreviousLocalLogBelongsHere)
        CollectStaleEntries({QString(), *mUploadLog.mPreviousLocalLog}, plan);
    // Inner folders before the folders that hold them.
    std::stable_sort(plan.folders.begin(), plan.folders.end(),
                     [](const QString &a, const QString &b) { return depthOf(a) > depthOf(b); });

    // Nothing is deleted on a server whose own log this run did not read, unless that log is
    // only put off and the previous local log, which then names what to delete, belongs here.
    // What the previous local log names stays in the log instead, for a run that may delete it.
    plan.mayDelete = serverLog == ServerLog::Read ||
                     (serverLog == ServerLog::PutOff && mUploadLog.mPreviousLocalLogBelongsHere);
    if (!plan.mayDelete)
        DebugNote(ResourceString(MessageId::ServerLogNotRead));
    return plan;
}

void classUpload::PreviewCleanUp(const CleanUpPlan &plan)
{
    for (const auto &[folderLine, name] : std::as_const(plan.files))
        view().previewEntry(PreviewAction::DeleteFile,
                            RemoteFilePath(JoinLocalPath(folderLine, name)), 0);
    for (const QString &folder : std::as_const(plan.folders))
        view().previewEntry(PreviewAction::DeleteFolder,
                            ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, folder)), 0);
    mCleanUp.mPreviewFilesDeleted = plan.files.size();
    mCleanUp.mPreviewFoldersDeleted = plan.folders.size();
}

StepOutcome classUpload::CarryOutCleanUp(const CleanUpPlan &plan)
{
    QList<std::pair<QString, QString>> putOffFiles;
    QStringList putOffFolders;
    const auto putOff = [this](const QString &entry) {
        DebugNote(
            ResourceString(MessageId::DeletionPutOff, {entry, QString::number(ftp().result())}));
    };

    // Files first: a folder can only be removed once it is empty.
    for (const auto &[folderLine, name] : std::as_const(plan.files)) {
        const QString path = JoinLocalPath(folderLine, name);
        const Deletion outcome = FTPDeleteFileEx(path);
        if (const StepOutcome run = Outcome(); !run)
            return run;
        if (outcome == Deletion::PutOff) {
            putOff(path);
            putOffFiles.append({folderLine, name});
        }
    }
    for (const QString &folderLine : std::as_const(plan.folders)) {
        const Deletion outcome = FTPDeleteDirEx(folderLine);
        if (const StepOutcome run = Outcome(); !run)
            return run;
        if (outcome == Deletion::PutOff) {
            putOff(folderLine);
            putOffFolders.append(folderLine);
        }
    }
    KeepInLog(putOffFiles, putOffFolders);
    return StepOutcome::done();
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
    if ((!mostOfTheSite && (siteHasFiles || deletions == 0)) || mRetry.mMassDeletionAllowed)
        return true;

    const MassDeletion answer = AskMassDeletion(deletions, plan.listedFiles);
    const bool go = answer == MassDeletion::Delete;
    DebugNote(ResourceString(
        MessageId::MassDeletionNote,
        {QString::number(deletions), QString::number(plan.listedFiles),
         ResourceString(go ? MessageId::MassDeletionNoteYes : MessageId::MassDeletionNoteNo)}));
    if (answer == MassDeletion::SkipAndReport)
        mCleanUp.mCleanUpRefused = std::pair{deletions, plan.listedFiles};
    mRetry.mMassDeletionAllowed = go;
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
    // the same name may well exist; a deletion must not land there. Nor where the server did not
    // say where it stands.
    const std::optional<QString> current = KnownCurrentDir();
    if (!Outcome() || !current)
        return false;
    if (SameRemotePath(*current, myDesiredDir))
        return true;
    DebugNote(ResourceString(MessageId::DeletionSkippedOtherFolder, {*current, myDesiredDir}));
    return false;
}

classUpload::Deletion classUpload::UnreachableFolderOutcome(const FolderWalk &walk)
{
    // A folder that does not exist: what was in it is gone as well.
    return walk.refusal.isPermanentRefusal() ? Deletion::Refused : Deletion::PutOff;
}

bool classUpload::SiteHolds(const QString &folderLine, const QString &name)
{
    // Names reach the server in lower case, and a server that does not tell case apart takes
    // "Bilder/a.png" for the site's "bilder/a.png".
    const QString line = folderLine.toLower();
    const QString lowered = name.toLower();
    return FileIsInLog(line, lowered) ||
           DirIsInLog((line == QLatin1String("\\") ? QString() : line) + lowered +
                      QLatin1Char('\\'));
}

std::optional<QString> classUpload::WhyNotProvenSafe(const QString &folderLine, const QString &name,
                                                     bool folder)
{
    const QString shown = folder ? folderLine : JoinLocalPath(folderLine, name);
    const auto because = [&shown](MessageId note) { return ResourceString(note, {shown}); };
    if (!namesAreSafe(folderLine, name, folder))
        return because(MessageId::OldLogEntrySkipped);
    if (!mCleanUp.mNamedByLogs.contains(namedKey(folderLine, name, folder)))
        return because(MessageId::DeletionSkippedUnnamed);
    const auto [holder, own] = folder ? splitFolderLine(folderLine) : std::pair{folderLine, name};
    if (SiteHolds(holder, own))
        return because(MessageId::DeletionSkippedStillInSite);
    return std::nullopt;
}

classUpload::Deletion classUpload::DeleteIfProvenSafe(const QString &folderLine,
                                                      const QString &name, bool folder)
{
    if (const std::optional<QString> why = WhyNotProvenSafe(folderLine, name, folder)) {
        DebugNote(*why);
        return Deletion::Skipped;
    }
    // The request goes to the folder that holds the entry: for a folder, its parent.
    const QString holder = folder ? splitFolderLine(folderLine).first : folderLine;
    const QString own = folder ? splitFolderLine(folderLine).second : name;
    const QString remoteFolder = ToRemoteSlashes(JoinRemotePath(
        mSettings.mRemoteBaseDir, holder == QLatin1String("\\") ? QString() : holder.chopped(1)));
    const FolderWalk walk = WalkTo(remoteFolder, false);
    if (!walk.entered || !walk.run)
        return UnreachableFolderOutcome(walk);
    if (!IsCurrentDirectory(remoteFolder))
        return Deletion::PutOff;
    return folder ? FTPDeleteDir(own) : FTPDeleteFile(own);
}

classUpload::Deletion classUpload::FTPDeleteFileEx(const QString &myPathAndFileName)
{
    const PathAndFileName parts = SplitPathAndFileName(myPathAndFileName);
    const QString remoteFolder =
        ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, parts.DirName));
    view().fileStarted(FileAction::DeletingFile, JoinRemotePath(remoteFolder, parts.FileName));
    return DeleteIfProvenSafe(parts.DirName.isEmpty() ? QStringLiteral("\\")
                                                      : parts.DirName + QLatin1Char('\\'),
                              parts.FileName, false);
}

classUpload::Deletion classUpload::FTPDeleteDirEx(const QString &myDir)
{
    view().fileStarted(FileAction::DeletingFolder,
                       ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, myDir)));
    return DeleteIfProvenSafe(myDir, QString(), true);
}

// A deletion the server refuses (already gone, folder not empty, no permission) is not a reason to
// stop the publication; only one it put off is remembered, to be tried again next time. These two
// are called by DeleteIfProvenSafe alone, and FTPDeleteFile also for a temporary file a broken
// run left (DeleteLeftoverTemporaries, under the same rule: a name recorded, in its folder).
classUpload::Deletion classUpload::FTPDeleteFile(const QString &myFileName)
{
    return DeletionOutcome(Perform([&myFileName](FtpControl &ftp) { ftp.DeleteFile(myFileName); }));
}

classUpload::Deletion classUpload::FTPDeleteDir(const QString &myDirName)
{
    return DeletionOutcome(
        Perform([&myDirName](FtpControl &ftp) { ftp.RemoveDirectory(myDirName); }));
}

classUpload::Deletion classUpload::DeletionOutcome(const RequestOutcome &deletion)
{
    if (!deletion.isCompleted())
        return Deletion::PutOff;
    if (deletion.succeeded())
        return Deletion::Done;
    RecordIfConnectionLost();
    return deletion.isPermanentRefusal() ? Deletion::Refused : Deletion::PutOff;
}
