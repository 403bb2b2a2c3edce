#pragma once

#include <QString>
#include <optional>

// Conversions of the text values in the settings file. The site builder writes numbers as text;
// these read them the way it always has, independent of the user's locale.

// The number at the start of the text. Blanks, tabs and line feeds are skipped wherever they are;
// then an optional sign, digits, an optional "." with fraction digits and an optional exponent (E
// or D, optional sign, digits). Reading stops at the first character that cannot continue the
// number.
// "&H" and "&O" introduce a hexadecimal or octal whole number. No number at the start gives 0.
// Returns std::nullopt when the number is too large for a double.
[[nodiscard]] std::optional<double> NumberFromText(const QString &text);

// True when the number at the start of the text is not 0. std::nullopt on overflow.
[[nodiscard]] std::optional<bool> TruthFromText(const QString &text);

// The number rounded to the nearest signed 32-bit whole number, exact halves to the even neighbour
// (0.5 gives 0, 1.5 and 2.5 give 2). std::nullopt when it does not fit.
[[nodiscard]] std::optional<qint32> WholeNumberFromText(const QString &text);
