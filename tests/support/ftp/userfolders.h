#pragma once

#include <QTemporaryDir>

// Points the per-user folders (settings, state, runtime) into a temporary folder for the lifetime
// of the object, so tests never read or write the real user's files.
class IsolatedUserFolders
{
public:
    IsolatedUserFolders();
    [[nodiscard]] QString root() const { return mRoot.path(); }
    [[nodiscard]] QString configHome() const { return mRoot.path() + QStringLiteral("/config"); }
    [[nodiscard]] QString stateHome() const { return mRoot.path() + QStringLiteral("/state"); }
    [[nodiscard]] QString runtimeDir() const { return mRoot.path() + QStringLiteral("/runtime"); }

private:
    QTemporaryDir mRoot;
};
