#include "classupload.h"
#include "pathhelpers.h"
#include "programerror.h"
#include "replacefile.h"
#include "sitewalk.h"
#include "stringtable.h"

#include <QFile>
#include <limits>

// The upload log describes the whole local site, one block per folder: the folder line (its
// relative path and one "\", or "\" alone for the site folder) and then the bare names of its
// files. Each folder's subfolders come before it, so the site folder's block is the last. The next
// run compares the server's copy with the current list to find what was deleted locally.

namespace {

const QString kUploadLogName = QStringLiteral("vellumixftplog.log");

QString folderLine(const QString &folderPath)
{
    if (folderPath == QLatin1String("\\"))
        return folderPath;
    return folderPath + QLatin1Char('\\');
}

} // namespace

void classUpload::BuildFileLog(const QString &mySubDir)
{
    WalkSiteFolder(mLocalBaseDir, mySubDir,
                   {[this](const QString &folderPath) { AddLogEntry(folderLine(folderPath)); },
                    [this](const SiteFile &file) {
                        // The log does not list itself: it is rewritten before every upload.
                        if (file.name != kUploadLogName)
                            AddLogEntry(file.name);
                    }});
}

void classUpload::ReadPreviousLocalLog()
{
    // What the previous run wrote tells, once, where the markers of an older store belong.
    QFile previous(NativeLocalPath(mLocalBaseDir, kUploadLogName));
    if (previous.size() <= 64 * 1024 * 1024 && previous.open(QIODevice::ReadOnly))
        mPreviousLocalLog = previous.readAll();
}

QByteArray classUpload::UploadLogContent() const
{
    QByteArray content;
    for (const QString &entry : std::as_const(mLogList)) {
        content += entry.toUtf8();
        content += "\r\n";
    }
    return content;
}

void classUpload::WriteFileLog()
{
    ReplaceFileContents(NativeLocalPath(mLocalBaseDir, kUploadLogName), UploadLogContent());
}

void classUpload::AddLogEntry(const QString &myEntry)
{
    if (mLogCount == std::numeric_limits<qint32>::max())
        throw ProgramError(ProgramError::Overflow, ResourceString(4002));
    // Dropped before the list grows: holding on to the old list would make the append copy it.
    mLogIndex.reset();
    mLogList.append(myEntry.toLower());
    ++mLogCount;
}

const UploadLogIndex &classUpload::logIndex()
{
    if (!mLogIndex || !mLogIndex->describes(mLogList))
        mLogIndex.emplace(mLogList);
    return *mLogIndex;
}

bool classUpload::FileIsInLog(const QString &myDir, const QString &myFilename)
{
    // Exact and case-sensitive: the arguments come from a log that was written in lower case.
    return logIndex().containsFile(myDir, myFilename);
}

bool classUpload::DirIsInLog(const QString &myDir)
{
    return logIndex().containsFolder(myDir.toLower());
}
