#include "sitetree.h"

#include "changemarkerstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <sys/stat.h>

void WriteSiteFile(const QString &root, const QString &relative, const QByteArray &content)
{
    const QString path = root + QLatin1Char('/') + relative;
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), content.size());
}

void MakeSiteTree(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const qsizetype arrow = entry.indexOf(QLatin1String("->"));
        if (arrow > 0) {
            const QString link = root + QLatin1Char('/') + entry.left(arrow);
            QVERIFY(QDir().mkpath(QFileInfo(link).path()));
            QVERIFY2(QFile::link(entry.mid(arrow + 2), link), qPrintable(entry));
        } else if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(root + QLatin1Char('/') + entry));
        } else if (entry.endsWith(QLatin1Char('|'))) {
            const QString pipe = root + QLatin1Char('/') + entry.chopped(1);
            QVERIFY(QDir().mkpath(QFileInfo(pipe).path()));
            QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        } else {
            const qsizetype equals = entry.indexOf(QLatin1Char('='));
            const QString name = equals < 0 ? entry : entry.left(equals);
            const QByteArray content = equals < 0 ? QByteArray() : entry.mid(equals + 1).toUtf8();
            WriteSiteFile(root, name, content);
        }
        if (QTest::currentTestFailed())
            return;
    }
}

std::optional<FileIdentity> SettledIdentity(const QString &path)
{
    std::optional<FileIdentity> identity;
    const bool settled = QTest::qWaitFor(
        [&] {
            identity = ChangeMarkerStore::readIdentity(path);
            return !identity || identity->changedNs != ChangeMarkerStore::kUnsettledChangeTime;
        },
        5000);
    if (!settled)
        return std::nullopt;
    return identity;
}
