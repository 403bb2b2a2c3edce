#pragma once

#include "ftpcontrol.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <functional>

// A scripted stand-in for the FTP component, for session tests that need answers a real server
// cannot be made to give on demand (a request that never completes, a refusal of one particular
// folder, an error raised while starting). It keeps a small in-memory folder tree so that folder
// walks behave like a server's, and logs every request in FTP terms ("PWD", "CWD a", "MKD a", "STOR
// x", "RETR x", ...).
//
// Like the real component it completes every started request exactly once from the event loop, and
// its result()/currentDirectory() change only at completion.
class ScriptedFtp : public FtpControl
{
    Q_OBJECT

public:
    ScriptedFtp();

    qint16 result() const override { return mResult; }
    QString currentDirectory() const override { return mCurrentDirectory; }
    bool isBusy() const override { return mPending; }
    bool isConnected() const override { return connected; }
    std::optional<FtpTlsRefusal> tlsRefusal() const override { return mTlsRefusal; }
    qint64 fileSize() const override { return mFileSize; }
    // One scripted connection: the run uploads over it alone.
    std::unique_ptr<FtpControl> makeFurtherConnection() const override { return nullptr; }
    QString refusedCommand() const override { return mRefusedCommand; }

    void Connect() override;
    void QueryCurrentDirectory() override;
    void ChangeDirectory(const QString &folder) override;
    void CreateDirectory(const QString &folder) override;
    void DeleteFile(const QString &fileName) override;
    void RemoveDirectory(const QString &folder) override;
    void GetFile(const QString &remoteFileName, const QString &localPath) override;
    void PutFile(const QString &localPath, const QString &remoteFileName,
                 FtpSentBytesWatcher watchSent = {}) override;
    // Logged as "REST n" and "STOR x"; the file keeps its first offset bytes.
    void PutFileFrom(const QString &localPath, const QString &remoteFileName, qint64 offset,
                     FtpSentBytesWatcher watchSent = {}) override;
    // Logged as "RNFR a" and, after it went through, "RNTO b"; either may be scripted.
    void RenameFile(const QString &from, const QString &to) override;
    void QueryFileSize(const QString &fileName) override;
    void Disconnect() override;
    void Abort() override;

    // Server state: absolute folder paths ("/" and "/a/b"), files by absolute path.
    QSet<QString> folders{QStringLiteral("/")};
    QHash<QString, QByteArray> files;
    QString cwd = QStringLiteral("/");
    // What PWD reports; by default the current folder.
    std::function<QString()> reportedCurrentDirectory;

    // Every request and call, in order.
    QStringList log;
    // Local paths handed to PutFile and GetFile, in order.
    QStringList localPaths;

    // Scripting by request text ("CWD a", "STOR x.html", "CONNECT"), or by its verb alone ("RNFR",
    // "STOR") for names the session makes up:
    QHash<QString, qint16> refuse; // completes with this result instead of acting
    QSet<QString> hang;            // never completes on its own (Abort ends it)
    QSet<QString> raise;           // raises FtpError when started
    qint16 connectResult = 0;
    // Why Connect was refused over TLS, with a connectResult of FtpResult::TlsFailure or
    // FtpResult::CertificateChanged; published at the completion, as the component does.
    std::optional<FtpTlsRefusal> connectRefusal;
    // Whether the control connection stands; a test clears it to act a connection that broke.
    bool connected = true;
    // Runs when a request completes successfully, e.g. to advance a test clock.
    std::function<void(const QString &request)> onCompleted;
    // Runs when a request starts, before anything else, e.g. to cancel the run.
    std::function<void(const QString &request)> onStarted;

    [[nodiscard]] QString absolute(const QString &name) const;

private:
    // Returns false when the request is hung or raised.
    bool begin(const QString &request);
    void completeLater(const QString &request, qint16 result, const QString &directory = QString());

    // The scripted result for request (by its text, then its verb), if any.
    [[nodiscard]] std::optional<qint16> scripted(const QString &request) const;

    qint16 mResult = 0;
    qint64 mFileSize = -1;
    QString mRefusedCommand;
    std::optional<FtpTlsRefusal> mTlsRefusal;
    QString mCurrentDirectory;
    bool mPending = false;
    QString mPendingRequest;
    quint64 mGeneration = 0;
};
