#include "ftpdownloadfile.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

FtpDownloadFile::FtpDownloadFile(QString targetPath) : mTargetPath(std::move(targetPath)) {}

FtpDownloadFile::~FtpDownloadFile()
{
    discard();
}

bool FtpDownloadFile::open()
{
    const QFileInfo target(mTargetPath);
    const QString folder = target.path();
    // A few attempts in case a name is taken; O_EXCL makes a taken name fail instead of being
    // reused.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate =
            QStringLiteral("%1/.%2.part-%3")
                .arg(folder, target.fileName())
                .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        const QByteArray native = QFile::encodeName(candidate);
        const int fd =
            ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            mError = systemError(errno);
            return false;
        }
        if (!mFile.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            ::unlink(native.constData());
            mError = mFile.errorString();
            return false;
        }
        mTemporaryPath = candidate;
        return true;
    }
    mError = QStringLiteral("no free temporary name");
    return false;
}

bool FtpDownloadFile::commit()
{
    if (mTemporaryPath.isEmpty())
        return false;
    if (!mFile.flush()) {
        mError = mFile.errorString();
        discard();
        return false;
    }
    // On disk before the name changes, so a crash cannot leave an empty file under the target's
    // name.
    if (::fsync(mFile.handle()) != 0) {
        mError = systemError(errno);
        discard();
        return false;
    }
    mFile.close();
    if (::rename(QFile::encodeName(mTemporaryPath).constData(),
                 QFile::encodeName(mTargetPath).constData()) != 0) {
        mError = systemError(errno);
        discard();
        return false;
    }
    mTemporaryPath.clear();
    return true;
}

void FtpDownloadFile::discard()
{
    if (mFile.isOpen())
        mFile.close();
    if (!mTemporaryPath.isEmpty()) {
        ::unlink(QFile::encodeName(mTemporaryPath).constData());
        mTemporaryPath.clear();
    }
}
