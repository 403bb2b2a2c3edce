#pragma once

#include "messageid.h"

#include <QList>
#include <QString>
#include <variant>

// A number that a message gives as a count, written with the digit grouping of the user's locale
// ("1.234").
struct LocalizedCount
{
    qint64 value = 0;
};

// What a message puts in place of %1, %2, ...: a name (a host, a path) as it is, a number as bare
// digits, or a count in the user's locale. Which form a number takes is part of the message: some
// are read by scripts and must stay bare digits.
using MessageArgument = std::variant<QString, qint64, LocalizedCount>;

// A text of the string table with what it names, for a face to put into words. The session
// decides what is said; the face says it. A message may have a second sentence of its own, which
// says why and what the user can do (a refused TLS connection); a face shows it after the first.
struct UserMessage
{
    UserMessage() = default;
    UserMessage(MessageId messageId, QList<MessageArgument> messageArguments = {},
                MessageId detail = MessageId::None, QList<MessageArgument> detailsArguments = {})
        : id(messageId), arguments(std::move(messageArguments)), detailId(detail),
          detailArguments(std::move(detailsArguments))
    {}

    MessageId id = MessageId::None;
    QList<MessageArgument> arguments;
    MessageId detailId = MessageId::None;
    QList<MessageArgument> detailArguments;
};
