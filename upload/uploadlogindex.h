#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

// Answers the clean-up's two questions about a complete log list (is this file listed in the block
// of this folder line, is this folder line listed) in constant time, so comparing an old log of n
// lines with the current one of m lines costs n + m instead of n times m.
//
// The answers are exactly those of reading the list from the top each time: a folder line (one
// that ends with "\") starts a block that runs to the next folder line, the lines before the first
// folder line form the block of the empty folder name, a folder line that occurs twice contributes
// both of its blocks, and all comparisons are exact and case-sensitive.
class UploadLogIndex
{
public:
    explicit UploadLogIndex(const QList<QString> &logList);

    // Whether the index still describes logList. It keeps a shallow copy of the list it was built
    // from: any change to the original detaches the two, which this detects.
    [[nodiscard]] bool describes(const QList<QString> &logList) const;

    [[nodiscard]] bool containsFile(const QString &folderLine, const QString &fileName) const;
    [[nodiscard]] bool containsFolder(const QString &folderLine) const;

private:
    QList<QString> mSource;
    // Folder line to the names of its block; the key "" holds the lines before the first folder
    // line, which no folder line can be confused with because folder lines end with "\".
    QHash<QString, QSet<QString>> mFilesByFolder;
    QSet<QString> mFolders;
};
