#include "windowpictures.h"

namespace {

QString picturePath(const QString &name)
{
    return QStringLiteral(":/parcelup/pictures/") + name;
}

// Both densities are added explicitly: QIcon looks for "@2x" files on its own only when the
// screen at start-up already has a high density, and a window may move to such a screen later.
QIcon bothDensities(const QString &name, int size)
{
    QIcon icon;
    icon.addFile(picturePath(name + QStringLiteral(".png")), QSize(size, size));
    icon.addFile(picturePath(name + QStringLiteral("@2x.png")), QSize(2 * size, 2 * size));
    return icon;
}

} // namespace

QIcon ImageListPicture(int number)
{
    switch (number) {
    case 1:
        return bothDensities(QStringLiteral("step-running"), kImageListPictureSize);
    case 2:
        return bothDensities(QStringLiteral("step-done"), kImageListPictureSize);
    case 3:
        return bothDensities(QStringLiteral("step-failed"), kImageListPictureSize);
    default:
        return {};
    }
}

QIcon GlobePicture()
{
    return bothDensities(QStringLiteral("globe"), 32);
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(picturePath(QStringLiteral("parcelup-%1.png").arg(size)), QSize(size, size));
    return icon;
}
