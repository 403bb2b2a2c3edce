#pragma once

#include "ftptlsrefusal.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>

// Decides whether the certificate a server presented during the TLS handshake is good enough.
//
// A certificate that verifies against the system's trusted authorities for the host name is
// accepted as it is. Any other one (self-signed, expired, or issued for the hosting company's own
// name) is trusted on first use: its fingerprint is stored for the host and port, and from then on
// only that certificate is accepted there. A different unverifiable certificate is refused: it is
// exactly what someone in the middle of the connection would present, and also what a host shows
// after renewing its certificate. Only the user can tell the two apart, so the refusal carries what
// they need to judge it, and the one certificate they accepted (by its fingerprint) replaces the
// stored one at the next connection.
class FtpCertificateCheck
{
public:
    enum class Verdict {
        Verified, // verified against the system's authorities
        FirstUse, // unknown until now; its fingerprint was stored
        Known,    // matches the fingerprint stored earlier
        Accepted, // differs from the stored fingerprint, but is the one the user accepted
        Changed,  // differs from the stored fingerprint: refused
        Unusable, // no certificate, or the store could not be read or written: refused
    };

    struct Decision
    {
        Verdict verdict = Verdict::Unusable;
        QByteArray fingerprint; // SHA-256, lower-case hex
        QString explanation;    // for the transcript
        // FirstUse and Accepted: the fingerprint was written to the store. Without it the
        // certificate is trusted for this connection only (see Trust::remember).
        bool stored = false;
        // Changed and Accepted: the fingerprint stored before.
        QByteArray trustedFingerprint;
        FtpCertificateSummary presented;

        [[nodiscard]] bool accepted() const
        {
            return verdict == Verdict::Verified || verdict == Verdict::FirstUse ||
                   verdict == Verdict::Known || verdict == Verdict::Accepted;
        }
    };

    // What the check may trust and remember.
    struct Trust
    {
        QString storePath; // the file of the FtpCertificateStore
        // The fingerprint (SHA-256, lower-case hex) of a certificate the user accepted in place of
        // the stored one; empty for none.
        QByteArray acceptedFingerprint;
        // False: nothing is written; a certificate seen first, or accepted, is trusted for this
        // connection only (a preview changes nothing, a trust decision included).
        bool remember = true;
    };

    // hosts: the keys of the server whose certificate it is (FtpHostKeys), port its port.
    FtpCertificateCheck(QStringList hosts, quint16 port, Trust trust);
    FtpCertificateCheck(const QString &host, quint16 port, const QString &storePath);

    // errors: what the handshake found wrong, empty when the certificate verified.
    [[nodiscard]] Decision decide(const QSslCertificate &certificate,
                                  const QList<QSslError> &errors) const;

    [[nodiscard]] static QByteArray fingerprintOf(const QSslCertificate &certificate);
    [[nodiscard]] static FtpCertificateSummary summaryOf(const QSslCertificate &certificate);
    // "ab:cd:..." for people to compare.
    [[nodiscard]] static QString readable(const QByteArray &fingerprint);

private:
    // Stores the presented certificate and finishes the decision as FirstUse or Accepted, or as
    // Unusable when the store cannot be written.
    void trust(Decision &decision, Verdict verdict, const QString &why) const;

    QStringList mHosts;
    quint16 mPort;
    Trust mTrust;
};
