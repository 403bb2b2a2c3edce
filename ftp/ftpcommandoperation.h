#pragma once

#include "ftpoperation.h"

#include <QStringList>

// A request of one command and its reply (PWD, CWD, MKD, DELE, RMD, SIZE, FEAT), or of a short
// sequence in which each command but the last is answered "350 ready for the next one" (RNFR,
// RNTO; RFC 959). The server's refusal of any command ends the request with that refusal, and
// the commands after it are not sent.
class FtpCommandOperation : public FtpOperation
{
    Q_OBJECT

public:
    enum class Expect {
        Confirmation, // any 2yz reply is success
        Directory,    // 257 with the current folder in quotes (PWD)
        Size,         // 213 with a size in bytes (SIZE, RFC 3659)
        Features,     // 211 with a list of features (FEAT, RFC 2389), kept on the connection
    };

    FtpCommandOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                        QStringList commands, Expect expect);

    void abort() override;

protected:
    void begin() override;
    void handleReply(const FtpReply &reply) override;
    void handleIdleTimeout() override;

private:
    void handleFinalReply(const FtpReply &reply);

    QStringList mCommands;
    qsizetype mSent = 0;
    Expect mExpect;
    bool mAbortRequested = false;
};
