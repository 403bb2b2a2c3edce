#include "debuglog.h"

#include "systemhelpers.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A log-in transcript is a few kilobytes; a server that sends megabytes of greeting must not fill
// the memory with it.
constexpr qsizetype MaximumHeldCharacters = 1 << 20;

} // namespace

DebugLog::~DebugLog()
{
    close();
}

QStringList DebugLog::defaultFolders()
{
    QStringList folders{QCoreApplication::applicationDirPath()};
    try {
        folders << GetStateFolder();
    } catch (const std::exception &) {
        // Without a state folder the log is simply not written anywhere else.
    }
    return folders;
}

bool DebugLog::open(const QStringList &candidateFolders)
{
    close();
    for (const QString &folder : candidateFolders) {
        if (folder.isEmpty())
            continue;
        QString path = folder;
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        path += QStringLiteral("parcelup.log");
        const QByteArray native = QFile::encodeName(path);
        const int fd =
            ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                   S_IRUSR | S_IWUSR);
        if (fd < 0)
            continue;
        // An older log may have been created with wider permissions.
        ::fchmod(fd, S_IRUSR | S_IWUSR);
        mFd = fd;
        mPath = path;
        return true;
    }
    return false;
}

void DebugLog::holdWhileClosed()
{
    close();
    mHolding = true;
}

bool DebugLog::writeHeld(const QStringList &candidateFolders)
{
    QString held = mHeld.join(QString());
    if (mHeldCut)
        held.prepend(QStringLiteral("# [the start of the log-in is left out]\r\n"));
    if (!open(candidateFolders))
        return false;
    writeToFile(held);
    close();
    return true;
}

void DebugLog::write(const QString &message)
{
    if (mFd >= 0) {
        writeToFile(message);
        return;
    }
    if (!mHolding)
        return;
    mHeld.append(message);
    mHeldCharacters += message.size();
    while (mHeldCharacters > MaximumHeldCharacters && mHeld.size() > 1) {
        mHeldCharacters -= mHeld.takeFirst().size();
        mHeldCut = true;
    }
}

void DebugLog::writeToFile(const QString &message)
{
    if (mFd < 0)
        return;
    const QByteArray bytes = message.toUtf8();
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(mFd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return; // A full disk must not end the publication; the log is only a record.
        }
        data += written;
        left -= written;
    }
}

void DebugLog::close()
{
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
    mHolding = false;
    mHeld.clear();
    mHeldCharacters = 0;
    mHeldCut = false;
}
