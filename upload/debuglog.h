#pragma once

#include <QString>
#include <QStringList>

// The debug log "parcelup.log": the FTP component's dialogue of one connection, written as it
// arrives. Each message goes straight to the file with one write, so the log is complete on disk at
// any moment, also when the process is killed. The file is readable by its owner only, because the
// server's replies can name accounts and folders.
class DebugLog
{
public:
    DebugLog() = default;
    DebugLog(const DebugLog &) = delete;
    DebugLog &operator=(const DebugLog &) = delete;
    ~DebugLog();

    // Creates the log empty (replacing an older one, never following a symbolic link) in the first
    // of the folders where that works. Returns false when none could be used; the run goes on
    // without a log. Drops what was held.
    bool open(const QStringList &candidateFolders);
    // From now on, what is written while the log is closed is kept in memory, so that a
    // connection that fails can still leave its transcript (writeHeld()). Only the latest
    // megabyte or so is kept: the end says why it failed. open() and close() drop it.
    void holdWhileClosed();
    // Creates the log as open() does, with what was held as its whole content, and closes it.
    bool writeHeld(const QStringList &candidateFolders);
    // The program's folder, then the per-user state folder.
    [[nodiscard]] static QStringList defaultFolders();
    // Appends to the open log, to what is held, or nowhere.
    void write(const QString &message);
    // Closes the log and drops what was held.
    void close();
    [[nodiscard]] bool isOpen() const { return mFd >= 0; }
    [[nodiscard]] QString path() const { return mPath; }

private:
    void writeToFile(const QString &message);

    int mFd = -1;
    QString mPath;
    bool mHolding = false;
    QStringList mHeld;
    qsizetype mHeldCharacters = 0;
    bool mHeldCut = false;
};
