#include "commandline.h"

#include "stringtable.h"

#include <algorithm>

namespace {

// A SHA-256 fingerprint as people copy it: 64 hexadecimal digits in either case, with or without
// the colons between the bytes that certificate tools print. Lower-case hex without colons, or
// nothing when the text is none.
std::optional<QByteArray> FingerprintFromText(const QString &text)
{
    const QString digits = QString(text).remove(QLatin1Char(':')).toLower();
    const auto isHexDigit = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
    };
    if (digits.size() != 64 || !std::all_of(digits.begin(), digits.end(), isHexDigit))
        return std::nullopt;
    return digits.toLatin1();
}

} // namespace

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
        } else if (argument == QLatin1String("--accept-certificate") ||
                   argument.startsWith(QLatin1String("--accept-certificate="))) {
            const bool joined = argument.contains(QLatin1Char('='));
            if (!joined && i + 1 >= arguments.size()) {
                line.error = ResourceString(MessageId::AcceptCertificateMissing);
                return line;
            }
            const QString text = joined ? argument.section(QLatin1Char('='), 1) : arguments.at(++i);
            const auto fingerprint = FingerprintFromText(text);
            if (!fingerprint) {
                line.error = text.isEmpty()
                                 ? ResourceString(MessageId::AcceptCertificateMissing)
                                 : ResourceString(MessageId::AcceptCertificateInvalid, {text});
                return line;
            }
            line.acceptedCertificate = *fingerprint;
        } else if (argument == QLatin1String("--connections") ||
                   argument.startsWith(QLatin1String("--connections="))) {
            const bool joined = argument.contains(QLatin1Char('='));
            const QString text = joined                     ? argument.section(QLatin1Char('='), 1)
                                 : i + 1 < arguments.size() ? arguments.at(++i)
                                                            : QString();
            bool number = false;
            const int connections = text.toInt(&number);
            if (!number || connections < 1 || connections > 10) {
                line.error = ResourceString(MessageId::ConnectionsInvalid, {text});
                return line;
            }
            line.connections = connections;
        } else if (argument.startsWith(QLatin1String("--settings="))) {
            line.settingsFile = argument.mid(11);
            if (line.settingsFile.isEmpty()) {
                line.error = ResourceString(MessageId::SettingsFileNameMissing);
                return line;
            }
        } else {
            line.error = ResourceString(MessageId::UnknownArgument, {argument});
            return line;
        }
    }
    return line;
}

QString UsageText(const QString &programName)
{
    QString text = ResourceString(MessageId::Usage, {programName}) + QLatin1Char('\n');
    // The description, then one line per option.
    for (const MessageId id :
         {MessageId::UsageDescription, MessageId::OptionNoWindow, MessageId::OptionSettings,
          MessageId::OptionAll, MessageId::OptionDryRun, MessageId::OptionAllowMassDelete,
          MessageId::OptionAcceptCertificate, MessageId::OptionAcceptCertificateMore,
          MessageId::OptionConnections, MessageId::OptionHelp, MessageId::OptionVersion})
        text += ResourceString(id) + QLatin1Char('\n');
    return text;
}

bool DisplayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}
