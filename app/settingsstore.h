#pragma once

#include <QHash>
#include <QString>

// Where start-up reads the publishing settings from. The site builder writes them; Parcelup only
// reads.
class SettingsSource
{
public:
    virtual ~SettingsSource() = default;
    // The text stored under the key, or "" when there is none.
    [[nodiscard]] virtual QString read(const QString &key) = 0;
};

// The settings file: INI format, group [parcelup], keys matched without regard to case because the
// site builder has not always spelled them the same way ("FTPFirewallhost"). Values are returned as
// QSettings reads them: a value that QSettings wrote comes back exactly; a hand-written value
// holding "," or ";" or leading or trailing blanks must be written in double quotes.
class IniSettingsStore : public SettingsSource
{
public:
    explicit IniSettingsStore(const QString &iniPath);

    // $XDG_CONFIG_HOME/vellumix/vellumix.ini, by default ~/.config/vellumix/vellumix.ini.
    [[nodiscard]] static QString defaultPath();

    [[nodiscard]] QString read(const QString &key) override;

    // For a settings file named on the command line, which must exist and be readable: a German
    // message saying what is wrong with it, or empty text.
    [[nodiscard]] static QString problemWith(const QString &iniPath);

private:
    QHash<QString, QString> mValuesByLowerCaseKey;
};
