#include "replacefile.h"

#include "localfileerror.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A hidden name, so a scan never picks up a file left behind by a crash.
QString temporarySibling(const QString &nativePath)
{
    const QFileInfo target(nativePath);
    return target.path() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.') +
           QString::number(QRandomGenerator::global()->generate64(), 36);
}

bool writeAll(int fd, const QByteArray &content)
{
    const char *data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

void ReplaceFileContents(const QString &nativePath, const QByteArray &content)
{
    QByteArray temporary;
    int fd = -1;
    // A name already taken (by an earlier crash, or by chance) just means another try.
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = QFile::encodeName(temporarySibling(nativePath));
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        ThrowFileWriteError(nativePath, errno);

    int error = 0;
    if (!writeAll(fd, content))
        error = errno;
    // Some file systems (NFS) report a failed write only when the file is closed.
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 &&
        std::rename(temporary.constData(), QFile::encodeName(nativePath).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        ThrowFileWriteError(nativePath, error);
    }
}
