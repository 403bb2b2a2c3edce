#pragma once

#include <QStringList>

// The upload-log look-ups as they read without an index: from the top of the list on every call.
// The reference that the index is checked and measured against.

inline bool LinearFileIsInLog(const QStringList &log, const QString &myDir,
                              const QString &myFilename)
{
    bool inBlock = myDir.isEmpty();
    for (const QString &entry : log) {
        if (entry.endsWith(QLatin1Char('\\')))
            inBlock = entry == myDir;
        else if (inBlock && entry == myFilename)
            return true;
    }
    return false;
}

inline bool LinearDirIsInLog(const QStringList &log, const QString &myDir)
{
    const QString wanted = myDir.toLower();
    for (const QString &entry : log) {
        if (entry.endsWith(QLatin1Char('\\')) && entry == wanted)
            return true;
    }
    return false;
}
