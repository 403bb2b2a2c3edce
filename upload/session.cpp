#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "pathhelpers.h"
#include "programerror.h"
#include "stringtable.h"
#include "uploadview.h"

#include <stdexcept>

namespace {

classUpload::ViewProvider &viewProvider()
{
    static classUpload::ViewProvider provider;
    return provider;
}

} // namespace

std::unique_ptr<classUpload> &classUpload::storage()
{
    static std::unique_ptr<classUpload> session;
    return session;
}

classUpload &classUpload::instance()
{
    auto &session = storage();
    if (!session)
        session.reset(new classUpload());
    return *session;
}

void classUpload::setViewProvider(ViewProvider provider)
{
    viewProvider() = std::move(provider);
}

classUpload::classUpload()
{
    mWait.mTimeout = 60;
    mSettings.mDifferentialMode = false;
}

classUpload::~classUpload() = default;

UploadView &classUpload::view()
{
    const auto &provider = viewProvider();
    if (!provider)
        throw std::logic_error("the upload session has no view");
    return provider(control());
}

FtpComponentHost &classUpload::ftpHost()
{
    if (!mFtpHost)
        useFtpComponent(std::make_unique<FtpControl>());
    return *mFtpHost;
}

void classUpload::useFtpComponent(std::unique_ptr<FtpControl> component)
{
    component->setDownloadLimit(LargestUploadLog);
    mFtpHost = std::make_unique<FtpComponentHost>(
        std::move(component),
        FtpComponentHost::Handlers{
            [this](int connection) { FTPDone(connection); },
            [this](int connection, const QString &text) {
                // The first connection's transcript reads as it always has; the lines of further
                // connections, interleaved with it, say whose they are.
                FTPDebug(connection == 0 ? text
                                         : QStringLiteral("[%1] ").arg(connection + 1) + text);
            },
            [this](int connection) { ResetWatchDog(connection); }, [this] { TriggerWatchDog(); }});
}

void classUpload::releaseFtpComponent()
{
    mFtpHost.reset();
}

FtpControl &classUpload::ftp()
{
    return ftpHost().component();
}

StepOutcome classUpload::RecordFailure(MessageId id, const QString &concerned)
{
    return RecordFailure(id, QList<MessageArgument>{concerned});
}

StepOutcome classUpload::RecordFailure(MessageId id, QList<MessageArgument> arguments)
{
    return RecordFailure(UserMessage(id, std::move(arguments)));
}

StepOutcome classUpload::RecordFailure(const UserMessage &message, int replyCode)
{
    mFailure.mAborted = true;
    mFailure.mErrorId = message.id;
    mFailure.mErrorArguments = message.arguments;
    mFailure.mErrorDetailId = message.detailId;
    mFailure.mErrorDetailArguments = message.detailArguments;
    mFailure.mReplyCode = replyCode;
    mFailure.mPassing = false;
    return Outcome();
}

StepOutcome classUpload::Outcome() const
{
    using Ending = StepOutcome::Ending;
    if (!mFailure.mAborted)
        return StepOutcome::done();
    switch (mFailure.mErrorId) {
    case MessageId::CancelledByUser:
        return StepOutcome::ended(Ending::Cancelled);
    case MessageId::TimedOut:
        return StepOutcome::ended(Ending::TimedOut);
    case MessageId::ConnectionLost:
        return StepOutcome::ended(Ending::ConnectionLost);
    default:
        break;
    }
    return mFailure.mReplyCode != 0 ? StepOutcome::refused(mFailure.mReplyCode)
                                    : StepOutcome::ended(Ending::Failed);
}

void classUpload::setPreviewOnly(bool previewOnly)
{
    mSettings.mPreviewOnly = previewOnly;
}

void classUpload::setAcceptedCertificate(const QByteArray &fingerprint)
{
    mSettings.mAcceptedCertificate = fingerprint;
}

// Settings that the component needs are handed over and not kept here: the component's value is the
// only record, so what the run later reads back (Host, UserName) is exactly what reached the
// connection.

void classUpload::FTPFirewallHost(const QString &myNewHost)
{
    if (!myNewHost.isEmpty())
        ftp().setFirewallHost(myNewHost);
}

void classUpload::FTPDisablePasv(bool myNewPasv)
{
    // Despite its name this property has always carried the "use passive mode" setting unchanged.
    ftp().setPassive(myNewPasv);
}

void classUpload::FTPDelete(bool myNewDelete)
{
    mSettings.mDeleteRemote = myNewDelete;
}

void classUpload::FTPFirewallLogonName(const QString &myNewName)
{
    if (!myNewName.isEmpty())
        ftp().setFirewallUserName(myNewName);
}

void classUpload::FTPFirewallPassword(const QString &myNewPassword)
{
    if (!myNewPassword.isEmpty())
        ftp().setFirewallPassword(myNewPassword);
}

void classUpload::FTPFirewallPort(qint32 myNewPort)
{
    if (myNewPort == 0)
        return;
    // Every TCP port (1 to 65535) is valid, also those above 32767 that a signed 16-bit number
    // would not hold. Start-up refuses other values with a message naming the setting before they
    // get here.
    if (myNewPort < 0 || myNewPort > 65535)
        throw ProgramError(ProgramError::Overflow, ResourceString(MessageId::Overflow));
    ftp().setFirewallPort(static_cast<quint16>(myNewPort));
}

void classUpload::FTPFirewallType(qint32 myNewType)
{
    if (myNewType != 0)
        ftp().setFirewallType(myNewType);
}

void classUpload::LocalBaseDir(const QString &myNewBaseDir)
{
    mSettings.mLocalBaseDir = myNewBaseDir;
}

void classUpload::RemoteBaseDir(const QString &myNewBaseDir)
{
    mSettings.mRemoteBaseDir = myNewBaseDir;
}

void classUpload::RemoteURL(const QString &myNewURL)
{
    mSettings.mRemoteURL = myNewURL;
}

QString classUpload::RemoteURL() const
{
    return mSettings.mRemoteURL;
}

void classUpload::FTPLogonName(const QString &myNewLogonName)
{
    ftp().setUserName(myNewLogonName);
}

void classUpload::FTPLogonPassword(const QString &myNewLogonPassword)
{
    ftp().setPassword(myNewLogonPassword);
}

void classUpload::FTPHost(const QString &myNewHost)
{
    ftp().setHost(myNewHost);
}

void classUpload::FTPDifferentialMode(bool myNewMode)
{
    mSettings.mDifferentialMode = myNewMode;
}
