#include "changemarkerstore.h"

#include "systemhelpers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <ctime>
#include <sqlite3.h>
#include <sys/stat.h>

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

    // Opens and checks a store; returns the SQLite result that made it unusable, or SQLITE_OK.
    int open(const QByteArray &path, int flags);
    [[nodiscard]] int execute(const char *sql) const;
    [[nodiscard]] int prepare(const char *sql, Statement &statement) const;
};

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

int ChangeMarkerStore::Connection::open(const QByteArray &path, int flags)
{
    sqlite3 *raw = nullptr;
    int result = sqlite3_open_v2(path.constData(), &raw, flags, nullptr);
    database.reset(raw);
    if (result != SQLITE_OK)
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
    // FULL: each commit is on disk before the next file is transferred.
    if ((result = execute("PRAGMA journal_mode=WAL")) != SQLITE_OK ||
        (result = execute("PRAGMA synchronous=FULL")) != SQLITE_OK)
        return result;
    result = execute("CREATE TABLE IF NOT EXISTS markers ("
                     " path TEXT PRIMARY KEY NOT NULL,"
                     " size INTEGER NOT NULL,"
                     " modified_ns INTEGER NOT NULL,"
                     " changed_ns INTEGER NOT NULL,"
                     " inode INTEGER NOT NULL) WITHOUT ROWID");
    if (result != SQLITE_OK)
        return result;

    // A table of another shape (a store from something else) fails here and counts as damaged.
    if ((result =
             prepare("SELECT size, modified_ns, changed_ns, inode FROM markers WHERE path = ?1",
                     select)) != SQLITE_OK ||
        (result = prepare("INSERT OR REPLACE INTO markers (path, size, modified_ns, changed_ns, "
                          "inode) VALUES (?1, ?2, ?3, ?4, ?5)",
                          upsert)) != SQLITE_OK ||
        (result = prepare("DELETE FROM markers WHERE path = ?1", remove)) != SQLITE_OK)
        return result;
    return SQLITE_OK;
}

ChangeMarkerStore::ChangeMarkerStore(const QString &databasePath) : mPath(databasePath)
{
    open();
}

ChangeMarkerStore::~ChangeMarkerStore()
{
    endReading();
}

QString ChangeMarkerStore::defaultPath()
{
    return GetStateFolder() + QStringLiteral("markers.sqlite");
}

