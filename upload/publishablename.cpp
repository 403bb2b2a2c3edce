#include "publishablename.h"

#include <QFile>

namespace {

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence that starts at text[at], or 0 when the byte there
// does not start one. Overlong forms, encoded surrogates and values above U+10FFFF are not
// well-formed; the second byte's range for E0, ED, F0 and F4 excludes them.
qsizetype sequenceLength(const QByteArray &text, qsizetype at)
{
    const auto byte = [&](qsizetype offset) {
        return static_cast<unsigned char>(text.at(at + offset));
    };
    const unsigned char lead = byte(0);
    qsizetype length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            secondLow = 0xA0;
        else if (lead == 0xED)
            secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            secondLow = 0x90;
        else if (lead == 0xF4)
            secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    if (byte(1) < secondLow || byte(1) > secondHigh)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (!isContinuation(byte(i)))
            return 0;
    }
    return length;
}

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// The shown text cut into what the reader sees as one character each: an escape made by
// ShowableName, a surrogate pair, or a single UTF-16 unit.
QStringList shownCharacters(const QString &shown)
{
    QStringList characters;
    qsizetype at = 0;
    while (at < shown.size()) {
        qsizetype length = 1;
        if (shown.at(at) == QLatin1Char('\\') && at + 1 < shown.size()) {
            const QChar next = shown.at(at + 1);
            if (next == QLatin1Char('r') || next == QLatin1Char('n'))
                length = 2;
            else if (next == QLatin1Char('x') && at + 3 < shown.size() &&
                     isHexDigit(shown.at(at + 2)) && isHexDigit(shown.at(at + 3)))
                length = 4;
        } else if (shown.at(at).isHighSurrogate() && at + 1 < shown.size() &&
                   shown.at(at + 1).isLowSurrogate()) {
            length = 2;
        }
        characters.append(shown.mid(at, length));
        at += length;
    }
    return characters;
}

QString escapedByte(unsigned char byte)
{
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    return QLatin1String("\\x") + QLatin1Char(kHexDigits[byte >> 4]) +
           QLatin1Char(kHexDigits[byte & 0x0F]);
}

// How many characters the reader sees: a surrogate pair is one.
qsizetype shownWidth(const QString &shown)
{
    qsizetype width = shown.size();
    for (qsizetype at = 0; at + 1 < shown.size(); ++at) {
        if (shown.at(at).isHighSurrogate() && shown.at(at + 1).isLowSurrogate())
            --width;
    }
    return width;
}

} // namespace

bool IsPublishableName(const QByteArray &rawName)
{
    for (qsizetype at = 0; at < rawName.size();) {
        const qsizetype length = sequenceLength(rawName, at);
        if (length == 0)
            return false;
        const char c = rawName.at(at);
        if (c == '\\' || c == '\r' || c == '\n')
            return false;
        at += length;
    }
    // The name is opened again through its text form: it must come back byte for byte. The
    // conversion drops a byte order mark at the start, for instance.
    return QFile::encodeName(QFile::decodeName(rawName)) == rawName;
}

QString ShowableName(const QByteArray &rawName)
{
    QString shown;
    for (qsizetype at = 0; at < rawName.size();) {
        const qsizetype length = sequenceLength(rawName, at);
        const auto byte = static_cast<unsigned char>(rawName.at(at));
        if (length == 0) {
            shown += escapedByte(byte);
            ++at;
            continue;
        }
        const QByteArray sequence = rawName.mid(at, length);
        const QString character = QString::fromUtf8(sequence);
        if (byte == '\r') {
            shown += QLatin1String("\\r");
        } else if (byte == '\n') {
            shown += QLatin1String("\\n");
        } else if (character.toUtf8() != sequence) {
            // Dropped by the conversion (a byte order mark at the start of a name): shown by its
            // bytes, or the user would see a name that looks publishable.
            for (const char c : sequence)
                shown += escapedByte(static_cast<unsigned char>(c));
        } else {
            shown += character;
        }
        at += length;
    }
    return shown;
}

QString ShortenInTheMiddle(const QString &shown, qsizetype maxLength)
{
    if (shownWidth(shown) <= maxLength || maxLength < 1)
        return shown;
    const QStringList characters = shownCharacters(shown);
    // The end keeps the larger half: it holds the name and its extension.
    const qsizetype headRoom = (maxLength - 1) / 2;
    QString head;
    qsizetype first = 0;
    for (; first < characters.size(); ++first) {
        const QString &character = characters.at(first);
        if (shownWidth(head) + shownWidth(character) > headRoom)
            break;
        head += character;
    }
    const qsizetype tailRoom = maxLength - 1 - shownWidth(head);
    QString tail;
    for (qsizetype last = characters.size() - 1; last >= first; --last) {
        const QString &character = characters.at(last);
        if (shownWidth(tail) + shownWidth(character) > tailRoom)
            break;
        tail.prepend(character);
    }
    return head + QChar(0x2026) + tail;
}

QString QuotedNameList(const QStringList &shownPaths, const NameListLimits &limits)
{
    QString list;
    qsizetype taken = 0;
    for (const QString &path : shownPaths) {
        if (taken == limits.names)
            break;
        const QString quoted =
            QChar(0x201E) + ShortenInTheMiddle(path, limits.nameLength) + QChar(0x201C);
        const bool moreFollow = taken + 1 < shownPaths.size();
        const qsizetype length =
            (taken == 0 ? 0 : list.size() + 2) + shownWidth(quoted) + (moreFollow ? 3 : 0);
        // The first name is always given; the next ones only while they fit.
        if (taken > 0 && length > limits.totalLength)
            break;
        if (taken > 0)
            list += QStringLiteral(", ");
        list += quoted;
        ++taken;
    }
    if (taken < shownPaths.size())
        list += QStringLiteral(", ") + QChar(0x2026);
    return list;
}
