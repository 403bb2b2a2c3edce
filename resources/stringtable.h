#pragma once

#include "messageid.h"

#include <QString>
#include <QStringList>

// The program's messages live in one resource file of ids and texts (strings.txt), so that every
// text a user sees can be found, reviewed and translated in one place. Ids below 4000 are the ones
// the site builder's documentation quotes; ids from 4000 on are Parcelup's own additions.
//
// Throws std::out_of_range for an id that is not in the table: a missing text is a programming
// error, never something a user's input can cause.
[[nodiscard]] QString ResourceString(MessageId id);

// The text with its placeholders %1 to %9 filled in one pass. A value that itself holds a
// placeholder (a file named "100%2.html", a folder "/tmp/%1") reaches the text as it is, where
// chained arg() or replace() calls would fill it once more. A placeholder without a value stays.
[[nodiscard]] QString ResourceString(MessageId id, const QStringList &values);
[[nodiscard]] QString FillPlaceholders(const QString &text, const QStringList &values);

// Whether the table holds the id; for tests and tools that list the table.
[[nodiscard]] bool HasResourceString(int id);
