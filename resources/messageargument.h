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

// The text of the string table with its arguments put in, each in its form.
[[nodiscard]] QString MessageText(MessageId id, const QList<MessageArgument> &arguments);
