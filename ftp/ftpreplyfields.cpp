#include "ftpreplyfields.h"

#include <algorithm>
#include <array>

std::optional<QString> ParseDirectoryReply(const QString &text)
{
    const qsizetype open = text.indexOf(QLatin1Char('"'));
    if (open < 0) {
        const QString word = text.trimmed().section(QLatin1Char(' '), 0, 0);
        if (word.isEmpty())
            return std::nullopt;
        return word;
    }

    QString path;
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('"')) {
            path.append(c);
            continue;
        }
        if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
            path.append(c);
            ++i;
            continue;
        }
        return path;
    }
    return std::nullopt; // no closing quote
}

namespace {

// These replies are read by hand rather than with regular expressions: a publication reads one on
// every data connection, and the expression engine alone costs the run half a megabyte of memory.

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// How many ASCII digits stand at `from`.
qsizetype digitsAt(const QString &text, qsizetype from)
{
    qsizetype end = from;
    while (end < text.size() && isAsciiDigit(text.at(end)))
        ++end;
    return end - from;
}

std::optional<quint16> validPort(qint64 value)
{
    if (value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<quint16>(value);
}

// "(dddN…d)" at `open`: three equal delimiters, 1 to 5 digits, the delimiter, ")". The delimiter
// may be any printable character, a digit included, so the longest digit run that is still
// followed by "d)" counts.
std::optional<qint64> extendedPortAt(const QString &text, qsizetype open)
{
    if (open + 4 >= text.size())
        return std::nullopt;
    const QChar delimiter = text.at(open + 1);
    if (delimiter < u'!' || delimiter > u'~' || text.at(open + 2) != delimiter ||
        text.at(open + 3) != delimiter)
        return std::nullopt;
    const qsizetype first = open + 4;
    for (qsizetype length = std::min<qsizetype>(5, digitsAt(text, first)); length >= 1; --length) {
        const qsizetype end = first + length;
        if (end + 1 < text.size() && text.at(end) == delimiter && text.at(end + 1) == u')')
            return text.mid(first, length).toLongLong();
    }
    return std::nullopt;
}

// Six numbers of one to three digits joined by commas, starting at `from`; the last may be
// followed by anything.
std::optional<std::array<int, 6>> passiveFieldsAt(const QString &text, qsizetype from)
{
    std::array<int, 6> fields{};
    qsizetype at = from;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const qsizetype run = digitsAt(text, at);
        const bool last = i + 1 == fields.size();
        const qsizetype length = last ? std::min<qsizetype>(run, 3) : run;
        if (length < 1 || length > 3)
            return std::nullopt;
        fields[i] = text.mid(at, length).toInt();
        at += length;
        if (!last) {
            if (at >= text.size() || text.at(at) != u',')
                return std::nullopt;
            ++at;
        }
    }
    return fields;
}

} // namespace

std::optional<quint16> ParseExtendedPassivePort(const QString &text)
{
    for (qsizetype open = text.indexOf(u'('); open >= 0; open = text.indexOf(u'(', open + 1)) {
        if (const std::optional<qint64> port = extendedPortAt(text, open))
            return validPort(*port);
    }
    return std::nullopt;
}

std::optional<quint16> ParsePassivePort(const QString &text)
{
    // The first place where six such numbers stand counts, as a server's text may carry other
    // numbers before the parentheses.
    for (qsizetype from = 0; from < text.size(); ++from) {
        if (!isAsciiDigit(text.at(from)))
            continue;
        const std::optional<std::array<int, 6>> fields = passiveFieldsAt(text, from);
        if (!fields)
            continue;
        if (std::any_of(fields->begin(), fields->end(), [](int field) { return field > 255; }))
            return std::nullopt;
        return validPort(qint64{(*fields)[4]} * 256 + (*fields)[5]);
    }
    return std::nullopt;
}

std::optional<qint64> ParseSizeReply(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 18 || digitsAt(digits, 0) != digits.size())
        return std::nullopt;
    return digits.toLongLong();
}
