#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The component's small per-user files (certificates trusted on first use, hosts that completed a
// TLS log-in) live in one folder and are private to their owner: nobody else may learn which
// servers the user publishes to, nor add a certificate or remove a host.

// The program's state folder (StateFolderPath() without the final "/"): by default
// ~/.local/state/vellumix/parcelup.
[[nodiscard]] QString FtpStateFolder();

// The lines of a state file, trimmed, without empty lines; "#" comments are kept, so that a
// rewrite keeps them too. A file that does not exist holds no lines; one that exists but cannot be
// read gives nothing and sets error.
[[nodiscard]] std::optional<QStringList> ReadFtpStateLines(const QString &path, QString *error);

// Replaces the file with lines (comments included) in a folder created private (0700), as a
// private file (0600). Written to a temporary file and renamed over the old one, so a crash leaves
// the old file or the new one.
[[nodiscard]] bool WriteFtpStateLines(const QString &path, const QStringList &lines,
                                      QString *error);
