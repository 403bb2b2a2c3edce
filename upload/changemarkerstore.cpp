#include "changemarkerstore.h"

#include "privatefolder.h"
#include "systemhelpers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace {

struct DatabaseCloser
{
    void operator()(sqlite3 *database) const { sqlite3_close_v2(database); }
};
struct StatementFinalizer
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

constexpr qint64 kNanosecondsPerSecond = 1'000'000'000;

qint64 nanoseconds(const timespec &time)
{
    // A modification time can be set to any date; one beyond the year 2262 is held at the limit
    // rather than overflowing.
    qint64 result = 0;
    if (__builtin_mul_overflow(static_cast<qint64>(time.tv_sec), kNanosecondsPerSecond, &result) ||
        __builtin_add_overflow(result, static_cast<qint64>(time.tv_nsec), &result))
        return time.tv_sec < 0 ? std::numeric_limits<qint64>::min() + 1
                               : std::numeric_limits<qint64>::max();
    return result;
}

// Whether a later write is bound to give the file another status-change time. Writes are stamped
// from the coarse clock, which never runs behind a time read before the file was examined, so a
// change time older than that reading cannot come again. A change time in whole seconds suggests a
// file system that keeps only seconds (or two, on FAT); it must then lie further back.
bool isSettled(qint64 changedNs, qint64 lookedAtNs)
{
    const qint64 margin = changedNs % kNanosecondsPerSecond == 0 ? 2 * kNanosecondsPerSecond : 0;
    return changedNs < lookedAtNs - margin;
}

// Paths are stored as absolute, cleaned paths, so "site/./a" and "site/a" are one file.
QByteArray storeKey(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toUtf8();
}

void bindText(sqlite3_stmt *statement, int index, const QByteArray &text)
{
    // The bytes stay alive until the statement is reset.
    sqlite3_bind_text(statement, index, text.constData(), static_cast<int>(text.size()),
                      SQLITE_STATIC);
}

void bindBlob(sqlite3_stmt *statement, int index, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        sqlite3_bind_null(statement, index);
    else
        sqlite3_bind_blob(statement, index, bytes.constData(), static_cast<int>(bytes.size()),
                          SQLITE_STATIC);
}

// The table of markers. A store of the version before digests lacks the last column; it is added
// when the store is opened for writing, and the markers stay, without digests.
constexpr char kPublishedColumns[] = " (destination TEXT NOT NULL,"
                                     " path TEXT NOT NULL,"
                                     " size INTEGER NOT NULL,"
                                     " modified_ns INTEGER NOT NULL,"
                                     " changed_ns INTEGER NOT NULL,"
                                     " inode INTEGER NOT NULL,"
                                     " digest BLOB,"
                                     " PRIMARY KEY (destination, path)) WITHOUT ROWID";

// Uploads under way, and the destinations whose servers take files only under their own names.
// Both tables are new to stores of earlier versions, which get them empty when opened.
constexpr char kPendingColumns[] = " (destination TEXT NOT NULL,"
                                   " path TEXT NOT NULL,"
                                   " folder TEXT NOT NULL,"
                                   " stored_name TEXT NOT NULL,"
                                   " size INTEGER NOT NULL,"
                                   " modified_ns INTEGER NOT NULL,"
                                   " changed_ns INTEGER NOT NULL,"
                                   " inode INTEGER NOT NULL,"
                                   " PRIMARY KEY (destination, path)) WITHOUT ROWID";
constexpr char kDirectColumns[] = " (destination TEXT PRIMARY KEY NOT NULL) WITHOUT ROWID";
constexpr char kLimitColumns[] = " (destination TEXT PRIMARY KEY NOT NULL,"
                                 " connections INTEGER NOT NULL, noted INTEGER NOT NULL)"
                                 " WITHOUT ROWID";

bool isDamage(int result)
{
    return result == SQLITE_CORRUPT || result == SQLITE_NOTADB;
}

// A store that another process holds locked is not damaged; it must not be moved aside.
bool isLockedByOthers(int result)
{
    return result == SQLITE_BUSY || result == SQLITE_LOCKED;
}

} // namespace

struct ChangeMarkerStore::Connection
{
    Database database;
    Statement select;
    Statement upsert;
    Statement remove;
    // The rows of a store from a version without destinations are still in their own table.
    bool hasUnassigned = false;
    Statement selectUnassigned;

