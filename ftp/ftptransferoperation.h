#pragma once

#include "ftpactivitymeter.h"
#include "ftpoperation.h"
#include "ftpsentbyteswatcher.h"

#include <QTimer>
#include <memory>
#include <vector>

class FtpDataConnection;
class FtpDownloadFile;
class FtpTransferStream;
class QFile;

// GetFile and PutFile: opens a data connection, sends RETR or STOR and streams the file.
//
// An upload from an offset continues a file the server holds the first offset bytes of (RFC 3659):
// "REST offset" right before STOR, and the file from that byte on. Where the server refuses REST,
// APPE appends the rest instead, which gives the same file as long as the server's copy is exactly
// offset bytes long, as the caller has made sure (SIZE). A refused REST is remembered for the
// connection, and a server whose FEAT list leaves out "REST STREAM" is not asked at all. A server
// may also accept REST and then refuse the STOR after it (ProFTPD without AllowStoreRestart: "451
// Append/Restart not permitted"); then APPE is tried once for this file, on a new data connection.
//
// Data connection (RFC 959, RFC 2428), one helper per step, each either going on or falling back:
//   passive: EPSV, or PASV once the server refused EPSV on this connection;
//   active:  EPRT, or PORT once the server refused EPRT; when PORT is refused too, or the
//            server's connection does not arrive in time, passive mode is used for the rest of
//            the connection and the transfer is tried again.
//
// With TLS the data connection's handshake never starts before the transfer command went out:
// pyftpdlib closes a data connection that sends anything before it has a transfer command for
// it. In passive mode it follows the command at once, as the connection was just made; after a
// REST, which keeps the connection waiting for a round trip, and in active mode, where pyftpdlib
// connects as soon as it gets EPRT, it waits for the server's preliminary reply. Servers send
// that reply before they take the handshake (vsftpd, ProFTPD).
//
// A transfer succeeds only when every byte went through, the data connection closed in order and
// the final reply is 2yz. That reply often arrives before the last bytes have been read, so it is
// held back until the data connection has really closed.
//
// Giving up half-way (abort, a local file error, an active connection that never came) closes the
// data connection and re-synchronises the dialogue with ABOR before the request ends or is tried
// again, so no late reply of the old transfer is taken for the answer to the next command.
//
// The control connection's final reply decides what a transfer came to: a data connection that
// fails while that reply is still to come ends the request with the reply when it is negative. A
// "550" to RETR means that the file is not there, whatever the data connection did meanwhile.
class FtpTransferOperation : public FtpOperation
{
    Q_OBJECT

public:
    // Public only for the step trace, which prints the names.
    // The command whose final reply is awaited.
    enum class Awaiting { Nothing, Epsv, Pasv, Eprt, Port, Restart, Transfer };
    Q_ENUM(Awaiting)

    // Download: the bytes go to target. The file must not be open yet.
    FtpTransferOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                         bool passive, QString remoteName, std::unique_ptr<FtpDownloadFile> target);
    // Upload: the bytes come from source, already open for reading, from offset on; watchSent,
    // when given, sees them as they go.
    FtpTransferOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                         bool passive, QString remoteName, std::unique_ptr<QFile> source,
                         qint64 offset, FtpSentBytesWatcher watchSent = {});
    ~FtpTransferOperation() override;

    // Download: gives the transfer up beyond this many bytes (0: no limit); see
    // FtpControl::setDownloadLimit.
    void setDownloadLimit(qint64 bytes) { mDownloadLimit = bytes; }

    void abort() override;

protected:
    void begin() override;
    void handleReply(const FtpReply &reply) override;
    void handleSynchronised() override;
    void handleConnectionFailure(int result, const QString &description) override;
    void handleIdleTimeout() override;
    void cleanUp() override;

private:
    // The one place the awaited reply changes; it writes the step trace.
    void setAwaiting(Awaiting next);

    void openDataPath();
    // Replaces the data connection of an earlier attempt, if any.
    FtpDataConnection &newDataConnection();
    void startPassive();
    void sendPasv();
    void connectPassive(quint16 port);
    void startActive();
    void sendActivePort();
    void giveUpActiveMode(const QString &why);
    void activeConnectionOverdue();

    void dataEstablished();
    // REST first when an upload continues at an offset, then the transfer command itself.
    void sendTransferCommand();
    void sendTransferVerb();
    void handleRestartReply(const FtpReply &reply);
    void handleTransferReply(const FtpReply &reply);
    void startStreamWhenReady();
    void dataEnded(bool clean);
    void completeWhenBothEnded();

    // Ends the attempt: closes the data connection and brings the dialogue back in step; then the
    // request ends with result, or, without one, is tried again.
    void abandonAttempt(std::optional<std::pair<qint16, QString>> endWith);
    void retireDataPath();

    [[nodiscard]] bool isUpload() const { return mSource != nullptr; }

    QString mRemoteName;
    std::unique_ptr<QFile> mSource;
    FtpSentBytesWatcher mWatchSent;
    qint64 mOffset = 0;
    // The upload continues with APPE rather than REST and STOR.
    bool mAppend = false;
    // REST went out on this attempt's data connection.
    bool mRestartSent = false;
    std::unique_ptr<FtpDownloadFile> mTarget;
    bool mPassiveWanted;
    qint64 mDownloadLimit = 0;
    bool mPassiveAttempt = false;

    std::unique_ptr<FtpDataConnection> mData;
    std::unique_ptr<FtpTransferStream> mStream;
    // Data connections and streams of abandoned attempts. They may be in the middle of emitting
    // a signal when they are given up, so they live until the operation itself is destroyed.
    std::vector<std::unique_ptr<QObject>> mRetired;

    Awaiting mAwaiting = Awaiting::Nothing;
    bool mPreliminarySeen = false;
    std::optional<qint64> mAnnouncedSize;
    std::optional<FtpReply> mFinalReply;
    bool mDataEnded = false;
    bool mDataClean = false;

    bool mSynchronising = false;
    std::optional<std::pair<qint16, QString>> mEndAfterSynchronising;
    // The data connection failed while the server had still to answer RETR or STOR: its answer,
    // which comes while the dialogue is brought back in step, says what the transfer came to.
    bool mVerdictOutstanding = false;
    bool mAbortRequested = false;

    QTimer mActiveDeadline;
    FtpActivityMeter mMeter;
};
