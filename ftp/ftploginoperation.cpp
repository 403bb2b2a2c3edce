#include "ftploginoperation.h"

#include "ftpcontrolconnection.h"
#include "ftpresult.h"

FtpLoginOperation::FtpLoginOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                                     FtpServerAddress address, QString userName, QString password)
    : FtpOperation(connection, timeouts), mAddress(std::move(address)),
      mUserName(std::move(userName)), mPassword(std::move(password))
{}

void FtpLoginOperation::begin()
{
    connect(&connection(), &FtpControlConnection::opened, this, [this] {
        stillAlive();
        mStep = Step::Greeting;
    });
    connection().open(mAddress);
}

void FtpLoginOperation::abort()
{
    // Nothing worth keeping exists yet: a half-made log-in is simply dropped.
    connection().close();
    finish(FtpResult::Aborted, tr("The log-in was aborted."));
}

void FtpLoginOperation::handleReply(const FtpReply &reply)
{
    // 1yz: the server will answer again (a 120 "ready in n minutes" greeting, for example).
    if (reply.isPreliminary())
        return;

    switch (mStep) {
    case Step::Connecting:
    case Step::Greeting:
        if (!reply.isPositive()) {
            finishWithReply(reply);
            return;
        }
        mStep = Step::User;
        connection().send(QStringLiteral("USER ") + mUserName);
        return;

    case Step::User:
        // 230: some servers let a user in without a password.
        if (reply.isPositive()) {
            sendType();
        } else if (reply.code == 331) {
            mStep = Step::Password;
            connection().sendSecret(QStringLiteral("PASS"), mPassword);
        } else {
            // 332 (an account is needed) included: this component has no account to give.
            finish(static_cast<qint16>(FtpResult::ReplyBase + reply.code), reply.text());
        }
        return;

    case Step::Password:
        if (reply.isPositive())
            sendType();
        else
            finish(static_cast<qint16>(FtpResult::ReplyBase + reply.code), reply.text());
        return;

    case Step::Type:
        finishWithReply(reply);
        return;
    }
}

void FtpLoginOperation::sendType()
{
    mStep = Step::Type;
    connection().send(QStringLiteral("TYPE I"));
}
