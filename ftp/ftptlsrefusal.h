#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What a person needs to judge a server certificate before trusting it.
struct FtpCertificateSummary
{
    QByteArray fingerprint; // SHA-256, lower-case hex
    QString subject;        // whom it was issued for
    QString issuer;         // who issued it
    QDateTime validFrom;
    QDateTime validUntil;
};

// Why Connect would not go on with, or without, TLS: the result FtpResult::TlsFailure or
// FtpResult::CertificateChanged says that it refused, this says why, so that whoever shows the
// refusal can say what the user can do about it. The transcript has the details.
struct FtpTlsRefusal
{
    enum class Reason {
        // A host that completed a log-in over TLS before now offers no TLS or refuses AUTH TLS:
        // what someone on the way who strips TLS to read the password would show.
        NoLongerOffered,
        // "ftpes://" asks for TLS, and the server offers none or refuses AUTH TLS.
        RequiredButRefused,
        // The TLS handshake failed or was broken off, or the server misbehaved around it.
        HandshakeFailed,
        // After a log-in over TLS the server refuses to protect the data connections (PBSZ, PROT).
        DataProtectionRefused,
        // The certificate could not be judged: the list of trusted certificates cannot be read
        // or written, or the server presented none.
        CertificateUnusable,
        // The certificate does not verify and is not the one trusted before (see presented).
        CertificateChanged,
    };

    Reason reason = Reason::HandshakeFailed;
    // The endpoint whose TLS it is, as the Host property names it: the server, or the FTP proxy
    // that the dialogue goes to.
    QString host;
    quint16 port = 0;
    // The server as "ftp://" would take it to choose plain FTP knowingly: "host" or "host:port".
    QString plainTarget;
    // CertificateUnusable: the file of trusted certificates.
    QString certificateStorePath;
    // CertificateChanged: the fingerprint trusted before, and the certificate presented now.
    QByteArray trustedFingerprint;
    FtpCertificateSummary presented;
};
