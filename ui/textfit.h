#pragma once

#include <QFont>
#include <QStringList>

// Which end of a text gives way when it does not fit.
enum class ElideAt { Start, End };

struct FittedText
{
    QStringList lines;
    // Part of the text had to be dropped.
    bool shortened = false;
};

// Breaks a text into lines no wider than width pixels in the given font: at blanks where possible,
// inside a word only when the word alone is wider than a line. When more than maxLines lines would
// be needed, characters are dropped at the chosen end and "…" marks the place, so the result is
// never more than maxLines lines (at least one). The lines come without their trailing blanks.
[[nodiscard]] FittedText FitTextToLines(const QString &text, const QFont &font, qreal width,
                                        int maxLines, ElideAt elideAt);
