#include "ftpcertificatecheck.h"

#include "ftpcertificatestore.h"

#include <QCryptographicHash>

FtpCertificateCheck::FtpCertificateCheck(QString host, quint16 port, QString storePath)
    : mHost(std::move(host)), mPort(port), mStorePath(std::move(storePath))
{}

QByteArray FtpCertificateCheck::fingerprintOf(const QSslCertificate &certificate)
{
    return certificate.digest(QCryptographicHash::Sha256).toHex();
}

QString FtpCertificateCheck::readable(const QByteArray &fingerprint)
{
    QString text;
    for (qsizetype i = 0; i < fingerprint.size(); i += 2) {
        if (!text.isEmpty())
            text += QLatin1Char(':');
        text += QString::fromLatin1(fingerprint.mid(i, 2)).toUpper();
    }
    return text;
}

FtpCertificateCheck::Decision FtpCertificateCheck::decide(const QSslCertificate &certificate,
                                                          const QList<QSslError> &errors) const
{
    Decision decision;
    if (certificate.isNull()) {
        decision.explanation = QStringLiteral("The server presented no certificate.");
        return decision;
    }
    decision.fingerprint = fingerprintOf(certificate);
    const QString shown = readable(decision.fingerprint);
    if (errors.isEmpty()) {
        decision.verdict = Verdict::Verified;
        decision.explanation =
            QStringLiteral("The certificate of %1 verifies against the system's authorities.")
                .arg(mHost);
        return decision;
    }

    QStringList problems;
    for (const QSslError &error : errors)
        problems.append(error.errorString());
    const QString why = problems.join(QStringLiteral("; "));

    FtpCertificateStore store(mStorePath);
    QString storeError;
    const auto stored = store.fingerprint(mHost, mPort, &storeError);
    if (!storeError.isEmpty()) {
        decision.explanation =
            QStringLiteral("The certificate does not verify (%1), and the list of trusted "
                           "certificates is unusable: %2")
                .arg(why, storeError);
        return decision;
    }
    if (stored) {
        if (*stored == decision.fingerprint) {
            decision.verdict = Verdict::Known;
            decision.explanation = QStringLiteral("The certificate does not verify (%1) but is the "
                                                  "one trusted on first use, SHA-256 %2.")
                                       .arg(why, shown);
        } else {
            decision.verdict = Verdict::Changed;
            decision.explanation =
                QStringLiteral("Refused: the server presents a different certificate (SHA-256 %1) "
                               "than the one trusted on first use (SHA-256 %2), and it does not "
                               "verify (%3). If the server's certificate was really renewed, "
                               "delete the line \"%4\" from %5.")
                    .arg(shown, readable(*stored), why, FtpCertificateStore::key(mHost, mPort),
                         mStorePath);
        }
        return decision;
    }
    if (!store.remember(mHost, mPort, decision.fingerprint, &storeError)) {
        decision.explanation =
            QStringLiteral("The certificate does not verify (%1) and cannot be remembered: %2")
                .arg(why, storeError);
        return decision;
    }
    decision.verdict = Verdict::FirstUse;
    decision.explanation = QStringLiteral("The certificate does not verify (%1). Trusted on first "
                                          "use: SHA-256 %2 is stored for %3 in %4.")
                               .arg(why, shown, FtpCertificateStore::key(mHost, mPort), mStorePath);
    return decision;
}
