#include "classupload.h"
#include "pathhelpers.h"
#include "programerror.h"
#include "regularfile.h"
#include "replacefile.h"
#include "stringtable.h"
#include "uploadorder.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <limits>
#include <unistd.h>

// The upload log describes the whole local site, one block per folder: the folder line (its
// relative path and one "\", or "\" alone for the site folder) and then the bare names of its
// files. Each folder's subfolders come before it, so the site folder's block is the last. The next
// run compares the server's copy with the current list to find what was deleted locally.

namespace {

const QString kUploadLogName = UploadLogName();

} // namespace

void classUpload::BuildFileLog(const QString &mySubDir)
{
    WalkSite(mySubDir, true, nullptr);
}

void classUpload::ReadPreviousLocalLog()
{
    // What the previous run wrote tells, once, where the markers of an older store belong, and it
    // names what that run may have uploaded without getting its log onto the server.
    // Only a regular file tells anything; a named pipe in the log's place is not waited on. The log
    // written next replaces whatever stands there.
    RegularFileForReading opened(NativeLocalPath(mSettings.mLocalBaseDir, kUploadLogName));
    if (!opened.isOpen() || opened.size() > LargestUploadLog)
        return;
    QFile previous;
    const int descriptor = opened.take();
    if (!previous.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return;
    }
    mUploadLog.mPreviousLocalLog = previous.readAll();
}

QByteArray classUpload::UploadLogContent() const
{
    QByteArray content;
    for (const QString &entry : std::as_const(mUploadLog.mLogList)) {
        content += entry.toUtf8();
        content += "\r\n";
    }
    return content;
}

void classUpload::WriteFileLog()
{
    ReplaceFileContents(NativeLocalPath(mSettings.mLocalBaseDir, kUploadLogName),
                        UploadLogContent());
}

void classUpload::KeepInLog(const QList<std::pair<QString, QString>> &files,
                            const QStringList &folders)
{
    if (files.isEmpty() && folders.isEmpty())
        return;
    // Folders the site no longer has get blocks of their own ahead of all others, inner ones
    // first: the log lists subfolders before the folders that hold them, and the next run removes
    // folders in that order.
    QStringList newBlocks;
    QHash<QString, QStringList> namesIn;
    for (const auto &[folderLine, name] : files) {
        namesIn[folderLine].append(name);
        if (!DirIsInLog(folderLine) && !newBlocks.contains(folderLine))
            newBlocks.append(folderLine);
    }
    for (const QString &folderLine : folders) {
        if (!newBlocks.contains(folderLine))
            newBlocks.append(folderLine);
    }
    // A folder kept for what is still in it keeps the folders around it that the site no longer
    // has: their removal failed only because it was not empty, and the next run must try again.
    for (qsizetype i = 0; i < newBlocks.size(); ++i) {
        const QString inner = newBlocks.at(i).chopped(1);
        const qsizetype separator = inner.lastIndexOf(QLatin1Char('\\'));
        if (separator < 0)
            continue;
        const QString outer = inner.left(separator + 1);
        if (!DirIsInLog(outer) && !newBlocks.contains(outer))
            newBlocks.append(outer);
    }
    std::stable_sort(newBlocks.begin(), newBlocks.end(), [](const QString &a, const QString &b) {
        return a.count(QLatin1Char('\\')) > b.count(QLatin1Char('\\'));
    });

    QList<QString> entries;
    for (const QString &block : std::as_const(newBlocks))
        entries << block << namesIn.value(block);
    for (const QString &entry : std::as_const(mUploadLog.mLogList)) {
        entries << entry;
        if (entry.endsWith(QLatin1Char('\\')) && !newBlocks.contains(entry))
            entries << namesIn.value(entry);
    }
    mUploadLog.mLogIndex.reset();
    mUploadLog.mLogList = entries;
    mUploadLog.mLogCount = static_cast<qint32>(entries.size());
    WriteFileLog();
    RecordLogDestination();

    // The log is on the upload list already; its size counts towards the progress.
    const qint64 size = QFileInfo(NativeLocalPath(mSettings.mLocalBaseDir, kUploadLogName)).size();
    for (UploadItem &item : mQueue.mUploadList) {
        if (item.Path == kUploadLogName) {
            mQueue.mTotalBytes += static_cast<double>(size - item.Size);
            item.Size = size;
        }
    }
}

void classUpload::KeepServerLog()
{
    for (qsizetype i = mQueue.mUploadList.size() - 1; i >= 0; --i) {
        if (mQueue.mUploadList.at(i).Path != kUploadLogName)
            continue;
        mQueue.mTotalBytes -= static_cast<double>(mQueue.mUploadList.at(i).Size);
        mQueue.mUploadList.removeAt(i);
        --mQueue.mUploadCount;
    }
    mUploadLog.mServerLogKept = true;
}

void classUpload::AddLogEntry(const QString &myEntry)
{
    if (mUploadLog.mLogCount == std::numeric_limits<qint32>::max())
        throw ProgramError(ProgramError::Overflow, ResourceString(MessageId::Overflow));
    // Dropped before the list grows: holding on to the old list would make the append copy it.
    mUploadLog.mLogIndex.reset();
    mUploadLog.mLogList.append(myEntry.toLower());
    ++mUploadLog.mLogCount;
}

const UploadLogIndex &classUpload::logIndex()
{
    if (!mUploadLog.mLogIndex || !mUploadLog.mLogIndex->describes(mUploadLog.mLogList))
        mUploadLog.mLogIndex.emplace(mUploadLog.mLogList);
    return *mUploadLog.mLogIndex;
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
