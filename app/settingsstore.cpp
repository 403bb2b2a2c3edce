#include "settingsstore.h"

#include "stringtable.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString kGroup = QStringLiteral("parcelup");

QString textOf(const QVariant &value)
{
    // An unquoted value with commas reads as a list; joining it back is the closest to what was
    // meant.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

} // namespace

IniSettingsStore::IniSettingsStore(const QString &iniPath)
{
    QSettings settings(iniPath, QSettings::IniFormat);
    QString group;
    const QStringList groups = settings.childGroups();
    if (groups.contains(kGroup)) {
        group = kGroup;
    } else {
        for (const QString &candidate : groups) {
            if (candidate.compare(kGroup, Qt::CaseInsensitive) == 0) {
                group = candidate;
                break;
            }
        }
    }
    if (group.isEmpty())
        return;
    settings.beginGroup(group);
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys) {
        const QString lower = key.toLower();
        // The first spelling wins when a key appears in several spellings.
        if (!mValuesByLowerCaseKey.contains(lower))
            mValuesByLowerCaseKey.insert(lower, textOf(settings.value(key)));
    }
}

QString IniSettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/vellumix/vellumix.ini");
}

QString IniSettingsStore::read(const QString &key)
{
    return mValuesByLowerCaseKey.value(key.toLower());
}

QString IniSettingsStore::problemWith(const QString &iniPath)
{
    const QFileInfo info(iniPath);
    if (!info.exists())
        return ResourceString(MessageId::SettingsFileNotFound, {iniPath});
    QFile file(iniPath);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return ResourceString(MessageId::SettingsFileUnreadable, {iniPath});
    const QSettings settings(iniPath, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return ResourceString(MessageId::SettingsFileUnreadable, {iniPath});
    return QString();
}
