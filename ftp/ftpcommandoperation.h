#pragma once

#include "ftpoperation.h"

// A request that is one command and one reply: PWD, CWD, MKD, DELE, RMD.
class FtpCommandOperation : public FtpOperation
{
    Q_OBJECT

public:
    enum class Expect {
        Confirmation, // any 2yz reply is success
        Directory,    // 257 with the current folder in quotes (PWD)
    };

    FtpCommandOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                        QString command, Expect expect);

    void abort() override;

protected:
    void begin() override;
    void handleReply(const FtpReply &reply) override;
    void handleIdleTimeout() override;

private:
    QString mCommand;
    Expect mExpect;
    bool mAbortRequested = false;
};
