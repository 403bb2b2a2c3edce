#include "contentdigest.h"

#include <QFile>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

struct ContentDigest::State
{
    struct Free
    {
        void operator()(XXH3_state_t *state) const { XXH3_freeState(state); }
    };
    std::unique_ptr<XXH3_state_t, Free> state{XXH3_createState()};
};

ContentDigest::ContentDigest() : mState(std::make_unique<State>())
{
    mFailed = !mState->state || XXH3_128bits_reset(mState->state.get()) != XXH_OK;
}

ContentDigest::~ContentDigest() = default;

void ContentDigest::add(QByteArrayView bytes)
{
    mBytesAdded += bytes.size();
    if (!mFailed && !bytes.isEmpty())
        mFailed = XXH3_128bits_update(mState->state.get(), bytes.data(),
                                      static_cast<size_t>(bytes.size())) != XXH_OK;
}

bool ContentDigest::addFile(const QString &path)
{
    // O_NONBLOCK: a pipe put in the file's place must not hang the reading.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    bool readToTheEnd = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    // One buffer for every file: a fresh one of this size would be mapped and faulted in anew each
    // time, which costs more than reading a small page. Large enough that the system calls cost
    // little, small enough to stay in the processor's cache. The scan runs on one thread.
    static thread_local std::array<char, 128 * 1024> buffer;
    while (readToTheEnd) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            readToTheEnd = count == 0;
            break;
        }
        add(QByteArrayView(buffer.data(), count));
    }
    ::close(fd);
    return readToTheEnd;
}

QByteArray ContentDigest::finish()
{
    if (mFailed)
        return {};
    mFailed = true; // finished: nothing more is taken
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(mState->state.get()));
    return QByteArray(reinterpret_cast<const char *>(canonical.digest), sizeof canonical.digest);
}
