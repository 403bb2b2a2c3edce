#pragma once

#include <QString>

// The site's own files and folders are read before anything is sent. When one of them cannot be
// read, the run cannot describe the site truthfully (a file left out of the upload log would be
// deleted on the server), so it ends through ProgramError with a German message that names the
// path and says why in words: "not found" and "access denied" get their own sentences, every other
// reason is the system's description of the error number.

// A file of the site could not be opened or examined; error is the errno value.
[[noreturn]] void ThrowFileReadError(const QString &nativePath, int error);

// A file of the site was replaced, between finding it and reading it, by something that is not a
// regular file (a pipe, a folder).
[[noreturn]] void ThrowNotARegularFile(const QString &nativePath);

// The upload log could not be written.
[[noreturn]] void ThrowFileWriteError(const QString &nativePath, int error);

// A folder of the site could not be listed or examined.
[[noreturn]] void ThrowFolderReadError(const QString &nativePath, int error);
