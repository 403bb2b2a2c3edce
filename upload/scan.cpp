#include "classupload.h"

#include <stdexcept>

// Placeholder until the local scan lands: the run cannot publish without it.
void classUpload::BuildFileLog(const QString &)
{
    throw std::logic_error("the local scan is not built yet");
}

void classUpload::WriteFileLog()
{
    throw std::logic_error("the local scan is not built yet");
}

void classUpload::ScanLocalSubDir(const QString &)
{
    throw std::logic_error("the local scan is not built yet");
}

void classUpload::AddUploadFile(const QString &, const QString &)
{
    throw std::logic_error("the local scan is not built yet");
}

void classUpload::AddLogEntry(const QString &myEntry)
{
    ++mLogCount;
    mLogList.append(myEntry.toLower());
}

bool classUpload::FileIsInLog(const QString &myDir, const QString &myFilename)
{
    bool inBlock = myDir.isEmpty();
    for (const QString &entry : std::as_const(mLogList)) {
        if (entry.endsWith(QLatin1Char('\\')))
            inBlock = entry == myDir;
        else if (inBlock && entry == myFilename)
            return true;
    }
    return false;
}

bool classUpload::DirIsInLog(const QString &myDir)
{
    const QString wanted = myDir.toLower();
    for (const QString &entry : std::as_const(mLogList)) {
        if (entry.endsWith(QLatin1Char('\\')) && entry == wanted)
            return true;
    }
    return false;
}
