#include "localfileerror.h"

#include "programerror.h"
#include "stringtable.h"

#include <cerrno>
#include <cstring>

namespace {

bool isNotFound(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

bool isDenied(int error)
{
    return error == EACCES || error == EPERM;
}

// strerror follows the user's language when the system has it, which is what a user can read.
QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void raise(int number, MessageId textId, const QString &nativePath,
                        const QString &reason = QString())
{
    QString text = ResourceString(textId);
    // One pass over the placeholders, so a "%2" inside a file name stays as it is.
    text = reason.isNull() ? text.arg(nativePath) : text.arg(nativePath, reason);
    throw ProgramError(number, text);
}

} // namespace

void ThrowFileReadError(const QString &nativePath, int error)
{
    if (isNotFound(error))
        raise(ProgramError::FileNotFound, MessageId::FileNotFound, nativePath);
    if (isDenied(error))
        raise(ProgramError::PermissionDenied, MessageId::FileAccessDenied, nativePath);
    raise(ProgramError::PathFileAccessError, MessageId::FileNotReadable, nativePath,
          systemReason(error));
}

void ThrowNotARegularFile(const QString &nativePath)
{
    raise(ProgramError::PathFileAccessError, MessageId::FileNotReadable, nativePath,
          ResourceString(MessageId::NoLongerRegularFile));
}

void ThrowFileWriteError(const QString &nativePath, int error)
{
    if (isDenied(error))
        raise(ProgramError::PermissionDenied, MessageId::FileAccessDenied, nativePath);
    raise(ProgramError::PathFileAccessError, MessageId::FileNotWritable, nativePath,
          systemReason(error));
}

void ThrowFolderReadError(const QString &nativePath, int error)
{
    if (isNotFound(error))
        raise(ProgramError::FileNotFound, MessageId::FolderNotFound, nativePath);
    if (isDenied(error))
        raise(ProgramError::PermissionDenied, MessageId::FolderAccessDenied, nativePath);
    raise(ProgramError::PathFileAccessError, MessageId::FolderNotReadable, nativePath,
          systemReason(error));
}
