#include "accessibleroles.h"

#include "animationarea.h"
#include "picturebox.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

QAccessibleInterface *windowControlRoles(const QString &className, QObject *object)
{
    if (className == QLatin1String(PictureBox::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Graphic);
    if (className == QLatin1String(AnimationArea::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Animation);
    return nullptr;
}

} // namespace

void InstallAccessibleRoles()
{
    static const bool installed = [] {
        QAccessible::installFactory(windowControlRoles);
        return true;
    }();
    (void)installed;
}
