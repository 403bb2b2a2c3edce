#include "mainprogram.h"

#include "classupload.h"
#include "instanceguard.h"
#include "numberconversion.h"
#include "programerror.h"
#include "settingsstore.h"
#include "stringtable.h"

#include <limits>

namespace {

[[noreturn]] void overflow(const QString &key, const QString &text)
{
    throw ProgramError(ProgramError::Overflow,
                       ResourceString(MessageId::SettingOutOfRange, {key, text}));
}

bool readTruth(SettingsSource &settings, const QString &key)
{
    const QString text = settings.read(key);
    const auto value = TruthFromText(text);
    if (!value)
        overflow(key, text);
    return *value;
}

qint32 readWholeNumber(SettingsSource &settings, const QString &key,
                       qint32 lowest = std::numeric_limits<qint32>::min(),
                       qint32 highest = std::numeric_limits<qint32>::max())
{
    const QString text = settings.read(key);
    const auto value = WholeNumberFromText(text);
    if (!value || *value < lowest || *value > highest)
        overflow(key, text);
    return *value;
}

} // namespace

void ApplySettings(SettingsSource &settings, classUpload &session)
{
    session.LocalBaseDir(settings.read(QStringLiteral("FTPLocalBaseDir")));
    session.RemoteBaseDir(settings.read(QStringLiteral("FTPRemoteBaseDir")));
    session.RemoteURL(settings.read(QStringLiteral("FTPRemoteURL")));
    session.FTPHost(settings.read(QStringLiteral("FTPHost")));
    session.FTPLogonName(settings.read(QStringLiteral("FTPLogonName")));
    session.FTPLogonPassword(settings.read(QStringLiteral("FTPPassword")));
    session.FTPDisablePasv(readTruth(settings, QStringLiteral("FTPPassive")));
    session.FTPDelete(readTruth(settings, QStringLiteral("FTPDelete")));

    // How many connections at once; added long after the others, so the site builder may not
    // write it: missing or 0 is the default.
    session.FTPConnections(readWholeNumber(settings, QStringLiteral("FTPConnections"), 0, 10));

    const qint32 firewallType = readWholeNumber(settings, QStringLiteral("FTPFirewallType"));
    if (firewallType == 0)
        return;
    session.FTPFirewallType(firewallType);
    session.FTPFirewallHost(settings.read(QStringLiteral("FTPFirewallhost")));
    session.FTPFirewallLogonName(settings.read(QStringLiteral("FTPFirewallLogonName")));
    session.FTPFirewallPassword(settings.read(QStringLiteral("FTPFirewallPassword")));

    // Any TCP port is accepted, 1 to 65535, also those a signed 16-bit number cannot hold.
    session.FTPFirewallPort(readWholeNumber(settings, QStringLiteral("FTPFirewallPort"), 0, 65535));
}

StartOutcome Main(InstanceGuard &guard, SettingsSource &settings,
                  const std::function<void(const QString &)> &showWarning,
                  const RunRequest &request)
{
    if (!guard.tryAcquire()) {
        showWarning(ResourceString(MessageId::AlreadyRunning));
        return StartOutcome::AnotherInstanceRunning;
    }

    classUpload &session = classUpload::instance();
    ApplySettings(settings, session);
    session.FTPDifferentialMode(!request.publishEverything);
    session.setPreviewOnly(request.previewOnly);
    session.setAcceptedCertificate(request.acceptedCertificate);
    if (request.connections > 0)
        session.FTPConnections(request.connections);
    session.MagicUpload();
    return StartOutcome::RunFinished;
}

void ReleaseRunConnections()
{
    classUpload::instance().releaseFtpComponent();
}