    // Opens and checks a store; returns the SQLite result that made it unusable, or SQLITE_OK.
    // A read-only connection changes nothing in the file.
    int open(const QByteArray &path, int flags, bool readOnly = false);
    [[nodiscard]] int execute(const char *sql) const;
    [[nodiscard]] int prepare(const char *sql, Statement &statement) const;
    // Steps a statement to its end and resets it; SQLITE_OK when it ran through.
    [[nodiscard]] int run(sqlite3_stmt *statement) const;
    [[nodiscard]] bool tableExists(const char *name) const;
    [[nodiscard]] bool columnExists(const char *table, const char *column) const;
    [[nodiscard]] int removePending(const QByteArray &destination, const QByteArray &key) const;
    // The statement for sql (a literal), prepared on its first use and kept: a run asks some
    // questions once per file. Null when it cannot be prepared. Left reset after each use.
    [[nodiscard]] sqlite3_stmt *cached(const char *sql) const;
    mutable std::unordered_map<const char *, Statement> statements;
};

sqlite3_stmt *ChangeMarkerStore::Connection::cached(const char *sql) const
{
    Statement &statement = statements[sql];
    if (!statement && prepare(sql, statement) != SQLITE_OK)
        statement.reset();
    return statement.get();
}

int ChangeMarkerStore::Connection::removePending(const QByteArray &destination,
                                                 const QByteArray &key) const
{
    sqlite3_stmt *removal = cached("DELETE FROM pending WHERE destination = ?1 AND path = ?2");
    if (!removal)
        return sqlite3_errcode(database.get());
    bindText(removal, 1, destination);
    bindText(removal, 2, key);
    return run(removal);
}

int ChangeMarkerStore::Connection::execute(const char *sql) const
{
    return sqlite3_exec(database.get(), sql, nullptr, nullptr, nullptr);
}

