#include "classupload.h"
#include "ftpcertificatecheck.h"
#include "ftpcontrol.h"
#include "uploadview.h"

// What the session makes of a log-in that the FTP component refused over TLS. The component
// knows why; the user must learn it too, and what they can do, or a refusal reads like a wrong
// host name. A changed certificate is the one refusal only the user can settle: a renewal by the
// host and someone on the way look the same from here.

namespace {

MessageId ReasonMessage(FtpTlsRefusal::Reason reason)
{
    switch (reason) {
    case FtpTlsRefusal::Reason::NoLongerOffered:
        return MessageId::TlsNoLongerOffered;
    case FtpTlsRefusal::Reason::RequiredButRefused:
        return MessageId::TlsRequiredButRefused;
    case FtpTlsRefusal::Reason::DataProtectionRefused:
        return MessageId::TlsDataProtectionRefused;
    case FtpTlsRefusal::Reason::CertificateUnusable:
        return MessageId::CertificateUnusable;
    case FtpTlsRefusal::Reason::CertificateChanged:
        return MessageId::CertificateChanged;
    case FtpTlsRefusal::Reason::HandshakeFailed:
        break;
    }
    return MessageId::TlsHandshakeFailed;
}

} // namespace

bool classUpload::AcceptChangedCertificate()
{
    const std::optional<FtpTlsRefusal> refusal = ftp().tlsRefusal();
    if (mSettings.mPreviewOnly || !Outcome() || !refusal ||
        refusal->reason != FtpTlsRefusal::Reason::CertificateChanged)
        return false;
    const CertificateAnswer answer = AskChangedCertificate(
        ChangedCertificate{ftp().host(), refusal->trustedFingerprint, refusal->presented});
    if (!Outcome())
        return false; // cancelled meanwhile: the cancellation stands
    if (answer == CertificateAnswer::Refuse) {
        std::ignore = RecordFailure(MessageId::CertificateDeclined, ftp().host());
        return false;
    }
    if (answer != CertificateAnswer::Accept)
        return false;
    ftp().setAcceptedCertificate(refusal->presented.fingerprint);
    return true;
}

StepOutcome classUpload::RecordTlsRefusal()
{
    // The user's own no has its message already.
    if (mFailure.mAborted && mFailure.mErrorId == MessageId::CertificateDeclined)
        return Outcome();
    UserMessage message(MessageId::ConnectionFailed, {ftp().host()});
    if (const std::optional<FtpTlsRefusal> refusal = ftp().tlsRefusal()) {
        message.detailId = ReasonMessage(refusal->reason);
        switch (refusal->reason) {
        case FtpTlsRefusal::Reason::CertificateChanged: {
            const QByteArray presented = refusal->presented.fingerprint;
            const QByteArray accepted = mSettings.mAcceptedCertificate.toLower();
            if (!accepted.isEmpty() && accepted != presented)
                message.detailId = MessageId::CertificateNotTheAccepted;
            message.detailArguments = {FtpCertificateCheck::readable(presented)};
            break;
        }
        case FtpTlsRefusal::Reason::CertificateUnusable:
            message.detailArguments = {refusal->certificateStorePath};
            break;
        default:
            message.detailArguments = {refusal->plainTarget};
            break;
        }
    }
    return RecordFailure(message);
}

void classUpload::NoteCertificateTrustedForNow()
{
    if (const std::optional<FtpCertificateSummary> trusted = ftp().certificateTrustedForNow())
        view().previewNote(
            UserMessage(MessageId::PreviewCertificateTrustedOnce,
                        {ftp().host(), FtpCertificateCheck::readable(trusted->fingerprint)}));
}
