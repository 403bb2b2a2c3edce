#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

// Decides whether the certificate a server presented during the TLS handshake is good enough.
//
// A certificate that verifies against the system's trusted authorities for the host name is
// accepted as it is. Any other one (self-signed, expired, or issued for the hosting company's own
// name) is trusted on first use: its fingerprint is stored for the host and port, and from then on
// only that certificate is accepted there. A different unverifiable certificate is refused: it is
// exactly what someone in the middle of the connection would present.
class FtpCertificateCheck
{
public:
    enum class Verdict {
        Verified, // verified against the system's authorities
        FirstUse, // unknown until now; its fingerprint was stored
        Known,    // matches the fingerprint stored earlier
        Changed,  // differs from the stored fingerprint: refused
        Unusable, // no certificate, or the store could not be read or written: refused
    };

    struct Decision
    {
        Verdict verdict = Verdict::Unusable;
        QByteArray fingerprint; // SHA-256, lower-case hex
        QString explanation;    // for the transcript

        [[nodiscard]] bool accepted() const
        {
            return verdict == Verdict::Verified || verdict == Verdict::FirstUse ||
                   verdict == Verdict::Known;
        }
    };

    // host and port name the server whose certificate it is; storePath is the file of the
    // FtpCertificateStore.
    FtpCertificateCheck(QString host, quint16 port, QString storePath);

    // errors: what the handshake found wrong, empty when the certificate verified.
    [[nodiscard]] Decision decide(const QSslCertificate &certificate,
                                  const QList<QSslError> &errors) const;

    [[nodiscard]] static QByteArray fingerprintOf(const QSslCertificate &certificate);
    // "ab:cd:..." for people to compare.
    [[nodiscard]] static QString readable(const QByteArray &fingerprint);

private:
    QString mHost;
    quint16 mPort;
    QString mStorePath;
};
