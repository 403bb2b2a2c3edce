#pragma once

#include "ftpresult.h"

#include <QString>

// How one request to the FTP component ended, as the session reads it: completed (with the
// component's result and the server's last reply), never started (the component refused to begin
// it), or interrupted (the user's cancellation or the watchdog ended the wait first, and the
// component's result still describes an earlier request).
class RequestOutcome
{
public:
    enum class Ending { Completed, NotStarted, Interrupted };

    RequestOutcome() = default;
    static RequestOutcome completed(qint16 result, QString replyText = QString())
    {
        return RequestOutcome(Ending::Completed, result, std::move(replyText));
    }
    static RequestOutcome notStarted() { return RequestOutcome(Ending::NotStarted, 0, QString()); }
    static RequestOutcome interrupted()
    {
        return RequestOutcome(Ending::Interrupted, FtpResult::Aborted, QString());
    }

    [[nodiscard]] Ending ending() const { return mEnding; }
    [[nodiscard]] bool isCompleted() const { return mEnding == Ending::Completed; }
    [[nodiscard]] bool succeeded() const { return isCompleted() && mResult == FtpResult::Success; }
    // The component's result: 0, one of FtpResult's codes, or ReplyBase + the server's reply code.
    [[nodiscard]] qint16 result() const { return mResult; }
    [[nodiscard]] const QString &replyText() const { return mReplyText; }

    // The server answered with a refusal (4xx or 5xx), as opposed to a failure on our side.
    [[nodiscard]] bool isServerReply() const
    {
        return isCompleted() && mResult >= FtpResult::ReplyBase;
    }
    [[nodiscard]] int replyCode() const
    {
        return isCompleted() ? FtpResult::replyCode(mResult) : 0;
    }
    [[nodiscard]] bool isPermanentRefusal() const
    {
        return isCompleted() && FtpResult::isPermanentRefusal(mResult);
    }
    [[nodiscard]] bool isTransientRefusal() const
    {
        return isCompleted() && FtpResult::isTransientRefusal(mResult);
    }

private:
    RequestOutcome(Ending ending, qint16 result, QString replyText)
        : mEnding(ending), mResult(result), mReplyText(std::move(replyText))
    {}

    Ending mEnding = Ending::Completed;
    qint16 mResult = FtpResult::Success;
    QString mReplyText;
};
