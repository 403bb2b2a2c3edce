#pragma once

#include <QByteArray>
#include <QString>

// Which destination a site folder's local upload log was written for. The local log names what the
// run that wrote it may have put on its destination, also when that run failed before its log
// reached the server; the next clean-up may act on it only at that same destination. Another
// server, account or remote folder may hold pages of the same names that were placed there by
// other means.
//
// One line per site folder in the per-user state folder ("upload-log-destinations"): checksums of
// the site folder's path and of the destination together with the log's content, so the record
// says nothing about either to whoever reads it.

// Whether log, the content of the upload log in siteFolder, is the one a run to destination wrote.
[[nodiscard]] bool LocalLogWasWrittenFor(const QString &siteFolder, const QByteArray &log,
                                         const QString &destination);

// Records that a run to destination wrote log in siteFolder. A record that cannot be written (a
// full disk) only makes the next run trust the log less.
void RecordLocalLogDestination(const QString &siteFolder, const QByteArray &log,
                               const QString &destination);
