#include "classupload.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "localfileerror.h"
#include "pathhelpers.h"
#include "stringtable.h"
#include "systemhelpers.h"
#include "uploadview.h"

#include <QFile>
#include <cerrno>

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

// A folder line is "\" for the site folder, or names joined by "\" with one "\" at the end.
bool isSafeFolderLine(const QString &line)
{
    if (line == QLatin1String("\\"))
        return true;
    const QStringList names = line.left(line.size() - 1).split(QLatin1Char('\\'));
    return std::all_of(names.cbegin(), names.cend(), isSafeName);
}

QStringList readLogLines(const QString &path)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        ThrowFileReadError(path, errno != 0 ? errno : EIO);
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    // The log ends with a line end, which leaves one empty piece that is not an entry.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

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
    // No old log is the ordinary first run to a server: nothing to clean up.
    if (ftp().result() != 0)
        return;

    const QStringList lines = readLogLines(copyPath);
    const auto skip = [this](const QString &entry) {
        FTPDebug(ReplaceAll(ResourceString(4020), QStringLiteral("%1"), entry) +
                 QStringLiteral("\r\n"));
    };

    // Files first: a folder can only be removed once it is empty.
    QString folderLine;
    bool folderIsSafe = true;
    for (const QString &entry : lines) {
        if (entry.endsWith(QLatin1Char('\\'))) {
            folderLine = entry;
            folderIsSafe = isSafeFolderLine(entry);
            continue;
        }
        if (FileIsInLog(folderLine, entry))
            continue;
        if (entry.toLower() == kUploadLogName)
            continue;
        if (!folderIsSafe || !isSafeName(entry)) {
            skip(JoinLocalPath(folderLine, entry));
            continue;
        }
        FTPDeleteFileEx(JoinLocalPath(folderLine, entry));
        if (mAborted)
            return;
    }

    // Then folders; the log lists inner folders before the folders that hold them.
    for (const QString &entry : lines) {
        if (!entry.endsWith(QLatin1Char('\\')) || DirIsInLog(entry))
            continue;
        if (!isSafeFolderLine(entry)) {
            skip(entry);
            continue;
        }
        FTPDeleteDirEx(entry);
        if (mAborted)
            return;
    }
}

void classUpload::FTPDeleteFileEx(const QString &myPathAndFileName)
{
    const PathAndFileName parts = SplitPathAndFileName(myPathAndFileName);
    const QString remoteFolder = ToRemoteSlashes(JoinRemotePath(mRemoteBaseDir, parts.DirName));

    view().setCaption(ViewLabel::labelFile, ResourceString(3020));
    view().setFileText(JoinRemotePath(remoteFolder, parts.FileName));

    if (FTPSetCurrentDir(remoteFolder, false) && !mAborted)
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

    if (FTPSetCurrentDir(parentRemote, false) && !mAborted)
        FTPDeleteDir(name);
}

// A deletion the server refuses (already gone, folder not empty, no permission) is not a reason to
// stop the publication; the request is waited for and its result left alone.
void classUpload::FTPDeleteFile(const QString &myFileName)
{
    try {
        ftp().DeleteFile(myFileName);
    } catch (const FtpError &) {
    }
    WaitForCompletion();
}

void classUpload::FTPDeleteDir(const QString &myDirName)
{
    try {
        ftp().RemoveDirectory(myDirName);
    } catch (const FtpError &) {
    }
    WaitForCompletion();
}
