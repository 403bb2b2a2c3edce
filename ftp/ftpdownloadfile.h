#pragma once

#include <QFile>
#include <QString>
#include <memory>

// The local side of a download. The bytes go into a new file next to the target, created
// exclusively (O_EXCL | O_NOFOLLOW) under a random name, so nothing planted there beforehand (a
// symbolic link to some other file, say) is opened or written. Only a complete download is
// renamed over the target; rename(2) replaces whatever the target name was, a link included,
// without following it. Anything else removes the new file, so a failed download leaves neither a
// partial file nor a changed target.
class FtpDownloadFile
{
public:
    explicit FtpDownloadFile(QString targetPath);
    ~FtpDownloadFile();
    FtpDownloadFile(const FtpDownloadFile &) = delete;
    FtpDownloadFile &operator=(const FtpDownloadFile &) = delete;

    // Creates the temporary file; false with errorString() when the folder does not allow it.
    [[nodiscard]] bool open();
    [[nodiscard]] QFile &file() { return mFile; }
    // Flushes, closes and renames over the target. false with errorString() on any failure, and
    // the temporary file is gone either way.
    [[nodiscard]] bool commit();
    // Removes the temporary file; called by the destructor unless commit() succeeded.
    void discard();

    [[nodiscard]] QString errorString() const { return mError; }
    [[nodiscard]] QString temporaryPath() const { return mTemporaryPath; }

private:
    QString mTargetPath;
    QString mTemporaryPath;
    QFile mFile;
    QString mError;
};
