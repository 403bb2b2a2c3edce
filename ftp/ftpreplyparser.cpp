#include "ftpreplyparser.h"

namespace {

// The code of a line that starts with three digits followed by end, space or hyphen; 0 otherwise.
int leadingCode(const QString &line, QChar *separator)
{
    if (line.size() < 3)
        return 0;
    for (int i = 0; i < 3; ++i) {
        if (line.at(i) < QLatin1Char('0') || line.at(i) > QLatin1Char('9'))
            return 0;
    }
    const QChar after = line.size() > 3 ? line.at(3) : QLatin1Char(' ');
    if (after != QLatin1Char(' ') && after != QLatin1Char('-'))
        return 0;
    *separator = after;
    return line.left(3).toInt();
}

} // namespace

FtpReplyParser::Outcome FtpReplyParser::addLine(const QString &line)
{
    QChar separator;
    const int code = leadingCode(line, &separator);

    if (!mInMultiLine) {
        // The first digit of a reply code is 1 to 5; anything else is not an FTP reply.
        if (code < 100 || code > 599)
            return Outcome::Malformed;
        mReply = FtpReply{code, {line}};
        if (separator == QLatin1Char('-')) {
            mInMultiLine = true;
            return Outcome::NeedMoreLines;
        }
        return Outcome::ReplyComplete;
    }

    mReply.lines.append(line);
    if (code == mReply.code && separator == QLatin1Char(' ')) {
        mInMultiLine = false;
        return Outcome::ReplyComplete;
    }
    if (mReply.lines.size() > MaximumLines)
        return Outcome::Malformed;
    return Outcome::NeedMoreLines;
}

FtpReply FtpReplyParser::takeReply()
{
    FtpReply reply = std::move(mReply);
    mReply = FtpReply{};
    return reply;
}
