#include "systemhelpers.h"

#include <QFileInfo>

bool FolderExists(const QString &folderPath)
{
    if (folderPath.isEmpty())
        return false;
    // QFileInfo does not throw and follows symbolic links, as a site folder given through a link
    // should count as existing.
    return QFileInfo(folderPath).isDir();
}
