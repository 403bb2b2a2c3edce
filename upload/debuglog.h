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
    // without a log.
    bool open(const QStringList &candidateFolders);
    // The program's folder, then the per-user state folder.
    [[nodiscard]] static QStringList defaultFolders();
    void write(const QString &message);
    void close();
    [[nodiscard]] bool isOpen() const { return mFd >= 0; }
    [[nodiscard]] QString path() const { return mPath; }

private:
    int mFd = -1;
    QString mPath;
};
