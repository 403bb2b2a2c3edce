#pragma once

#include "ftpactivitymeter.h"
#include "ftpoperation.h"

#include <QTimer>
#include <memory>
#include <vector>

class FtpDataConnection;
class FtpDownloadFile;
class FtpTransferStream;
class QFile;

// GetFile and PutFile: opens a data connection, sends RETR or STOR and streams the file.
//
// Data connection (RFC 959, RFC 2428), one helper per step, each either going on or falling back:
//   passive: EPSV, or PASV once the server refused EPSV on this connection;
//   active:  EPRT, or PORT once the server refused EPRT; when PORT is refused too, or the
//            server's connection does not arrive in time, passive mode is used for the rest of
//            the connection and the transfer is tried again.
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
    // Download: the bytes go to target. The file must not be open yet.
    FtpTransferOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                         bool passive, QString remoteName, std::unique_ptr<FtpDownloadFile> target);
    // Upload: the bytes come from source, already open for reading.
    FtpTransferOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                         bool passive, QString remoteName, std::unique_ptr<QFile> source);
    ~FtpTransferOperation() override;

    void abort() override;

protected:
    void begin() override;
    void handleReply(const FtpReply &reply) override;
    void handleSynchronised() override;
    void handleConnectionFailure(int result, const QString &description) override;
    void handleIdleTimeout() override;
    void cleanUp() override;

private:
    // The command whose final reply is awaited.
    enum class Awaiting { Nothing, Epsv, Pasv, Eprt, Port, Transfer };

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
    void sendTransferCommand();
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
    std::unique_ptr<FtpDownloadFile> mTarget;
    bool mPassiveWanted;
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
