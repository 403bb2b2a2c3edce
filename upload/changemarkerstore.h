#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

// What the change marker remembers of a file: it counts as unchanged while all four stay the same.
// A write changes the times (and usually the size), a replacement by rename changes the inode, and
// setting the modification time back still changes the status-change time.
struct FileIdentity
{
    qint64 size;
    qint64 modifiedNs;
    qint64 changedNs;
    quint64 inode;
    bool operator==(const FileIdentity &) const = default;
};

// Linux files carry no "changed since the last upload" flag, so Parcelup keeps one itself: per
// absolute local path, the file's identity at its last successful upload. A file is marked (to be
// uploaded) when no stored identity equals its current one, so a new file, any write, a
// replacement and a restored time all mark it without the program that writes the site doing
// anything.
//
// A marker says "this state of the file is on this destination": the identities are kept per
// destination (where the files land: the host as written in the settings, the user and the remote
// base folder), so a run to a server or folder that has not seen the site uploads all of it, and
// switching back to an earlier destination uses that destination's markers.
//
// The store is an SQLite database in WAL mode with one commit per cleared file, or, while the
// session holds commits (holdCommits), one per tenth of a second. Those commits are not flushed to
// the disk one by one (a slow disk would otherwise slow the run by one sync per file): a crash of
// the program loses at most the held rows, and a power cut can only forget the newest "is on the
// server" rows; either makes those files go up again. Forgetting files is the other direction
// and is always flushed before the run goes on. A store that cannot be opened or is damaged is
// moved aside and started afresh; every file then counts as changed, which costs one full upload
// and is otherwise safe. When even a fresh file cannot be created (no space, no permission), the
// store lives in memory for this run only.
//
// With each marker the store keeps the XXH3-128 digest of the bytes that were uploaded, taken while
// they were sent. A file written again with the same bytes (as site generators rewrite every page
// on each build) has a new identity but the same digest; the session compares the two and gives
// the marker the new identity (renewIdentities), so the file is not sent again. The digest is
// written in the same statement as the identity, so a crash never pairs one upload's identity with
// another's digest.
//
// Stores of earlier versions knew no destinations. Their rows are kept apart as "unassigned" until
// a run finds out where they belong (adoptUnassigned) or that it cannot (discardUnassigned).
// What the store knows of a file's last upload to a destination.
struct PublishedFile
{
    FileIdentity identity;
    // The digest of the bytes uploaded (ContentDigest); empty when the upload was made by a version
    // that kept none, or its bytes could not all be seen.
    QByteArray digest;
};

// An upload under way: the file goes to storedName in folder (a temporary name that is renamed
// into place, or its own name), and the local file had identity when it started. Recorded before
// the first byte goes, so that a run that is killed or breaks off leaves a note of what it left on
// the server: the next run continues that transfer or deletes the temporary file.
struct PendingUpload
{
    QString folder;     // the remote folder, absolute: "/htdocs/bilder"
    QString storedName; // the name on the server during the transfer
    FileIdentity identity;
};

class ChangeMarkerStore
{
public:
    enum class Access {
        ReadWrite, // created when missing, set aside and started afresh when damaged
        ReadOnly,  // never created or written: a missing or unusable store knows no file
    };
    // Opens the store at databasePath.
    explicit ChangeMarkerStore(const QString &databasePath, Access access = Access::ReadWrite);
    ~ChangeMarkerStore();
    ChangeMarkerStore(const ChangeMarkerStore &) = delete;
    ChangeMarkerStore &operator=(const ChangeMarkerStore &) = delete;

    // The per-user store: GetStateFolder() + "markers.sqlite". The read-only path does not create
    // the folder.
    [[nodiscard]] static QString defaultPath();
    [[nodiscard]] static QString defaultPathToRead();

    // The file's current identity (links followed), or nothing when it cannot be examined.
    //
    // File times come from a clock that advances in ticks of a few milliseconds, and some file
    // systems keep whole seconds only. A file changed within the current tick can be written again
    // within that tick and keep the very same identity, which would hide the second write. Such an
    // identity is returned with changedNs = kUnsettledChangeTime: it never equals a stored one, and
    // clearing with it leaves the file marked, so the file is simply uploaded once more next time.
    [[nodiscard]] static std::optional<FileIdentity> readIdentity(const QString &absolutePath);
    static constexpr qint64 kUnsettledChangeTime = std::numeric_limits<qint64>::min();

    // Whether two identities read at different times describe the same state of the file. A change
    // time read while it was unsettled is not compared: size, modification time and inode still
    // tell a write apart, and such an identity never clears a marker anyway.
    [[nodiscard]] static bool sameState(const FileIdentity &earlier, const FileIdentity &later);

    // The destination that isMarked, clearMarker and markChanged refer to from now on; the store
    // starts with the empty one.
    void setDestination(const QString &destination);
    [[nodiscard]] QString destination() const { return mDestination; }

    // Whether the file has changed since its last upload: no stored identity equals current. When
    // the store cannot answer, the file counts as changed. Consecutive look-ups share one read
    // transaction (a scan asks once per file, and each transaction of its own costs file locks),
    // which the next change ends.
    [[nodiscard]] bool isMarked(const QString &absolutePath, const FileIdentity &current);
    // The file's last upload to the current destination, or nothing when the store knows none (or
    // cannot answer). Shares isMarked's read transaction.
    [[nodiscard]] std::optional<PublishedFile> lastUpload(const QString &absolutePath);