int ChangeMarkerStore::Connection::prepare(const char *sql, Statement &statement) const
{
    sqlite3_stmt *raw = nullptr;
    const int result =
        sqlite3_prepare_v3(database.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    statement.reset(raw);
    return result;
}

int ChangeMarkerStore::Connection::run(sqlite3_stmt *statement) const
{
    int result = SQLITE_ROW;
    while (result == SQLITE_ROW)
        result = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return result == SQLITE_DONE ? SQLITE_OK : result;
}

bool ChangeMarkerStore::Connection::tableExists(const char *name) const
{
    Statement query;
    if (prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", query) !=
        SQLITE_OK)
        return false;
    sqlite3_bind_text(query.get(), 1, name, -1, SQLITE_STATIC);
    return sqlite3_step(query.get()) == SQLITE_ROW;
}

bool ChangeMarkerStore::Connection::columnExists(const char *table, const char *column) const
{
    Statement query;
    if (prepare("SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2", query) != SQLITE_OK)
        return false;
    sqlite3_bind_text(query.get(), 1, table, -1, SQLITE_STATIC);
    sqlite3_bind_text(query.get(), 2, column, -1, SQLITE_STATIC);
    return sqlite3_step(query.get()) == SQLITE_ROW;
}

int ChangeMarkerStore::Connection::open(const QByteArray &path, int flags, bool readOnly)
{
    sqlite3 *raw = nullptr;
    int result = sqlite3_open_v2(path.constData(), &raw, flags, nullptr);
    database.reset(raw);
    if (result != SQLITE_OK)
        return result;

    // One process at a time publishes (the instance lock), so the store need not be shared while
    // it is open: the locks are taken once and kept, instead of twice per transaction with a
    // shared-memory index beside the file, which a run of thousands of small files pays for on
    // every file. Set before the first read, so that the write-ahead log never uses that index.
    if (!readOnly && (result = execute("PRAGMA locking_mode=EXCLUSIVE")) != SQLITE_OK)
        return result;

    // Damage shows on the first read, and the integrity check finds what a read might miss.
    Statement check;
    result = prepare("PRAGMA quick_check", check);
    if (result != SQLITE_OK)
        return result;
    result = sqlite3_step(check.get());
    if (result != SQLITE_ROW)
        return result;
    const auto *verdict = reinterpret_cast<const char *>(sqlite3_column_text(check.get(), 0));
    if (!verdict || qstrcmp(verdict, "ok") != 0)
        return SQLITE_CORRUPT;
    check.reset();

    // WAL: every commit is one append, and a crash cannot leave a half-written store behind.
    // NORMAL: a commit is not flushed on its own (see the class comment).
    if (!readOnly && ((result = execute("PRAGMA journal_mode=WAL")) != SQLITE_OK ||
                      (result = execute("PRAGMA synchronous=NORMAL")) != SQLITE_OK))
        return result;
    // Read-only, a store without the table (one of an earlier version) gets an empty one in
    // memory, so the same queries find nothing.
    const bool temporary = readOnly && !tableExists("published");
    const QByteArray create = QByteArray(temporary ? "CREATE TEMP TABLE published"
                                                   : "CREATE TABLE IF NOT EXISTS published") +
                              kPublishedColumns;
    if ((result = execute(create.constData())) != SQLITE_OK)
        return result;
    for (const auto &[name, columns] :
         {std::pair{"pending", kPendingColumns}, std::pair{"direct_uploads", kDirectColumns},
          std::pair{"connection_limits", kLimitColumns}}) {
        const QByteArray createTable =
            QByteArray(readOnly && !tableExists(name) ? "CREATE TEMP TABLE "
                                                      : "CREATE TABLE IF NOT EXISTS ") +
            name + columns;
        if ((result = execute(createTable.constData())) != SQLITE_OK)
            return result;
    }
    // Adding a column changes only the schema, in one transaction of its own.
    bool hasDigests = columnExists("published", "digest");
    if (!hasDigests && !readOnly) {
        if ((result = execute("ALTER TABLE published ADD COLUMN digest BLOB")) != SQLITE_OK)
            return result;
        hasDigests = true;
    }

    // The table of a store from a version without destinations. One of another shape (a store from
    // something else) fails here and counts as damaged.
    hasUnassigned = tableExists("markers");
    if (hasUnassigned) {
        if ((result = prepare("SELECT size, modified_ns, changed_ns, inode, NULL FROM markers"
                              " WHERE path = ?1",
                              selectUnassigned)) != SQLITE_OK)
            return result;
    }

    if ((result = prepare(hasDigests ? "SELECT size, modified_ns, changed_ns, inode, digest"
                                       " FROM published WHERE destination = ?1 AND path = ?2"
                                     : "SELECT size, modified_ns, changed_ns, inode, NULL"
                                       " FROM published WHERE destination = ?1 AND path = ?2",
                          select)) != SQLITE_OK)
        return result;
    // A read-only connection never writes, so it prepares nothing that would.
    if (readOnly)
        return SQLITE_OK;
    if ((result = prepare("INSERT OR REPLACE INTO published (destination, path, size, "
                          "modified_ns, changed_ns, inode, digest) "
                          "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                          upsert)) != SQLITE_OK ||
        (result = prepare("DELETE FROM published WHERE destination = ?1 AND path = ?2", remove)) !=
            SQLITE_OK)
        return result;
    return SQLITE_OK;
}

ChangeMarkerStore::ChangeMarkerStore(const QString &databasePath, Access access)
    : mPath(databasePath), mAccess(access)
{
    open();
}

ChangeMarkerStore::~ChangeMarkerStore()
{
    endReading();
}

void ChangeMarkerStore::holdCommits(bool hold)
{
    mHolding = hold;
    if (hold && !mHeldLimit) {
        mHeldLimit = std::make_unique<QTimer>();
        mHeldLimit->setSingleShot(true);
        mHeldLimit->setInterval(kHoldAtMostMs);
        QObject::connect(mHeldLimit.get(), &QTimer::timeout, [this] { endReading(); });
    }
    if (!hold)
        endReading();
}

QString ChangeMarkerStore::defaultPath()
{
    return GetStateFolder() + QStringLiteral("markers.sqlite");
}

QString ChangeMarkerStore::defaultPathToRead()
{
    return StateFolderPath() + QStringLiteral("markers.sqlite");
}

void ChangeMarkerStore::open()
{
    if (mAccess == Access::ReadOnly) {
        auto connection = std::make_unique<Connection>();
        // Opened for writing all the same, but nothing is written: a connection that may write
        // takes the write-ahead files it needs away again when it closes, which a read-only one
        // cannot do.
        const bool exists = QFileInfo(mPath).isFile();
        if ((exists &&
             connection->open(QFile::encodeName(mPath),
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, true) == SQLITE_OK) ||
            (connection = std::make_unique<Connection>(),
             connection->open(QByteArrayLiteral(":memory:"),
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) == SQLITE_OK))
            mConnection = std::move(connection);
        mPersistent = false;
        return;
    }

    const QByteArray path = QFile::encodeName(mPath);
    // The state folder is private; a link planted at the store's name is refused all the same.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW;

    auto connection = std::make_unique<Connection>();
    int result = connection->open(path, flags);
    if (result != SQLITE_OK && !isLockedByOthers(result)) {
        connection.reset();
        setAside();
        connection = std::make_unique<Connection>();
        result = connection->open(path, flags);
    }
    if (result == SQLITE_OK) {
        mConnection = std::move(connection);
        mPersistent = true;
        return;
    }

    connection = std::make_unique<Connection>();
    if (connection->open(QByteArrayLiteral(":memory:"), flags) == SQLITE_OK)
        mConnection = std::move(connection);
    else
        mConnection.reset();
    mPersistent = false;
}

void ChangeMarkerStore::setAside()
{
    const QFileInfo info(mPath);
    if (!info.exists() && !info.isSymLink())
        return;
    const QString aside =
        mPath + QStringLiteral(".broken-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    if (std::rename(QFile::encodeName(mPath).constData(), QFile::encodeName(aside).constData()) !=
        0)
        return;
    mSetAsidePath = aside;
    // The journal files belong to the old store; left in place they would be applied to the new.
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        const QString name = QString::fromLatin1(suffix);
        std::rename(QFile::encodeName(mPath + name).constData(),
                    QFile::encodeName(aside + name).constData());
    }
}

void ChangeMarkerStore::endReading()
{
    if (mHeldLimit)
        mHeldLimit->stop();
    if (mReading && mConnection) {
        const int result = mConnection->execute("COMMIT");
        if (result != SQLITE_OK) {
            (void)mConnection->execute("ROLLBACK");
            mReading = false;
            recoverFrom(result);
        }
    }
    mReading = false;
}

void ChangeMarkerStore::endReadingUnlessHeld()
{
    // A read sees the held rows in the same transaction; it need not put them on the disk.
    if (!mHolding)
        endReading();
}

void ChangeMarkerStore::recoverFrom(int sqliteResult)
{
    if (!isDamage(sqliteResult) || !mPersistent)
        return;
    mReading = false;
    mConnection.reset();
    setAside();
    open();
}

std::optional<FileIdentity> ChangeMarkerStore::readIdentity(const QString &absolutePath)
{
    // The clock first: see isSettled.
    timespec lookedAt{};
    clock_gettime(CLOCK_REALTIME_COARSE, &lookedAt);

    struct stat info
    {
    };
    if (::stat(QFile::encodeName(absolutePath).constData(), &info) != 0)
        return std::nullopt;

    FileIdentity identity{static_cast<qint64>(info.st_size), nanoseconds(info.st_mtim),
                          nanoseconds(info.st_ctim), static_cast<quint64>(info.st_ino)};
    if (!isSettled(identity.changedNs, nanoseconds(lookedAt)))
        identity.changedNs = kUnsettledChangeTime;
    return identity;
}

bool ChangeMarkerStore::sameState(const FileIdentity &earlier, const FileIdentity &later)
{
    const bool changeTimesComparable =
        earlier.changedNs != kUnsettledChangeTime && later.changedNs != kUnsettledChangeTime;
    return earlier.size == later.size && earlier.modifiedNs == later.modifiedNs &&
           earlier.inode == later.inode &&
           (!changeTimesComparable || earlier.changedNs == later.changedNs);
}

void ChangeMarkerStore::setDestination(const QString &destination)
{
    mDestination = destination;
}

bool ChangeMarkerStore::isMarked(const QString &absolutePath, const FileIdentity &current)
{
    if (current.changedNs == kUnsettledChangeTime)
        return true;
    const std::optional<PublishedFile> last = lastUpload(absolutePath);
    return !last || !(last->identity == current);
}

std::optional<PublishedFile> ChangeMarkerStore::lastUpload(const QString &absolutePath)
{
    if (!mConnection)
        return std::nullopt;
    if (!mReading)
        mReading = mConnection->execute("BEGIN") == SQLITE_OK;

    const QByteArray destination = mDestination.toUtf8();
    const QByteArray key = storeKey(absolutePath);
    sqlite3_stmt *select = mConnection->select.get();
    bindText(select, 1, destination);
    bindText(select, 2, key);
    if (mConsultUnassigned && mConnection->hasUnassigned) {
        // The destination's own row wins; without one, the unassigned row answers.
        const int result = sqlite3_step(select);
        if (result == SQLITE_DONE) {
            sqlite3_reset(select);
            sqlite3_clear_bindings(select);
            select = mConnection->selectUnassigned.get();
            bindText(select, 1, key);
        } else {
            sqlite3_reset(select);
        }
    }
    const int result = sqlite3_step(select);
    std::optional<PublishedFile> last;
    if (result == SQLITE_ROW) {
        last = PublishedFile{{sqlite3_column_int64(select, 0), sqlite3_column_int64(select, 1),
                              sqlite3_column_int64(select, 2),
                              static_cast<quint64>(sqlite3_column_int64(select, 3))},
                             {}};
        if (const void *digest = sqlite3_column_blob(select, 4))
            last->digest =
                QByteArray(static_cast<const char *>(digest), sqlite3_column_bytes(select, 4));
    }
    sqlite3_reset(select);
    sqlite3_clear_bindings(select);
    if (result != SQLITE_ROW && result != SQLITE_DONE)
        recoverFrom(result);
    return last;
}

void ChangeMarkerStore::clearMarker(const QString &absolutePath,
                                    const FileIdentity &identityReadBeforeTransfer,
                                    const QByteArray &digest)
{
    if (identityReadBeforeTransfer.changedNs == kUnsettledChangeTime) {
        markChanged(absolutePath);
        forgetPending(absolutePath);
        return;
    }
    const QByteArray destination = mDestination.toUtf8();
    const QByteArray key = storeKey(absolutePath);
    // The marker and the end of the pending upload in one commit: a crash between the two would
    // otherwise leave a note that sends the next run after a temporary file already renamed.
    for (int attempt = 0; attempt < 2 && isWritable(); ++attempt) {
        Connection &c = *mConnection;
        const int result = commit(
            [&]() -> int {
                sqlite3_stmt *upsert = c.upsert.get();
                bindText(upsert, 1, destination);
                bindText(upsert, 2, key);
                sqlite3_bind_int64(upsert, 3, identityReadBeforeTransfer.size);
                sqlite3_bind_int64(upsert, 4, identityReadBeforeTransfer.modifiedNs);
                sqlite3_bind_int64(upsert, 5, identityReadBeforeTransfer.changedNs);
                sqlite3_bind_int64(upsert, 6,
                                   static_cast<sqlite3_int64>(identityReadBeforeTransfer.inode));
                bindBlob(upsert, 7, digest);
                const int stored = c.run(upsert);
                return stored == SQLITE_OK ? c.removePending(destination, key) : stored;
            },
            Flush::Held);
        // A store that cannot be written leaves the file marked: it is uploaded again next time.
        if (result == SQLITE_OK || !isDamage(result))
            return;
    }
}

void ChangeMarkerStore::markChanged(const QString &absolutePath)
{
    endReading();
    if (!isWritable())
        return;
    // Not flushed on its own: should a power cut undo it, the row left is that of an earlier state
    // of the file, which does not match the file now either.
    sqlite3_stmt *remove = mConnection->remove.get();
    const QByteArray destination = mDestination.toUtf8();
    const QByteArray key = storeKey(absolutePath);
    bindText(remove, 1, destination);
    bindText(remove, 2, key);
    const int result = mConnection->run(remove);
    if (result != SQLITE_OK)
        recoverFrom(result);
}

void ChangeMarkerStore::renewIdentities(const QList<std::pair<QString, FileIdentity>> &files)
{
    if (files.isEmpty() || !isWritable())
        return;
    Connection &c = *mConnection;
    const QByteArray destination = mDestination.toUtf8();
    (void)commit(
        [&]() -> int {
            Statement update;
            int result = c.prepare("UPDATE published SET size = ?3, modified_ns = ?4, "
                                   "changed_ns = ?5, inode = ?6 "
                                   "WHERE destination = ?1 AND path = ?2",
                                   update);
            for (qsizetype i = 0; result == SQLITE_OK && i < files.size(); ++i) {
                const auto &[path, identity] = files.at(i);
                if (identity.changedNs == kUnsettledChangeTime)
                    continue;
                const QByteArray key = storeKey(path);
                bindText(update.get(), 1, destination);
                bindText(update.get(), 2, key);
                sqlite3_bind_int64(update.get(), 3, identity.size);
                sqlite3_bind_int64(update.get(), 4, identity.modifiedNs);
                sqlite3_bind_int64(update.get(), 5, identity.changedNs);
                sqlite3_bind_int64(update.get(), 6, static_cast<sqlite3_int64>(identity.inode));
                result = c.run(update.get());
            }
            return result;
        },
        Flush::WithTheNextSync);
}

bool ChangeMarkerStore::isWritable() const
{
    return mConnection && mAccess == Access::ReadWrite;
}

int ChangeMarkerStore::commitDurably(const std::function<int()> &statements)
{
    return commit(statements, Flush::Now);
}

int ChangeMarkerStore::commit(const std::function<int()> &statements, Flush flush)
{
    if (flush == Flush::Held && mHolding && isWritable()) {
        Connection &c = *mConnection;
        if (!mReading)
            mReading = c.execute("BEGIN IMMEDIATE") == SQLITE_OK;
        if (mReading) {
            // All of one file's statements or none of them, as in a commit of its own.
            int result = c.run(c.cached("SAVEPOINT held"));
            if (result == SQLITE_OK) {
                result = statements();
                if (result != SQLITE_OK)
                    (void)c.run(c.cached("ROLLBACK TO held"));
                (void)c.run(c.cached("RELEASE held"));
            }
            if (result != SQLITE_OK)
                recoverFrom(result);
            else if (mHeldLimit && !mHeldLimit->isActive())
                mHeldLimit->start();
            return result;
        }
    }
    endReading();
    if (!isWritable())
        return SQLITE_MISUSE;
    Connection &c = *mConnection;
    // FULL for a commit that must be on the disk, together with every commit before it, before
    // the run goes on.
    int result = flush == Flush::Now ? c.execute("PRAGMA synchronous=FULL") : SQLITE_OK;
    if (result == SQLITE_OK)
        result = c.execute("BEGIN IMMEDIATE");
    if (result == SQLITE_OK) {
        result = statements();
        result = result == SQLITE_OK ? c.execute("COMMIT") : result;
        if (result != SQLITE_OK)
            (void)c.execute("ROLLBACK");
    }
    if (flush == Flush::Now)
        (void)c.execute("PRAGMA synchronous=NORMAL");
    if (result != SQLITE_OK)
        recoverFrom(result);
    return result;
}

void ChangeMarkerStore::forgetAllBut(const QString &folder, const QStringList &present)
{
    if (!isWritable())
        return;
    // Paths below the folder lie between "folder/" and "folder0" ('0' follows '/'), compared byte
    // by byte as SQLite compares text.
    QByteArray from = storeKey(folder);
    if (!from.endsWith('/'))
        from += '/';
    QByteArray to = from;
    to.back() = '0';

    Connection &c = *mConnection;
    (void)commitDurably([&]() -> int {
        int result = c.execute("CREATE TEMP TABLE IF NOT EXISTS present"
                               " (path TEXT PRIMARY KEY NOT NULL) WITHOUT ROWID");
        if (result == SQLITE_OK)
            result = c.execute("DELETE FROM present");
        Statement insert;
        if (result == SQLITE_OK)
            result = c.prepare("INSERT OR IGNORE INTO present (path) VALUES (?1)", insert);
        for (qsizetype i = 0; result == SQLITE_OK && i < present.size(); ++i) {
            const QByteArray key = storeKey(present.at(i));
            bindText(insert.get(), 1, key);
            result = c.run(insert.get());
        }
        // Every destination's rows go, and unassigned ones too: the file is gone from the site.
        std::vector<const char *> removals{"DELETE FROM published WHERE path >= ?1 AND path < ?2 "
                                           "AND path NOT IN (SELECT path FROM present)"};
        if (c.hasUnassigned)
            removals.push_back("DELETE FROM markers WHERE path >= ?1 AND path < ?2 AND path NOT IN "
                               "(SELECT path FROM present)");
        for (const char *sql : removals) {
            if (result != SQLITE_OK)
                break;
            Statement remove;
            result = c.prepare(sql, remove);
            if (result == SQLITE_OK) {
                bindText(remove.get(), 1, from);
                bindText(remove.get(), 2, to);
                result = c.run(remove.get());
            }
        }
        return result;
    });
}

bool ChangeMarkerStore::hasUnassigned()
{
    return mConnection && mConnection->hasUnassigned;
}

void ChangeMarkerStore::adoptUnassigned()
{
    if (!hasUnassigned())
        return;
    Connection &c = *mConnection;
    const QByteArray destination = mDestination.toUtf8();
    if (commitDurably([&]() -> int {
            Statement adopt;
            int result = c.prepare("INSERT OR IGNORE INTO published (destination, path, size, "
                                   "modified_ns, changed_ns, inode) SELECT ?1, path, size, "
                                   "modified_ns, changed_ns, inode FROM markers",
                                   adopt);
            if (result == SQLITE_OK) {
                bindText(adopt.get(), 1, destination);
                result = c.run(adopt.get());
            }
            return result == SQLITE_OK ? c.execute("DROP TABLE markers") : result;
        }) == SQLITE_OK)
        c.hasUnassigned = false;
}

void ChangeMarkerStore::discardUnassigned()
{
    if (!hasUnassigned())
        return;
    Connection &c = *mConnection;
    if (commitDurably([&c] { return c.execute("DROP TABLE markers"); }) == SQLITE_OK)
        c.hasUnassigned = false;
}

namespace {

PendingUpload pendingFromRow(sqlite3_stmt *row, int first)
{
    const auto text = [row](int column) {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(row, column)),
                                 sqlite3_column_bytes(row, column));
    };
    return PendingUpload{text(first),
                         text(first + 1),
                         {sqlite3_column_int64(row, first + 2),
                          sqlite3_column_int64(row, first + 3),
                          sqlite3_column_int64(row, first + 4),
                          static_cast<quint64>(sqlite3_column_int64(row, first + 5))}};
}

} // namespace

