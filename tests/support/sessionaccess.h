#pragma once

#include "classupload.h"
#include "pathhelpers.h"
#include "viewtexts.h"

// What a test sees of the session after a step: copies of the state the tests look at, named as
// the session's fields without their "m". A snapshot cannot change the session, so a check cannot
// disturb the state it checks; tests that need a particular state set it up through the explicit
// calls of classUploadTestAccess below.
struct SessionState
{
    bool done = false;
    bool aborted = false;
    // The id as the string table numbers it, 0 for none.
    qint32 errorId = 0;
    QString errorText;
    qint32 watchDogTicks = 0;
    qint32 timeout = 0;
    bool deleteRemote = false;
    bool differentialMode = false;
    QString localBaseDir;
    QString remoteBaseDir;
    QString remoteURL;
    QList<UploadItem> uploadList;
    qint32 uploadCount = 0;
    double totalBytes = 0;
    QList<QString> logList;
    qint32 logCount = 0;
    qint32 filesDone = 0;
    double bytesDone = 0;
    qint32 startTime = 0;
    bool debugLogOpen = false;
    QString debugLogPath;
    // What the walk for the upload list found but could not queue for its name, in order.
    QStringList unpublishable;
};

// Tests reach the session's private state through this friend, and start each case with a fresh
// session, as each process of the program starts with one.
struct classUploadTestAccess
{
    static classUpload &fresh()
    {
        classUpload::storage().reset(new classUpload());
        return classUpload::instance();
    }

    static classUpload &session() { return classUpload::instance(); }
    // The session's FTP component, the real one unless the test put another in place.
    static FtpControl &ftp() { return session().ftp(); }

    [[nodiscard]] static SessionState state()
    {
        const classUpload &s = session();
        SessionState state;
        state.done = s.mWait.mDone;
        state.aborted = s.mFailure.mAborted;
        state.errorId = static_cast<qint32>(s.mFailure.mErrorId);
        // The failure's message as the views show it, empty when none was recorded.
        if (s.mFailure.mErrorId != MessageId::None)
            state.errorText = ViewTexts::message(
                UserMessage(s.mFailure.mErrorId, s.mFailure.mErrorArguments,
                            s.mFailure.mErrorDetailId, s.mFailure.mErrorDetailArguments));
        state.watchDogTicks = s.mWait.mWatchDogTicks;
        state.timeout = s.mWait.mTimeout;
        state.deleteRemote = s.mSettings.mDeleteRemote;
        state.differentialMode = s.mSettings.mDifferentialMode;
        state.localBaseDir = s.mSettings.mLocalBaseDir;
        state.remoteBaseDir = s.mSettings.mRemoteBaseDir;
        state.remoteURL = s.mSettings.mRemoteURL;
        state.uploadList = s.mQueue.mUploadList;
        state.uploadCount = s.mQueue.mUploadCount;
        state.totalBytes = s.mQueue.mTotalBytes;
        state.logList = s.mUploadLog.mLogList;
        state.logCount = s.mUploadLog.mLogCount;
        state.filesDone = s.mRun.mFilesDone;
        state.bytesDone = s.mRun.mBytesDone;
        state.startTime = s.mRun.mStartTime;
        state.debugLogOpen = s.mDebugFile.isOpen();
        state.debugLogPath = s.mDebugFile.path();
        state.unpublishable = s.mUnpublishable.mPaths;
        return state;
    }

    // Set-up: states a test starts from that no public member of the session produces on its own.

    // The abort flag alone, as a cancellation leaves it, without a recorded failure.
    static void setAborted(bool aborted) { session().mFailure.mAborted = aborted; }
    // A failure id recorded earlier in the run, without the abort that recording it would set.
    static void setErrorId(MessageId errorId) { session().mFailure.mErrorId = errorId; }
    static void setWatchDogTicks(qint32 ticks) { session().mWait.mWatchDogTicks = ticks; }
    // Replaces the log list as a whole, count included, the way the clean-up rewrites it, without
    // going through AddLogEntry.
    static void replaceLogList(const QStringList &entries)
    {
        session().mUploadLog.mLogList = entries;
        session().mUploadLog.mLogCount = static_cast<qint32>(entries.size());
    }
    // The local upload log as a previous run left it.
    static void setPreviousLocalLog(const QByteArray &content)
    {
        session().mUploadLog.mPreviousLocalLog = content;
    }
    static void closeDebugLog() { session().mDebugFile.close(); }
    // The destination as the run names it, and the run's choice of it after the log-in.
    static QString destination() { return session().MarkerDestination(); }
    static void chooseDestination() { session().ChooseMarkerDestination(); }

    // Until the component reports a completion on the first connection (or a failure).
    static void waitForCompletion()
    {
        session().WaitForCompletion([] { return session().mWait.mDone; });
    }
    // Queues a file of the site as the walk would: localPath empty means the same as path.
    static void addUploadFile(const QString &path, const QString &localPath)
    {
        const QString real = localPath.isEmpty() ? path : localPath;
        session().AddUploadFile(path, real,
                                NativeLocalPath(session().mSettings.mLocalBaseDir, real));
    }
    static void addLogEntry(const QString &entry) { session().AddLogEntry(entry); }
    static void buildLogAndUploadList() { session().BuildFileLogAndUploadList(); }
    static void putFile(const QString &local, const QString &remote)
    {
        session().FTPPutFile(local, remote);
    }
    static void recordFailure(MessageId id, const QString &concerned)
    {
        session().RecordFailure(id, concerned);
    }
    static ChangeMarkerStore &markers() { return session().markers(); }
    static void recordUnpublishable() { session().RecordUnpublishable(); }
};
