#include "ftpfeatures.h"

#include <utility>

namespace {

// The words of one feature line, upper-cased; blanks, ";" and "," all separate them.
QStringList featureWords(const QString &line)
{
    QStringList words;
    QString word;
    for (const QChar c : line) {
        if (c.isSpace() || c == u';' || c == u',') {
            if (!word.isEmpty())
                words.append(std::exchange(word, QString()));
            continue;
        }
        word.append(c.toUpper());
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

} // namespace

FtpFeatures FtpFeatures::fromReply(const FtpReply &reply)
{
    FtpFeatures features;
    features.listed = reply.isPositive();
    if (!features.listed)
        return features;
    // Feature lines start with a blank; one line may name several mechanisms (" AUTH TLS;SSL",
    // " AUTH SSL TLS"). The last line, "211 End", names nothing.
    for (qsizetype i = 1; i < reply.lines.size(); ++i) {
        const QStringList words = featureWords(reply.lines.at(i));
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
