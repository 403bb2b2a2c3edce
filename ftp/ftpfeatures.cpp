#include "ftpfeatures.h"

#include <QRegularExpression>

FtpFeatures FtpFeatures::fromReply(const FtpReply &reply)
{
    FtpFeatures features;
    features.listed = reply.isPositive();
    if (!features.listed)
        return features;
    // Feature lines start with a blank; one line may name several mechanisms (" AUTH TLS;SSL",
    // " AUTH SSL TLS"). The last line, "211 End", names nothing.
    static const QRegularExpression separators(QStringLiteral("[\\s;,]+"));
    for (qsizetype i = 1; i < reply.lines.size(); ++i) {
        const QStringList words =
            reply.lines.at(i).trimmed().toUpper().split(separators, Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString &name = words.first();
        if (name == QLatin1String("AUTH"))
            features.authTls = features.authTls || words.mid(1).contains(QLatin1String("TLS"));
        else if (name == QLatin1String("SIZE"))
            features.size = true;
        else if (name == QLatin1String("REST"))
            features.restStream =
                features.restStream || words.mid(1).contains(QLatin1String("STREAM"));
    }
    return features;
}
