#include "ftpstatefile.h"

#include "privatefolder.h"
#include "regularfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr QFileDevice::Permissions OwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

QString FtpStateFolder()
{
    QString folder = StateFolderPath();
    folder.chop(1);
    return folder;
}

std::optional<QStringList> ReadFtpStateLines(const QString &path, QString *error)
{
    // Opened as a regular file only: a pipe put in the list's place would wait for a writer, and
    // the log-in with it, for ever.
    RegularFileForReading opened(path);
    if (opened.state() == RegularFileForReading::State::NotOpened && opened.error() == ENOENT)
        return QStringList();
    if (!opened.isOpen()) {
        *error = QStringLiteral("cannot read \"%1\": %2")
                     .arg(path, opened.state() == RegularFileForReading::State::NotRegular
                                    ? QStringLiteral("not a regular file")
                                    : QString::fromLocal8Bit(std::strerror(opened.error())));
        return std::nullopt;
    }
    QFile file(path);
    const int descriptor = opened.take();
    if (!file.open(descriptor, QIODevice::ReadOnly | QIODevice::Text,
                   QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        *error = QStringLiteral("cannot read \"%1\": %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QStringList lines;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

bool WriteFtpStateLines(const QString &path, const QStringList &lines, QString *error)
{
    const QString folder = QFileInfo(path).absolutePath();
    const PrivateFolderOutcome made = MakePrivateFolder(folder);
    if (!made.ready()) {
        *error = made.state == PrivateFolderOutcome::State::NotCreated
                     ? QStringLiteral("cannot create the folder \"%1\"").arg(folder)
                     : QStringLiteral("the folder \"%1\" is not this user's own private folder")
                           .arg(folder);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || !file.setPermissions(OwnerOnlyFile) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 ||
        !file.commit()) {
        *error = QStringLiteral("cannot write \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