    // Records a successful upload. The identity must be the one read before the transfer started,
    // so that a write during the transfer leaves the file marked; digest is that of the bytes sent
    // (empty: none known). The file's pending upload, if any, is forgotten in the same commit,
    // which holdCommits may put off for a moment.
    void clearMarker(const QString &absolutePath, const FileIdentity &identityReadBeforeTransfer,
                     const QByteArray &digest = {});

    // Files found to hold the bytes of their last upload under a new identity take that identity,
    // keeping their digest, so the next scan finds them unchanged without reading them. One
    // transaction for all, not flushed on its own: should it be lost, the files are only read
    // once more. Unsettled identities are left out (see readIdentity).
    void renewIdentities(const QList<std::pair<QString, FileIdentity>> &files);

    // Forgets the file's last upload, so it counts as changed.
    void markChanged(const QString &absolutePath);

    // While on, recorded uploads (clearMarker) are committed together, at most kHoldAtMost after
    // the first of them and at once before any other change: a run of many small files otherwise
    // writes the same pages to the log once per file. What a crash loses then is the record of
    // the uploads of that moment, and those files go up once more. Off commits what is held. The
    // thread's event loop must run for the time limit to apply.
    void holdCommits(bool hold);
    static constexpr int kHoldAtMostMs = 100;

    // The file's upload under way at the current destination, as recordPending left it.
    [[nodiscard]] std::optional<PendingUpload> pendingUpload(const QString &absolutePath);
    // Every upload under way at the current destination, by absolute local path.
    [[nodiscard]] QList<std::pair<QString, PendingUpload>> pendingUploads();
    // Records an upload about to start, on the disk before this returns. False when it is not:
    // the store lives in memory, or the commit failed (a full disk); then nothing may be left on
    // the server that only this note would find again.
    [[nodiscard]] bool recordPending(const QString &absolutePath, const PendingUpload &pending);
    void forgetPending(const QString &absolutePath);

    // Whether files go straight to their own names at the current destination, because its
    // server refused a temporary name or a rename once; remembered for good.
    [[nodiscard]] bool uploadsDirectly();
    void rememberDirectUploads();

    // How many connections at once the current destination's server took when it last refused
    // one more, and when that was (seconds since the epoch); nothing when it never refused one.
    struct ConnectionLimit
    {
        int connections = 1;
        qint64 notedAt = 0;
    };
    [[nodiscard]] std::optional<ConnectionLimit> connectionLimit();
    // connections: how many worked when one more was refused; nothing: every one asked for
    // worked, and the destination has no limit that matters to us any more.
    void rememberConnectionLimit(std::optional<int> connections, qint64 now);

    // Forgets every file below folder that is not among present (absolute paths). A file the scan
    // no longer sees is deleted on the server by the clean-up, or was never there; were its row
    // kept, the same file put back unchanged (restored from the trash, moved out and back) would
    // count as published and never reach the server again. Committed durably, before anything is
    // sent to the server.
    void forgetAllBut(const QString &folder, const QStringList &present);

    // Rows of a store from a version without destinations, not yet given to one.
    [[nodiscard]] bool hasUnassigned();
    // They become the current destination's (where they do not contradict its own rows), or are
    // dropped; either way for good.
    void adoptUnassigned();
    void discardUnassigned();
    // Without changing the store: whether isMarked takes the unassigned rows for the current
    // destination's where it has none of its own (a preview answering as the run would).
    void consultUnassigned(bool consult) { mConsultUnassigned = consult; }

    // Where a damaged store was moved when this one was opened; empty when none was.
    [[nodiscard]] QString setAsidePath() const { return mSetAsidePath; }
    // False when the store could not be kept on disk and lives in memory for this run.
    [[nodiscard]] bool isPersistent() const { return mPersistent; }

private:
    struct Connection;

    void open();
    void setAside();
    // A store found damaged while in use is replaced by a fresh one.
    void recoverFrom(int sqliteResult);
    void endReading();
    void endReadingUnlessHeld();
    // Whether this store may be changed: a read-only one never is, not even in memory.
    [[nodiscard]] bool isWritable() const;
    // Runs the statements as one transaction that is on the disk when this returns.
    [[nodiscard]] int commitDurably(const std::function<int()> &statements);
    // Held: one of the commits that holdCommits puts together, when it is on.
    enum class Flush { Held, WithTheNextSync, Now };
    [[nodiscard]] int commit(const std::function<int()> &statements, Flush flush);

    QString mPath;
    Access mAccess = Access::ReadWrite;
    QString mDestination;
    bool mConsultUnassigned = false;
    QString mSetAsidePath;
    bool mPersistent = false;
    // A transaction is open: reads share it, and held commits (Flush::Held) add to it; the next
    // change of any other kind commits it first (endReading).
    bool mReading = false;
    bool mHolding = false;
    std::unique_ptr<class QTimer> mHeldLimit;
    std::unique_ptr<Connection> mConnection;
};
