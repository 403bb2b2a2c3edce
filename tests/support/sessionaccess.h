#pragma once

#include "classupload.h"
#include "viewtexts.h"

// Tests read and set the session's private state through this friend, and start each case with a
// fresh session, as each process of the program starts with one.
struct classUploadTestAccess
{
    static classUpload &fresh()
    {
        classUpload::storage().reset(new classUpload());
        return classUpload::instance();
    }

    static classUpload &session() { return classUpload::instance(); }

    static bool &done() { return session().mDone; }
    static bool &aborted() { return session().mAborted; }
    // The id as the string table numbers it, 0 for none.
    static int errorId() { return int(session().mErrorId); }
    static void setErrorId(MessageId id) { session().mErrorId = id; }
    // The failure's message as the views show it, empty when none was recorded.
    static QString errorText()
    {
        if (session().mErrorId == MessageId::None)
            return QString();
        return ViewTexts::message({session().mErrorId, session().mErrorArguments});
    }
    static qint32 &watchDogTicks() { return session().mWatchDogTicks; }
    static qint32 &timeout() { return session().mTimeout; }
    static bool &deleteRemote() { return session().mDeleteRemote; }
    static bool &differentialMode() { return session().mDifferentialMode; }
    static QString &localBaseDir() { return session().mLocalBaseDir; }
    static QString &remoteBaseDir() { return session().mRemoteBaseDir; }
    static QString &remoteURL() { return session().mRemoteURL; }
    static QList<UploadItem> &uploadList() { return session().mUploadList; }
    static QList<QString> &logList() { return session().mLogList; }
    static qint32 &uploadCount() { return session().mUploadCount; }
    static qint32 &logCount() { return session().mLogCount; }
    static qint32 &filesDone() { return session().mFilesDone; }
    static double &totalBytes() { return session().mTotalBytes; }
    static double &bytesDone() { return session().mBytesDone; }
    static qint32 &startTime() { return session().mStartTime; }
    static DebugLog &debugFile() { return session().mDebugFile; }
    static std::optional<QByteArray> &previousLocalLog() { return session().mPreviousLocalLog; }

    static void waitForCompletion() { session().WaitForCompletion(); }
    static void addUploadFile(const QString &path, const QString &localPath)
    {
        session().AddUploadFile(path, localPath);
    }
    static void addLogEntry(const QString &entry) { session().AddLogEntry(entry); }
    static void putFile(const QString &local, const QString &remote)
    {
        session().FTPPutFile(local, remote);
    }
    static void recordFailure(MessageId id, const QString &concerned)
    {
        session().RecordFailure(id, concerned);
    }
    static ChangeMarkerStore &markers() { return session().markers(); }
    static QStringList &unpublishable() { return session().mUnpublishable; }
    static void recordUnpublishable() { session().RecordUnpublishable(); }
};
