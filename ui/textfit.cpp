#include "textfit.h"

#include <QTextLayout>
#include <QTextOption>
#include <algorithm>

namespace {

const QChar kEllipsis(0x2026);

QStringList breakIntoLines(const QString &text, const QFont &font, qreal width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        QString part = text.mid(line.textStart(), line.textLength());
        while (!part.isEmpty() && part.back().isSpace())
            part.chop(1);
        lines.append(part);
    }
    layout.endLayout();
    return lines;
}

// Keeps `count` characters of the text, never splitting a surrogate pair.
QString keep(const QString &text, qsizetype count, ElideAt elideAt)
{
    if (elideAt == ElideAt::End) {
        if (count > 0 && count < text.size() && text.at(count - 1).isHighSurrogate())
            --count;
        QString kept = text.left(count);
        while (!kept.isEmpty() && kept.back().isSpace())
            kept.chop(1);
        return kept + kEllipsis;
    }
    if (count > 0 && count < text.size() && text.at(text.size() - count).isLowSurrogate())
        --count;
    QString kept = text.right(count);
    while (!kept.isEmpty() && kept.front().isSpace())
        kept.remove(0, 1);
    return kEllipsis + kept;
}

} // namespace

FittedText FitTextToLines(const QString &text, const QFont &font, qreal width, int maxLines,
                          ElideAt elideAt)
{
    maxLines = std::max(1, maxLines);
    QStringList lines = breakIntoLines(text, font, width);
    if (lines.size() <= maxLines)
        return {lines, false};

    // The more characters are kept, the more lines they need; find the most that still fit.
    qsizetype fits = 0;
    qsizetype tooMany = text.size();
    while (tooMany - fits > 1) {
        const qsizetype middle = fits + (tooMany - fits) / 2;
        if (breakIntoLines(keep(text, middle, elideAt), font, width).size() <= maxLines)
            fits = middle;
        else
            tooMany = middle;
    }
    lines = breakIntoLines(keep(text, fits, elideAt), font, width);
    // Line breaking is not strictly monotonic in the text's length; make sure of the result.
    while (lines.size() > maxLines && fits > 0)
        lines = breakIntoLines(keep(text, --fits, elideAt), font, width);
    return {lines, true};
}
