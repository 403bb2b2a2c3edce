#pragma once

#include <QString>
#include <QStringList>

// One complete server reply (RFC 959, 4.2): a three-digit code and its text lines. A multi-line
// reply ("123-first" ... "123 last") arrives here already joined, so nothing above the parser
// ever looks at a partial reply.
struct FtpReply
{
    int code = 0;
    QStringList lines; // as received, without line ends

    // The first digit decides what happens next: 1 preliminary, 2 done, 3 more input needed,
    // 4 transient failure, 5 permanent failure.
    [[nodiscard]] bool isPreliminary() const { return code >= 100 && code < 200; }
    [[nodiscard]] bool isPositive() const { return code >= 200 && code < 300; }
    [[nodiscard]] bool isIntermediate() const { return code >= 300 && code < 400; }
    [[nodiscard]] bool isNegative() const { return code >= 400; }

    // The text of the first line after the code, where single-line answers such as 227, 229 and
    // 257 carry their value.
    [[nodiscard]] QString firstLineText() const
    {
        return lines.isEmpty() ? QString() : lines.first().mid(4);
    }
    [[nodiscard]] QString text() const { return lines.join(QLatin1Char('\n')); }
};
