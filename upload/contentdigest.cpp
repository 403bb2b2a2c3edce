#include "contentdigest.h"

#include "regularfile.h"

#include <array>
#include <cerrno>
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
    const RegularFileForReading opened(path);
    bool readToTheEnd = opened.isOpen();
    // One buffer for every file: a fresh one of this size would be mapped and faulted in anew each
    // time, which costs more than reading a small page. Large enough that the system calls cost
    // little, small enough to stay in the processor's cache. The scan runs on one thread.
    static thread_local std::array<char, 128 * 1024> buffer;
    while (readToTheEnd) {
        const ssize_t count = ::read(opened.descriptor(), buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            readToTheEnd = count == 0;
            break;
        }
        add(QByteArrayView(buffer.data(), count));
    }
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
