#include "pathhelpers.h"

namespace {

void trimSeam(QString &first, QString &second)
{
    if (first.endsWith(QLatin1Char('/')))
        first.chop(1);
    if (first.endsWith(QLatin1Char('\\')))
        first.chop(1);
    if (second.startsWith(QLatin1Char('/')))
        second.remove(0, 1);
    if (second.startsWith(QLatin1Char('\\')))
        second.remove(0, 1);
}

} // namespace

QString JoinRemotePath(QString first, QString second)
{
    trimSeam(first, second);
    return first + QLatin1Char('/') + second;
}

QString JoinLocalPath(QString first, QString second)
{
    trimSeam(first, second);
    if (first.isEmpty())
        return second;
    return first + QLatin1Char('\\') + second;
}

QString ToRemoteSlashes(QString path)
{
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

PathAndFileName SplitPathAndFileName(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype backslash = path.lastIndexOf(QLatin1Char('\\'));
    const qsizetype last = std::max(slash, backslash);
    if (last < 0)
        return {QString(), path};
    return {path.left(last), path.mid(last + 1)};
}

QString RemotePathDown(const QString &siteFolder)
{
    return SplitRemotePath(siteFolder).join(QLatin1Char('/'));
}

QStringList SplitRemotePath(const QString &path)
{
    QStringList names;
    QString name;
    for (const QChar c : path) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\')) {
            if (!name.isEmpty())
                names.append(name);
            name.clear();
        } else {
            name.append(c);
        }
    }
    if (!name.isEmpty())
        names.append(name);
    return names;
}

bool SameRemotePath(const QString &first, const QString &second)
{
    return SplitRemotePath(first) == SplitRemotePath(second);
}

QString NativeLocalPath(const QString &siteFolder, const QString &relativePath)
{
    QString relative = relativePath;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    QString base = siteFolder;
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    if (relative.isEmpty())
        return base;
    if (base.endsWith(QLatin1Char('/')))
        return base + relative;
    return base + QLatin1Char('/') + relative;
}
