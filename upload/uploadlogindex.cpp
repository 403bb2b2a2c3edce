#include "uploadlogindex.h"

UploadLogIndex::UploadLogIndex(const QList<QString> &logList) : mSource(logList)
{
    // Looked up afresh for every line: a QHash may move its values when it grows.
    QString folderLine;
    for (const QString &line : logList) {
        if (line.endsWith(QLatin1Char('\\'))) {
            folderLine = line;
            mFolders.insert(line);
        } else {
            mFilesByFolder[folderLine].insert(line);
        }
    }
}

bool UploadLogIndex::describes(const QList<QString> &logList) const
{
    return mSource.size() == logList.size() && mSource.constData() == logList.constData();
}

bool UploadLogIndex::containsFile(const QString &folderLine, const QString &fileName) const
{
    const auto block = mFilesByFolder.constFind(folderLine);
    return block != mFilesByFolder.cend() && block->contains(fileName);
}

bool UploadLogIndex::containsFolder(const QString &folderLine) const
{
    return mFolders.contains(folderLine);
}
