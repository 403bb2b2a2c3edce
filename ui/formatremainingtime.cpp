#include "formatremainingtime.h"

#include "stringtable.h"

QString FormatRemainingTime(qint32 seconds)
{
    if (seconds == 0)
        return ResourceString(MessageId::UnderOneSecond);

    // Division truncates toward zero, so for a negative input both parts carry the sign.
    const qint32 minutes = seconds / 60;
    const qint32 rest = seconds - 60 * minutes;

    QString text;
    if (minutes == 1)
        text = ResourceString(MessageId::OneMinute) + QLatin1Char(' ');
    else if (minutes != 0)
        text =
            QString::number(minutes) + ResourceString(MessageId::MinutesSuffix) + QLatin1Char(' ');

    if (rest == 1)
        text += ResourceString(MessageId::OneSecond);
    else if (rest != 0)
        text += QString::number(rest) + ResourceString(MessageId::SecondsSuffix);
    return text;
}
