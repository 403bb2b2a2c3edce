#pragma once

#include "ftpreply.h"

#include <optional>

// Assembles replies from the lines of the control connection. A reply is either one line
// "123 text" (or just "123"), or starts with "123-text" and runs until a line that begins with the
// same code followed by a space; lines in between may say anything, including other digits.
class FtpReplyParser
{
public:
    enum class Outcome { NeedMoreLines, ReplyComplete, Malformed };

    // Feeds one line without its line end. After ReplyComplete, takeReply() returns the reply and
    // the parser is ready for the next one; after Malformed the connection cannot be trusted.
    [[nodiscard]] Outcome addLine(const QString &line);
    [[nodiscard]] FtpReply takeReply();

    // A server that never ends a multi-line reply must not make us collect lines forever.
    static constexpr int MaximumLines = 2000;

private:
    FtpReply mReply;
    bool mInMultiLine = false;
};