QList<std::pair<QString, PendingUpload>> ChangeMarkerStore::pendingUploads()
{
    QList<std::pair<QString, PendingUpload>> found;
    endReadingUnlessHeld();
    if (!mConnection)
        return found;
    Statement query;
    if (mConnection->prepare("SELECT path, folder, stored_name, size, modified_ns, changed_ns, "
                             "inode FROM pending WHERE destination = ?1 ORDER BY path",
                             query) != SQLITE_OK)
        return found;
    const QByteArray destination = mDestination.toUtf8();
    bindText(query.get(), 1, destination);
    while (sqlite3_step(query.get()) == SQLITE_ROW)
        found.append(
            {QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(query.get(), 0)),
                               sqlite3_column_bytes(query.get(), 0)),
             pendingFromRow(query.get(), 1)});
    return found;
}

std::optional<PendingUpload> ChangeMarkerStore::pendingUpload(const QString &absolutePath)
{
    endReadingUnlessHeld();
    if (!mConnection)
        return std::nullopt;
    sqlite3_stmt *query =
        mConnection->cached("SELECT folder, stored_name, size, modified_ns, changed_ns, inode "
                            "FROM pending WHERE destination = ?1 AND path = ?2");
    if (!query)
        return std::nullopt;
    const QByteArray destination = mDestination.toUtf8();
    const QByteArray key = storeKey(absolutePath);
    bindText(query, 1, destination);
    bindText(query, 2, key);
    std::optional<PendingUpload> found;
    if (sqlite3_step(query) == SQLITE_ROW)
        found = pendingFromRow(query, 0);
    sqlite3_reset(query);
    sqlite3_clear_bindings(query);
    return found;
}

