#include "formatremainingtime.h"

#include "stringtable.h"

QString FormatRemainingTime(qint32 seconds)
{
    if (seconds == 0)
        return ResourceString(1007);

    // Division truncates toward zero, so for a negative input both parts carry the sign.
    const qint32 minutes = seconds / 60;
    const qint32 rest = seconds - 60 * minutes;

    QString text;
    if (minutes == 1)
        text = ResourceString(1001) + QLatin1Char(' ');
    else if (minutes != 0)
        text = QString::number(minutes) + ResourceString(1002) + QLatin1Char(' ');

    if (rest == 1)
        text += ResourceString(1006);
    else if (rest != 0)
        text += QString::number(rest) + ResourceString(1003);
    return text;
}
