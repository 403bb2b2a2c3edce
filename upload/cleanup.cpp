#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "localfileerror.h"
#include "pathhelpers.h"
#include "stringtable.h"
#include "systemhelpers.h"
#include "uploadview.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

namespace {

const QString kUploadLogName = QStringLiteral("vellumixftplog.log");

// A site of a million files writes a log of some tens of megabytes; a larger one is not ours.
constexpr qint64 kLargestOldLog = 64 * 1024 * 1024;

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

// Reads the downloaded log one line at a time, without its line end (LF or CR LF), so that even a
// large log never needs more memory than its longest line.
class OldLogReader
{
public:
    explicit OldLogReader(const QString &path) : mFile(path)
    {
        errno = 0;
        if (!mFile.open(QIODevice::ReadOnly))
            ThrowFileReadError(path, errno != 0 ? errno : EIO);
    }

    [[nodiscard]] bool next(QString &line)
    {
        if (mFile.atEnd())
            return false;
        QByteArray raw = mFile.readLine();
        if (raw.endsWith('\n'))
            raw.chop(1);
        if (raw.endsWith('\r'))
            raw.chop(1);
        line = QString::fromUtf8(raw);
        return true;
    }

private:
    QFile mFile;
};

} // namespace

void classUpload::FTPDeleteFiles()
{
    const QString copyPath = GetTempFolder() + kUploadLogName;

    // The log is fetched by its bare name from wherever the walk ends; when the base folder does
    // not exist yet every deletion below is skipped anyway.
    FTPSetCurrentDir(mRemoteBaseDir, false);
    if (mAborted)
        return;

    view().setCaption(ViewLabel::labelFile, ResourceString(3010));
    view().setFileText(JoinRemotePath(mRemoteBaseDir, kUploadLogName));
    try {
        ftp().GetFile(kUploadLogName, copyPath);
    } catch (const FtpError &) {
        return;
    }
    WaitForCompletion();
    // No old log is the ordinary first run to a server: nothing to clean up. A download that a
    // cancellation or the watchdog cut short left no complete copy to read.
    const std::optional<qint16> result = CompletedResult(true);
    if (!result || *result != 0 || mAborted)
        return;

    const qint64 size = QFileInfo(copyPath).size();
    if (size > kLargestOldLog) {
        DebugNote(ReplaceAll(ResourceString(4021), QStringLiteral("%1"), QString::number(size)));
        return;
    }
    const CleanUpPlan plan = PlanCleanUp(copyPath);

    if (mPreviewOnly) {
        for (const QString &file : plan.files)
            view().addPreviewLine(ResourceString(4051).arg(RemoteFilePath(file)));
        for (const QString &folder : plan.folders)
            view().addPreviewLine(
                ResourceString(4052).arg(ToRemoteSlashes(JoinRemotePath(mRemoteBaseDir, folder))));
        mPreviewFilesDeleted = plan.files.size();
        mPreviewFoldersDeleted = plan.folders.size();
        return;
    }
    if (!MayCleanUp(plan))
        return;

    // Files first: a folder can only be removed once it is empty.
    for (const QString &file : plan.files) {
        FTPDeleteFileEx(file);
        if (mAborted)
            return;
    }
    // Then folders; the log lists inner folders before the folders that hold them.
    for (const QString &folder : plan.folders) {
        FTPDeleteDirEx(folder);
        if (mAborted)
            return;
    }
}

classUpload::CleanUpPlan classUpload::PlanCleanUp(const QString &copyPath)
{
    const auto skip = [this](const QString &entry) {
        DebugNote(ReplaceAll(ResourceString(4020), QStringLiteral("%1"), entry));
    };
    CleanUpPlan plan;
    {
        OldLogReader log(copyPath);
        QString entry;
        QString folderLine;
        bool folderIsSafe = true;
        while (log.next(entry)) {
            if (entry.endsWith(QLatin1Char('\\'))) {
                folderLine = entry;
                folderIsSafe = isSafeFolderLine(entry);
                continue;
            }
            ++plan.listedFiles;
            if (FileIsInLog(folderLine, entry))
                continue;
            if (entry.toLower() == kUploadLogName)
                continue;
            if (!folderIsSafe || !isSafeName(entry)) {
                skip(JoinLocalPath(folderLine, entry));
                continue;
            }
            plan.files.append(JoinLocalPath(folderLine, entry));
        }
    }
    OldLogReader log(copyPath);
    QString entry;
    while (log.next(entry)) {
        if (!entry.endsWith(QLatin1Char('\\')) || DirIsInLog(entry))
            continue;
        if (!isSafeFolderLine(entry)) {
            skip(entry);
            continue;
        }
        plan.folders.append(entry);
    }
    return plan;
}

