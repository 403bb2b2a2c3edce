#include "systemhelpers.h"

#include <QFile>
#include <dirent.h>
#include <memory>

bool FolderExists(const QString &folderPath)
{
    if (folderPath.isEmpty())
        return false;
    // A folder exists for the run when it can be listed: one that exists but cannot be read would
    // otherwise pass the check and end the run with an error box in the middle of the scan, where
    // "no valid generated pages found" says what is wrong. Links are followed, as a site folder
    // given through a link should count as existing.
    struct Closer
    {
        void operator()(DIR *dir) const { ::closedir(dir); }
    };
    const std::unique_ptr<DIR, Closer> dir(::opendir(QFile::encodeName(folderPath).constData()));
    return dir != nullptr;
}
