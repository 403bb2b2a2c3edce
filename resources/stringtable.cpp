#include "stringtable.h"

#include "messageargument.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <stdexcept>
#include <string>

namespace {

QHash<int, QString> parseTable(const QString &content)
{
    QHash<int, QString> table;
    const auto lines = content.split(QLatin1Char('\n'));
    for (const QString &rawLine : lines) {
        QString line = rawLine;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        const qsizetype open = line.indexOf(QLatin1Char('"'));
        const qsizetype close = line.lastIndexOf(QLatin1Char('"'));
        if (tab <= 0 || open <= tab || close <= open)
            throw std::logic_error("malformed line in the string table: " + line.toStdString());
        bool ok = false;
        const int id = line.left(tab).trimmed().toInt(&ok);
        if (!ok)
            throw std::logic_error("malformed id in the string table: " + line.toStdString());
        table.insert(id, line.mid(open + 1, close - open - 1));
    }
    return table;
}

const QHash<int, QString> &table()
{
    static const QHash<int, QString> loaded = [] {
        QFile file(QStringLiteral(":/parcelup/strings.txt"));
        if (!file.open(QIODevice::ReadOnly))
            throw std::logic_error("the string table resource is missing");
        return parseTable(QString::fromUtf8(file.readAll()));
    }();
    return loaded;
}

} // namespace

QString ResourceString(MessageId id)
{
    const auto &strings = table();
    const auto it = strings.constFind(int(id));
    if (it == strings.cend())
        throw std::out_of_range("no text with id " + std::to_string(int(id)) +
                                " in the string table");
    return *it;
}

QString ResourceString(MessageId id, const QStringList &values)
{
    return FillPlaceholders(ResourceString(id), values);
}

QString FillPlaceholders(const QString &text, const QStringList &values)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('%') && i + 1 < text.size()) {
            const int number = text.at(i + 1).digitValue();
            if (number >= 1 && number <= values.size()) {
                result += values.at(number - 1);
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

bool HasResourceString(int id)
{
    return table().contains(id);
}

QString MessageText(MessageId id, const QList<MessageArgument> &arguments)
{
    QStringList values;
    values.reserve(arguments.size());
    for (const MessageArgument &argument : arguments) {
        if (const auto *text = std::get_if<QString>(&argument))
            values.append(*text);
        else if (const auto *count = std::get_if<LocalizedCount>(&argument))
            values.append(QLocale().toString(count->value));
        else
            values.append(QString::number(std::get<qint64>(argument)));
    }
    return ResourceString(id, values);
}