bool classUpload::MayCleanUp(const CleanUpPlan &plan)
{
    // A site builder that produced an empty or half-empty folder, or a site folder setting that
    // points at another folder, would otherwise take the live site down with this run: more than
    // half of the files the server's log lists, and more than a handful, are not deleted without
    // asking. A site folder without any file always asks.
    const qint64 deletions = plan.files.size();
    const bool siteHasFiles =
        std::any_of(mLogList.cbegin(), mLogList.cend(),
                    [](const QString &line) { return !line.endsWith(QLatin1Char('\\')); });
    const bool mostOfTheSite = deletions * 2 > plan.listedFiles && deletions > 20;
    if (!mostOfTheSite && (siteHasFiles || deletions == 0))
        return true;

    const QString question = ResourceString(4060).arg(deletions).arg(plan.listedFiles);
    // The user may take a while to answer; that is no silence of the server.
    ftpHost().setWatchDogEnabled(false);
    const MassDeletion answer = view().confirmMassDeletion(question);
    ftpHost().setWatchDogEnabled(true);
    ResetWatchDog();
    const bool go = answer == MassDeletion::Delete;
    DebugNote(ResourceString(4062)
                  .arg(deletions)
                  .arg(plan.listedFiles)
                  .arg(ResourceString(go ? 4063 : 4064)));
    if (answer == MassDeletion::SkipAndReport)
        mCleanUpRefused = std::pair{deletions, plan.listedFiles};
    return go;
}

QString classUpload::RemoteFilePath(const QString &myPathAndFileName) const
{
    const PathAndFileName parts = SplitPathAndFileName(myPathAndFileName);
    return JoinRemotePath(ToRemoteSlashes(JoinRemotePath(mRemoteBaseDir, parts.DirName)),
                          parts.FileName);
}

bool classUpload::IsCurrentDirectory(const QString &myDesiredDir)
{
    // A server that refused a ".." on the way leaves the walk one level too deep, where a folder of
    // the same name may well exist; a deletion must not land there.
    const QString current = FTPGetCurrentDir();
    if (mAborted)
        return false;
    if (SameRemotePath(current, myDesiredDir))
        return true;
    DebugNote(ResourceString(4022).arg(current, myDesiredDir));
    return false;
}

void classUpload::FTPDeleteFileEx(const QString &myPathAndFileName)
{
    const PathAndFileName parts = SplitPathAndFileName(myPathAndFileName);
    const QString remoteFolder = ToRemoteSlashes(JoinRemotePath(mRemoteBaseDir, parts.DirName));

    view().setCaption(ViewLabel::labelFile, ResourceString(3020));
    view().setFileText(JoinRemotePath(remoteFolder, parts.FileName));

    if (FTPSetCurrentDir(remoteFolder, false) && !mAborted && IsCurrentDirectory(remoteFolder))
        FTPDeleteFile(parts.FileName);
}

void classUpload::FTPDeleteDirEx(const QString &myDir)
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
    const QString parentRemote = ToRemoteSlashes(JoinRemotePath(mRemoteBaseDir, parent));

    view().setCaption(ViewLabel::labelFile, ResourceString(3025));
    view().setFileText(ToRemoteSlashes(JoinRemotePath(mRemoteBaseDir, myDir)));

    if (FTPSetCurrentDir(parentRemote, false) && !mAborted && IsCurrentDirectory(parentRemote))
        FTPDeleteDir(name);
}

// A deletion the server refuses (already gone, folder not empty, no permission) is not a reason to
// stop the publication; the request is waited for and its result left alone.
void classUpload::FTPDeleteFile(const QString &myFileName)
{
    bool started = true;
    try {
        ftp().DeleteFile(myFileName);
    } catch (const FtpError &) {
        started = false;
    }
    WaitForCompletion();
    (void)CompletedResult(started);
}

void classUpload::FTPDeleteDir(const QString &myDirName)
{
    bool started = true;
    try {
        ftp().RemoveDirectory(myDirName);
    } catch (const FtpError &) {
        started = false;
    }
    WaitForCompletion();
    (void)CompletedResult(started);
}
