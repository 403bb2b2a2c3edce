#include "commandline.h"

#include "stringtable.h"

CommandLine ParseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--no-window")) {
            line.noWindow = true;
        } else if (argument == QLatin1String("--all")) {
            line.all = true;
        } else if (argument == QLatin1String("--dry-run")) {
            line.dryRun = true;
        } else if (argument == QLatin1String("--allow-mass-delete")) {
            line.allowMassDelete = true;
        } else if (argument == QLatin1String("--help")) {
            line.help = true;
        } else if (argument == QLatin1String("--version")) {
            line.version = true;
        } else if (argument == QLatin1String("--settings")) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                line.error = ResourceString(MessageId::SettingsFileNameMissing);
                return line;
            }
            line.settingsFile = arguments.at(++i);
        } else if (argument.startsWith(QLatin1String("--settings="))) {
            line.settingsFile = argument.mid(11);
            if (line.settingsFile.isEmpty()) {
                line.error = ResourceString(MessageId::SettingsFileNameMissing);
                return line;
            }
        } else {
            line.error =
                ResourceString(MessageId::UnknownArgument).replace(QLatin1String("%1"), argument);
            return line;
        }
    }
    return line;
}

QString UsageText(const QString &programName)
{
    QString text = ResourceString(MessageId::Usage).replace(QLatin1String("%1"), programName) +
                   QLatin1Char('\n');
    // The description, then one line per option.
    for (const MessageId id :
         {MessageId::UsageDescription, MessageId::OptionNoWindow, MessageId::OptionSettings,
          MessageId::OptionAll, MessageId::OptionDryRun, MessageId::OptionAllowMassDelete,
          MessageId::OptionHelp, MessageId::OptionVersion})
        text += ResourceString(id) + QLatin1Char('\n');
    return text;
}

bool DisplayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}
