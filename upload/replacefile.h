#pragma once

#include <QByteArray>
#include <QString>

// Gives the file at nativePath exactly this content. The content goes into a new hidden file in the
// same folder first, which then takes the place of the old one: a reader never sees half a file,
// and whatever stood at the name before (also a symbolic link someone planted there) is replaced,
// never followed. The new file gets the usual permissions for a new file (0666 less the umask).
//
// Raises ProgramError naming nativePath when the file cannot be written.
void ReplaceFileContents(const QString &nativePath, const QByteArray &content);