bool ChangeMarkerStore::recordPending(const QString &absolutePath, const PendingUpload &pending)
{
    // An identity read while the file was still being written is recorded as it is: the note is
    // what finds the temporary file again, and such an identity never lets the transfer be
    // continued (see ChoosePlacement), only started over.
    if (!isWritable() || !mPersistent)
        return false;
    Connection &c = *mConnection;
    const QByteArray destination = mDestination.toUtf8();
    const QByteArray key = storeKey(absolutePath);
    const QByteArray folder = pending.folder.toUtf8();
    const QByteArray name = pending.storedName.toUtf8();
    const int result = commitDurably([&]() -> int {
        Statement insert;
        int status = c.prepare("INSERT OR REPLACE INTO pending (destination, path, folder, "
                               "stored_name, size, modified_ns, changed_ns, inode) "
                               "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
                               insert);
        if (status != SQLITE_OK)
            return status;
        bindText(insert.get(), 1, destination);
        bindText(insert.get(), 2, key);
        bindText(insert.get(), 3, folder);
        bindText(insert.get(), 4, name);
        sqlite3_bind_int64(insert.get(), 5, pending.identity.size);
        sqlite3_bind_int64(insert.get(), 6, pending.identity.modifiedNs);
        sqlite3_bind_int64(insert.get(), 7, pending.identity.changedNs);
        sqlite3_bind_int64(insert.get(), 8, static_cast<sqlite3_int64>(pending.identity.inode));
        return c.run(insert.get());
    });
    // A store found damaged was replaced by a fresh one, which does not hold the note.
    return result == SQLITE_OK && mPersistent;
}

