#include "sitefixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace SiteFixture {

void write(const QString &root, const QMap<QString, QByteArray> &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        // A path ending with "/" is a folder, as read() lists them.
        if (it.key().endsWith(QLatin1Char('/'))) {
            QDir().mkpath(path);
            continue;
        }
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(it.value());
    }
}

QMap<QString, QByteArray> read(const QString &root)
{
    QMap<QString, QByteArray> result;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            result.insert(relative + QLatin1Char('/'), QByteArray());
        } else {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                result.insert(relative, file.readAll());
        }
    }
    return result;
}

QMap<QString, QByteArray> expectedOnServer(const QMap<QString, QByteArray> &localFiles)
{
    QMap<QString, QByteArray> result;
    for (auto it = localFiles.cbegin(); it != localFiles.cend(); ++it) {
        const QString path = it.key().toLower();
        QString folder = QFileInfo(path).path();
        while (folder != QLatin1String(".") && !folder.isEmpty()) {
            result.insert(folder + QLatin1Char('/'), QByteArray());
            folder = QFileInfo(folder).path();
        }
        result.insert(path, it.value());
    }
    return result;
}

QMap<QString, QByteArray> sampleSite()
{
    QByteArray picture(70000, '\0');
    QRandomGenerator generator(42);
    for (auto &byte : picture)
        byte = char(generator.bounded(256));
    return {
        {QStringLiteral("index.html"), QByteArrayLiteral("<html>Start</html>\n")},
        {QStringLiteral("Style.CSS"), QByteArrayLiteral("body { margin: 0 }\r\n")},
        {QStringLiteral("leer.txt"), QByteArray()},
        {QStringLiteral("Bilder/Logo.png"), picture},
        {QStringLiteral("Bilder/Icons/pfeil.gif"), picture.left(999)},
        {QStringLiteral("seiten/a/b/c/tief.html"), QByteArrayLiteral("<p>tief</p>")},
        {QStringLiteral("seiten/kontakt.html"), QByteArrayLiteral("<p>Kontakt</p>")},
    };
}

} // namespace SiteFixture
