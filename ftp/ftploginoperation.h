#pragma once

#include "ftpoperation.h"
#include "ftpserveraddress.h"

// Connect: opens the control connection, reads the greeting, logs in (USER, PASS) and switches to
// binary transfers (TYPE I) once, so every later transfer copies bytes unchanged.
class FtpLoginOperation : public FtpOperation
{
    Q_OBJECT

public:
    FtpLoginOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                      FtpServerAddress address, QString userName, QString password);

    void abort() override;

protected:
    void begin() override;
    void handleReply(const FtpReply &reply) override;

private:
    enum class Step { Connecting, Greeting, User, Password, Type };

    void sendType();

    FtpServerAddress mAddress;
    QString mUserName;
    QString mPassword;
    Step mStep = Step::Connecting;
};
