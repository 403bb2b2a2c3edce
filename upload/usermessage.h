#pragma once

#include "messageargument.h"
#include "messageid.h"

#include <QList>
#include <QString>

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
