#include "sitetree.h"

#include "changemarkerstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// Creates the folders of a relative path below root, name by name, as bytes.
bool makeRawFolders(const QByteArray &root, const QByteArray &relative)
{
    QByteArray path = root;
    for (const QByteArray &name : relative.split('/')) {
        if (name.isEmpty())
            continue;
        path += '/' + name;
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

QByteArray parentOf(const QByteArray &relative)
{
    const qsizetype slash = relative.lastIndexOf('/');
    return slash < 0 ? QByteArray() : relative.left(slash);
}

} // namespace

void MakeRawSiteTree(const QString &root, const QList<QByteArray> &entries)
{
    const QByteArray base = QFile::encodeName(root);
    for (const QByteArray &entry : entries) {
        const qsizetype arrow = entry.indexOf("->");
        if (arrow > 0) {
            const QByteArray link = entry.left(arrow);
            QVERIFY(makeRawFolders(base, parentOf(link)));
            QVERIFY2(::symlink(entry.mid(arrow + 2).constData(),
                               QByteArray(base + '/' + link).constData()) == 0,
                     entry.constData());
        } else if (entry.endsWith('/')) {
            QVERIFY(makeRawFolders(base, entry));
        } else if (entry.endsWith('|')) {
            const QByteArray pipe = entry.chopped(1);
            QVERIFY(makeRawFolders(base, parentOf(pipe)));
            QCOMPARE(::mkfifo(QByteArray(base + '/' + pipe).constData(), 0600), 0);
        } else {
            const qsizetype equals = entry.indexOf('=');
            const QByteArray name = equals < 0 ? entry : entry.left(equals);
            const QByteArray content = equals < 0 ? QByteArray() : entry.mid(equals + 1);
            QVERIFY(makeRawFolders(base, parentOf(name)));
            const int fd = ::open(QByteArray(base + '/' + name).constData(),
                                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            QVERIFY2(fd >= 0, entry.constData());
            const auto written = ::write(fd, content.constData(), size_t(content.size()));
            ::close(fd);
            QCOMPARE(qsizetype(written), content.size());
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
