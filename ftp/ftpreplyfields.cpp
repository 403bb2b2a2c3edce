#include "ftpreplyfields.h"

#include <QRegularExpression>

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

std::optional<quint16> validPort(qint64 value)
{
    if (value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<quint16>(value);
}

} // namespace

std::optional<quint16> ParseExtendedPassivePort(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("\\(([!-~])\\1\\1(\\d{1,5})\\1\\)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return validPort(match.captured(2).toLongLong());
}

std::optional<quint16> ParsePassivePort(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3})"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    for (int i = 1; i <= 6; ++i) {
        if (match.captured(i).toInt() > 255)
            return std::nullopt;
    }
    return validPort(qint64{match.captured(5).toInt()} * 256 + match.captured(6).toInt());
}

std::optional<qint64> ParseSizeReply(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,18})\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toLongLong();
}
