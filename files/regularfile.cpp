#include "regularfile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

RegularFileForReading::RegularFileForReading(const QString &path)
{
    mDescriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (mDescriptor < 0) {
        mError = errno;
        return;
    }
    struct stat info
    {
    };
    if (::fstat(mDescriptor, &info) != 0) {
        mError = errno;
        mState = State::NotExamined;
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        mState = State::NotRegular;
        return;
    }
    mState = State::Open;
    mSize = static_cast<qint64>(info.st_size);
}

RegularFileForReading::~RegularFileForReading()
{
    if (mDescriptor >= 0)
        ::close(mDescriptor);
}

int RegularFileForReading::take()
{
    if (!isOpen())
        return -1;
    // Reads from a regular file never wait; the flag goes all the same, as the new owner expects
    // an ordinary descriptor.
    ::fcntl(mDescriptor, F_SETFL, ::fcntl(mDescriptor, F_GETFL) & ~O_NONBLOCK);
    return std::exchange(mDescriptor, -1);
}
