#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Names on disk that cannot become part of the published site, and how they are shown to the user.
//
// The upload log and the FTP dialogue carry names as UTF-8 text, one to a line, and the relative
// paths use "\" between names. A name that is not valid UTF-8 has no text form that opens the file
// again, and a name with "\", CR or LF would break a path, a log line or a command.

// Whether the name can be listed in the upload log and sent to a server.
[[nodiscard]] bool IsPublishableName(const QByteArray &rawName);

// The name as the user is shown it: valid UTF-8 as the characters it encodes, every other byte as
// "\x" and two upper-case hex digits (so is a byte order mark, which the conversion to text would
// drop unseen), CR as "\r", LF as "\n". A "\" stays as it is, so the form is for reading, not for
// finding the name again.
[[nodiscard]] QString ShowableName(const QByteArray &rawName);

// A shown name or path that is more than maxLength characters long, with its middle replaced by
// "…" so that the whole is maxLength long at most and both the folder it lies in and its ending
// stay readable. An escape such as "\xE9" and a character outside the basic plane are never cut
// apart.
[[nodiscard]] QString ShortenInTheMiddle(const QString &shown, qsizetype maxLength);

struct NameListLimits
{
    qsizetype names = 3;        // at most this many names
    qsizetype nameLength = 40;  // each shortened to this many characters
    qsizetype totalLength = 45; // the names after the first only while the list stays this long
};

// The first of the shown paths in German quotation marks, separated by ", ", each shortened in the
// middle, followed by ", …" when not all of them are given. The first path is always given; the
// following ones while the limits allow, so that the list fits one line of a message.
[[nodiscard]] QString QuotedNameList(const QStringList &shownPaths,
                                     const NameListLimits &limits = {});
