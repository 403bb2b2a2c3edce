#include "numberconversion.h"

#include "roundhalfeven.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isSkipped(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

int digitValue(QChar c, int base)
{
    int value = -1;
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + 10;
    return value < base ? value : -1;
}

std::optional<double> radixNumber(const QString &digits, int base)
{
    double value = 0;
    for (const QChar c : digits) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            break;
        value = value * base + digit;
    }
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<double> NumberFromText(const QString &text)
{
    QString compact;
    compact.reserve(text.size());
    for (const QChar c : text) {
        if (!isSkipped(c))
            compact.append(c);
    }

    if (compact.size() >= 2 && compact.at(0) == QLatin1Char('&')) {
        const QChar kind = compact.at(1).toUpper();
        if (kind == QLatin1Char('H'))
            return radixNumber(compact.mid(2), 16);
        if (kind == QLatin1Char('O'))
            return radixNumber(compact.mid(2), 8);
    }

    // Collect the longest prefix that forms a decimal number; it only ever holds ASCII digits, a
    // sign,
    // "." and "e".
    std::string number;
    qsizetype i = 0;
    const qsizetype n = compact.size();
    if (i < n && (compact.at(i) == QLatin1Char('+') || compact.at(i) == QLatin1Char('-')))
        number += static_cast<char>(compact.at(i++).unicode());
    bool anyDigit = false;
    while (i < n && isDigit(compact.at(i))) {
        number += static_cast<char>(compact.at(i++).unicode());
        anyDigit = true;
    }
    if (i < n && compact.at(i) == QLatin1Char('.')) {
        number += '.';
        ++i;
        while (i < n && isDigit(compact.at(i))) {
            number += static_cast<char>(compact.at(i++).unicode());
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0.0;
    if (i < n) {
        const QChar e = compact.at(i).toUpper();
        if (e == QLatin1Char('E') || e == QLatin1Char('D')) {
            qsizetype j = i + 1;
            std::string exponent = "e";
            if (j < n && (compact.at(j) == QLatin1Char('+') || compact.at(j) == QLatin1Char('-')))
                exponent += static_cast<char>(compact.at(j++).unicode());
            bool exponentDigit = false;
            while (j < n && isDigit(compact.at(j))) {
                exponent += static_cast<char>(compact.at(j++).unicode());
                exponentDigit = true;
            }
            if (exponentDigit)
                number += exponent;
        }
    }

    // from_chars never looks at the locale: "." is the decimal separator whatever the user's
    // settings.
    double value = 0;
    const char *begin = number.data();
    if (*begin == '+')
        ++begin;
    const auto converted = std::from_chars(begin, number.data() + number.size(), value);
    if (converted.ec == std::errc::result_out_of_range) {
        // Too small to tell from 0 reads as 0; too large does not fit.
        if (number.find("e-") != std::string::npos)
            return 0.0;
        return std::nullopt;
    }
    if (converted.ec != std::errc() || !std::isfinite(value))
        return 0.0;
    return value;
}

std::optional<bool> TruthFromText(const QString &text)
{
    const auto number = NumberFromText(text);
    if (!number)
        return std::nullopt;
    return *number != 0.0;
}

std::optional<qint32> WholeNumberFromText(const QString &text)
{
    const auto number = NumberFromText(text);
    if (!number)
        return std::nullopt;
    const double rounded = RoundHalfEven(*number);
    if (rounded < static_cast<double>(std::numeric_limits<qint32>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return static_cast<qint32>(rounded);
}
