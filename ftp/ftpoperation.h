#pragma once

#include "ftpreply.h"
#include "ftptimeouts.h"

#include <QObject>
#include <QTimer>
#include <optional>

class FtpControlConnection;

// One request in progress on a control connection: the log-in, a single command, or a transfer.
// Each kind is a small state machine that sends a command and reacts to its reply by the reply's
// class. An operation ends exactly once (finish()); after that it ignores the connection and waits
// to be destroyed by its owner.
class FtpOperation : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        qint16 result = 0;
        QString text; // the deciding reply, or what went wrong on our side
        // The verb of the command the server refused, when it ended the request with a refusal.
        QString refusedCommand;
        std::optional<QString> currentDirectory;
        std::optional<qint64> fileSize;
    };

    FtpOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts);
    ~FtpOperation() override;

    void start();
    // The user gave up on the request: end it as soon as the dialogue allows, with
    // FtpResult::Aborted.
    virtual void abort() = 0;
    // The connection is being closed under the request: end it now, without further dialogue.
    void cancel(const QString &why);

    [[nodiscard]] bool hasFinished() const { return mFinished; }
    [[nodiscard]] const Outcome &outcome() const { return mOutcome; }

signals:
    void finished();
    // A remark of the component for the transcript (a fallback taken, a local failure).
    void note(const QString &text);
    void activity(qint64 bytesSoFar);

protected:
    virtual void begin() = 0;
    virtual void handleReply(const FtpReply &reply) = 0;
    virtual void handleSynchronised() {}
    // Default: the request fails with the connection's result.
    virtual void handleConnectionFailure(int result, const QString &description);
    // Default: the dialogue's state is unknown, so the connection is dropped and the request
    // fails with FtpResult::Timeout.
    virtual void handleIdleTimeout();
    // Releases what the operation holds (data connection, files) when it finishes.
    virtual void cleanUp() {}

    void finish(qint16 result, const QString &text);
    // 0 for a positive reply, otherwise ReplyBase + the reply's code.
    void finishWithReply(const FtpReply &reply);
    // Something happened: the idle time-out starts again.
    void stillAlive();
    // The request was aborted: from now on the idle time-out is the shorter one for aborts.
    void hurry();

    [[nodiscard]] FtpControlConnection &connection() { return mConnection; }
    [[nodiscard]] const FtpControlConnection &connection() const { return mConnection; }
    [[nodiscard]] const FtpTimeouts &timeouts() const { return mTimeouts; }
    void setCurrentDirectory(const QString &directory) { mOutcome.currentDirectory = directory; }
    void setFileSize(qint64 size) { mOutcome.fileSize = size; }

private:
    FtpControlConnection &mConnection;
    FtpTimeouts mTimeouts;
    QTimer mIdle;
    Outcome mOutcome;
    bool mStarted = false;
    bool mFinished = false;
};