void ChangeMarkerStore::forgetPending(const QString &absolutePath)
{
    if (!isWritable())
        return;
    Connection &c = *mConnection;
    const QByteArray destination = mDestination.toUtf8();
    const QByteArray key = storeKey(absolutePath);
    (void)commit([&] { return c.removePending(destination, key); }, Flush::WithTheNextSync);
}

bool ChangeMarkerStore::uploadsDirectly()
{
    endReadingUnlessHeld();
    if (!mConnection)
        return false;
    sqlite3_stmt *query =
        mConnection->cached("SELECT 1 FROM direct_uploads WHERE destination = ?1");
    if (!query)
        return false;
    const QByteArray destination = mDestination.toUtf8();
    bindText(query, 1, destination);
    const bool direct = sqlite3_step(query) == SQLITE_ROW;
    sqlite3_reset(query);
    sqlite3_clear_bindings(query);
    return direct;
}

std::optional<ChangeMarkerStore::ConnectionLimit> ChangeMarkerStore::connectionLimit()
{
    endReadingUnlessHeld();
    if (!mConnection)
        return std::nullopt;
    Statement query;
    if (mConnection->prepare("SELECT connections, noted FROM connection_limits"
                             " WHERE destination = ?1",
                             query) != SQLITE_OK)
        return std::nullopt;
    const QByteArray destination = mDestination.toUtf8();
    bindText(query.get(), 1, destination);
    if (sqlite3_step(query.get()) != SQLITE_ROW)
        return std::nullopt;
    return ConnectionLimit{std::max(1, sqlite3_column_int(query.get(), 0)),
                           sqlite3_column_int64(query.get(), 1)};
}

