#pragma once

#include "classupload.h"

#include <QList>
#include <QString>

// The upload log's name, in the site folder and the remote base folder.
[[nodiscard]] QString UploadLogName();
// Whether path (relative to the site, "\" between folders) is the upload log of the site folder.
[[nodiscard]] bool IsUploadLog(const QString &path);
// Whether the file is a page a visitor opens (".html", ".php", ...), as opposed to what pages use:
// pictures, styles, scripts, downloads.
[[nodiscard]] bool IsPage(const QString &path);
// Puts the files in the order visitors are best served by: what pages use first, then the pages,
// then the upload log; otherwise as they were.
void OrderForVisitors(QList<UploadItem> &items);
