#include "windowface.h"

#include <QByteArray>
#include <QStringList>
#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// The program's own folder, read from the kernel: no QCoreApplication exists yet, and argv[0] may
// be a bare name found through PATH.
QString programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return QString();
    const QString program = QString::fromLocal8Bit(path, length);
    return program.left(program.lastIndexOf(QLatin1Char('/')));
}

} // namespace

WindowFaceEntry LoadWindowFace(QString *error)
{
    return LoadWindowFaceFrom(programFolder(), error);
}

WindowFaceEntry LoadWindowFaceFrom(const QString &folder, QString *error)
{
    const QString name = QString::fromLatin1(WindowFaceModuleName);
    QStringList reasons;
    // Beside the program, in the build tree and in the installation alike.
    const QStringList candidates{folder + QLatin1Char('/') + name};
    for (const QString &candidate : candidates) {
        if (::access(candidate.toLocal8Bit().constData(), F_OK) != 0)
            continue;
        // Every symbol now: a module that does not fit the program is refused here, with the
        // loader's reason, and not halfway through the run.
        void *module = ::dlopen(candidate.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            reasons << QString::fromLocal8Bit(::dlerror());
            continue;
        }
        // Never unloaded: the window's code runs until the process ends.
        if (void *entry = ::dlsym(module, WindowFaceEntryName))
            return reinterpret_cast<WindowFaceEntry>(entry);
        reasons << QString::fromLocal8Bit(::dlerror());
    }
    if (reasons.isEmpty())
        reasons << QStringLiteral("%1 not found beside the program").arg(name);
    *error = reasons.join(QStringLiteral("; "));
    return nullptr;
}
