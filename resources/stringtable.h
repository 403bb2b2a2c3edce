#pragma once

#include "messageid.h"

#include <QString>

// The program's messages live in one resource file of ids and texts (strings.txt), so that every
// text a user sees can be found, reviewed and translated in one place. Ids below 4000 are the ones
// the site builder's documentation quotes; ids from 4000 on are Parcelup's own additions.
//
// Throws std::out_of_range for an id that is not in the table: a missing text is a programming
// error, never something a user's input can cause.
[[nodiscard]] QString ResourceString(MessageId id);

// Whether the table holds the id; for tests and tools that list the table.
[[nodiscard]] bool HasResourceString(int id);
