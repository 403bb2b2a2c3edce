#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>
#include <memory>

// The XXH3-128 digest of a file's content, computed by the xxHash library. Site generators write
// every page anew on each build: the times and often the inode change, the bytes do not, and the
// digest tells the two apart. XXH3 is no cryptographic hash, and needs none here: only the user
// writes the site, so nobody crafts collisions. It runs at the speed of memory, so comparing a
// rebuilt site costs about what reading it costs. The digest is what "xxhsum -H2" prints, for
// checking a stored one by hand.
//
// The bytes are given in pieces, in order, as they pass by: while a file is sent, or from the file
// itself (addFile).
class ContentDigest
{
public:
    ContentDigest();
    ~ContentDigest();
    ContentDigest(const ContentDigest &) = delete;
    ContentDigest &operator=(const ContentDigest &) = delete;

    void add(QByteArrayView bytes);
    // Adds the content of the regular file at path (links followed), read once from start to end.
    // False when it cannot be opened or read, or is no regular file; what was read counts then.
    [[nodiscard]] bool addFile(const QString &path);
    [[nodiscard]] qint64 bytesAdded() const { return mBytesAdded; }
    // The digest of everything added, 16 bytes in the canonical (big-endian) order; empty when the
    // library failed. Ends the digest: nothing can be added afterwards.
    [[nodiscard]] QByteArray finish();

private:
    struct State;
    std::unique_ptr<State> mState;
    qint64 mBytesAdded = 0;
    bool mFailed = false;
};