void ChangeMarkerStore::open()
{
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
    if (mReading && mConnection)
        (void)mConnection->execute("COMMIT");
    mReading = false;
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

bool ChangeMarkerStore::isMarked(const QString &absolutePath, const FileIdentity &current)
{
    if (current.changedNs == kUnsettledChangeTime || !mConnection)
        return true;
    if (!mReading)
        mReading = mConnection->execute("BEGIN") == SQLITE_OK;

    sqlite3_stmt *select = mConnection->select.get();
    const QByteArray key = storeKey(absolutePath);
    sqlite3_bind_text(select, 1, key.constData(), static_cast<int>(key.size()), SQLITE_STATIC);
    const int result = sqlite3_step(select);
    bool marked = true;
    if (result == SQLITE_ROW) {
        const FileIdentity stored{sqlite3_column_int64(select, 0), sqlite3_column_int64(select, 1),
                                  sqlite3_column_int64(select, 2),
                                  static_cast<quint64>(sqlite3_column_int64(select, 3))};
        marked = !(stored == current);
    }
    sqlite3_reset(select);
    sqlite3_clear_bindings(select);
    if (result != SQLITE_ROW && result != SQLITE_DONE)
        recoverFrom(result);
    return marked;
}

void ChangeMarkerStore::clearMarker(const QString &absolutePath,
                                    const FileIdentity &identityReadBeforeTransfer)
{
    if (identityReadBeforeTransfer.changedNs == kUnsettledChangeTime) {
        markChanged(absolutePath);
        return;
    }
    endReading();
    for (int attempt = 0; attempt < 2 && mConnection; ++attempt) {
        sqlite3_stmt *upsert = mConnection->upsert.get();
        const QByteArray key = storeKey(absolutePath);
        sqlite3_bind_text(upsert, 1, key.constData(), static_cast<int>(key.size()), SQLITE_STATIC);
        sqlite3_bind_int64(upsert, 2, identityReadBeforeTransfer.size);
        sqlite3_bind_int64(upsert, 3, identityReadBeforeTransfer.modifiedNs);
        sqlite3_bind_int64(upsert, 4, identityReadBeforeTransfer.changedNs);
        sqlite3_bind_int64(upsert, 5, static_cast<sqlite3_int64>(identityReadBeforeTransfer.inode));
        const int result = sqlite3_step(upsert);
        sqlite3_reset(upsert);
        sqlite3_clear_bindings(upsert);
        // A store that cannot be written leaves the file marked: it is uploaded again next time.
        if (result == SQLITE_DONE || !isDamage(result))
            return;
        recoverFrom(result);
    }
}

void ChangeMarkerStore::markChanged(const QString &absolutePath)
{
    endReading();
    if (!mConnection)
        return;
    sqlite3_stmt *remove = mConnection->remove.get();
    const QByteArray key = storeKey(absolutePath);
    sqlite3_bind_text(remove, 1, key.constData(), static_cast<int>(key.size()), SQLITE_STATIC);
    const int result = sqlite3_step(remove);
    sqlite3_reset(remove);
    sqlite3_clear_bindings(remove);
    if (result != SQLITE_DONE)
        recoverFrom(result);
}

void ChangeMarkerStore::forgetAllBut(const QString &folder, const QStringList &present)
{
    endReading();
    if (!mConnection)
        return;
    // Paths below the folder lie between "folder/" and "folder0" ('0' follows '/'), compared byte
    // by byte as SQLite compares text.
    QByteArray from = storeKey(folder);
    if (!from.endsWith('/'))
        from += '/';
    QByteArray to = from;
    to.back() = '0';

    Connection &c = *mConnection;
    int result =
        c.execute("CREATE TEMP TABLE IF NOT EXISTS present (path TEXT PRIMARY KEY NOT NULL) "
                  "WITHOUT ROWID");
    if (result == SQLITE_OK)
        result = c.execute("BEGIN");
    if (result != SQLITE_OK) {
        recoverFrom(result);
        return;
    }
    result = c.execute("DELETE FROM present");
    Statement insert;
    if (result == SQLITE_OK)
        result = c.prepare("INSERT OR IGNORE INTO present (path) VALUES (?1)", insert);
    for (qsizetype i = 0; result == SQLITE_OK && i < present.size(); ++i) {
        const QByteArray key = storeKey(present.at(i));
        sqlite3_bind_text(insert.get(), 1, key.constData(), static_cast<int>(key.size()),
                          SQLITE_STATIC);
        result = sqlite3_step(insert.get()) == SQLITE_DONE ? SQLITE_OK
                                                           : sqlite3_errcode(c.database.get());
        sqlite3_reset(insert.get());
    }
    Statement remove;
    if (result == SQLITE_OK)
        result = c.prepare("DELETE FROM markers WHERE path >= ?1 AND path < ?2 AND path NOT IN "
                           "(SELECT path FROM present)",
                           remove);
    if (result == SQLITE_OK) {
        sqlite3_bind_text(remove.get(), 1, from.constData(), static_cast<int>(from.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(remove.get(), 2, to.constData(), static_cast<int>(to.size()),
                          SQLITE_STATIC);
        result = sqlite3_step(remove.get()) == SQLITE_DONE ? SQLITE_OK
                                                           : sqlite3_errcode(c.database.get());
    }
    remove.reset();
    insert.reset();
    if (result == SQLITE_OK)
        result = c.execute("COMMIT");
    if (result != SQLITE_OK) {
        (void)c.execute("ROLLBACK");
        recoverFrom(result);
    }
}