void ChangeMarkerStore::rememberConnectionLimit(std::optional<int> connections, qint64 now)
{
    if (!isWritable())
        return;
    Connection &c = *mConnection;
    const QByteArray destination = mDestination.toUtf8();
    (void)commit(
        [&]() -> int {
            Statement change;
            int status = c.prepare(connections ? "INSERT OR REPLACE INTO connection_limits"
                                                 " (destination, connections, noted)"
                                                 " VALUES (?1, ?2, ?3)"
                                               : "DELETE FROM connection_limits"
                                                 " WHERE destination = ?1",
                                   change);
            if (status != SQLITE_OK)
                return status;
            bindText(change.get(), 1, destination);
            if (connections) {
                sqlite3_bind_int(change.get(), 2, *connections);
                sqlite3_bind_int64(change.get(), 3, now);
            }
            return c.run(change.get());
        },
        Flush::WithTheNextSync);
}

void ChangeMarkerStore::rememberDirectUploads()
{
    if (!isWritable())
        return;
    Connection &c = *mConnection;
    const QByteArray destination = mDestination.toUtf8();
    (void)commitDurably([&]() -> int {
        Statement insert;
        int status =
            c.prepare("INSERT OR IGNORE INTO direct_uploads (destination) VALUES (?1)", insert);
        if (status == SQLITE_OK) {
            bindText(insert.get(), 1, destination);
            status = c.run(insert.get());
        }
        return status;
    });
}
