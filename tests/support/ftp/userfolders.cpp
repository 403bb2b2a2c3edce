#include "userfolders.h"

#include <QDir>
#include <QFile>

IsolatedUserFolders::IsolatedUserFolders()
{
    QDir().mkpath(configHome());
    QDir().mkpath(stateHome());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir()));
}
