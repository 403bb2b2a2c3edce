#include "ftpcertificatecheck.h"

#include "ftpcertificatestore.h"

#include <QCryptographicHash>

FtpCertificateCheck::FtpCertificateCheck(QStringList hosts, quint16 port, Trust trust)
    : mHosts(std::move(hosts)), mPort(port), mTrust(std::move(trust))
{}

FtpCertificateCheck::FtpCertificateCheck(const QString &host, quint16 port,
                                         const QString &storePath)
    : FtpCertificateCheck(QStringList{host}, port, Trust{storePath, {}, true})
{}

QByteArray FtpCertificateCheck::fingerprintOf(const QSslCertificate &certificate)
{
    return certificate.digest(QCryptographicHash::Sha256).toHex();
}

FtpCertificateSummary FtpCertificateCheck::summaryOf(const QSslCertificate &certificate)
{
    // The display names are what a hosting company's help page names too: the common name, or
    // the organisation when there is none.
    return FtpCertificateSummary{fingerprintOf(certificate), certificate.subjectDisplayName(),
                                 certificate.issuerDisplayName(), certificate.effectiveDate(),
                                 certificate.expiryDate()};
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
    decision.presented = summaryOf(certificate);
    decision.fingerprint = decision.presented.fingerprint;
    const QString shown = readable(decision.fingerprint);
    const QString host = mHosts.value(0);
    if (errors.isEmpty()) {
        decision.verdict = Verdict::Verified;
        decision.explanation =
            QStringLiteral("The certificate of %1 verifies against the system's authorities.")
                .arg(host);
        return decision;
    }

    QStringList problems;
    for (const QSslError &error : errors)
        problems.append(error.errorString());
    const QString why = problems.join(QStringLiteral("; "));

    const FtpCertificateStore store(mTrust.storePath);
    QString storeError;
    const auto stored = store.fingerprint(mHosts, mPort, &storeError);
    if (!storeError.isEmpty()) {
        decision.explanation =
            QStringLiteral("The certificate does not verify (%1), and the list of trusted "
                           "certificates is unusable: %2")
                .arg(why, storeError);
        return decision;
    }
    if (!stored) {
        trust(decision, Verdict::FirstUse, why);
        return decision;
    }
    decision.trustedFingerprint = *stored;
    if (*stored == decision.fingerprint) {
        decision.verdict = Verdict::Known;
        decision.explanation = QStringLiteral("The certificate does not verify (%1) but is the "
                                              "one trusted on first use, SHA-256 %2.")
                                   .arg(why, shown);
        return decision;
    }
    if (!mTrust.acceptedFingerprint.isEmpty() &&
        mTrust.acceptedFingerprint.toLower() == decision.fingerprint) {
        trust(decision, Verdict::Accepted, why);
        return decision;
    }
    decision.verdict = Verdict::Changed;
    decision.explanation =
        QStringLiteral("Refused: the server presents a different certificate (SHA-256 %1) than "
                       "the one trusted on first use (SHA-256 %2), and it does not verify (%3). "
                       "It is taken only when the user accepts it by its fingerprint; or delete "
                       "the line \"%4\" from %5 to trust the next one on first use.")
            .arg(shown, readable(*stored), why, FtpCertificateStore::key(host, mPort),
                 mTrust.storePath);
    if (!mTrust.acceptedFingerprint.isEmpty())
        decision.explanation += QStringLiteral(" The fingerprint accepted was %1.")
                                    .arg(readable(mTrust.acceptedFingerprint.toLower()));
    return decision;
}

void FtpCertificateCheck::trust(Decision &decision, Verdict verdict, const QString &why) const
{
    const QString shown = readable(decision.fingerprint);
    const QString what = verdict == Verdict::Accepted
                             ? QStringLiteral("Accepted by the user in place of SHA-256 %1: "
                                              "SHA-256 %2")
                                   .arg(readable(decision.trustedFingerprint), shown)
                             : QStringLiteral("Trusted on first use: SHA-256 %1").arg(shown);
    const QString key = FtpCertificateStore::key(mHosts.value(0), mPort);
    if (!mTrust.remember) {
        decision.verdict = verdict;
        decision.explanation =
            QStringLiteral("The certificate does not verify (%1). %2, for this connection only: "
                           "nothing is stored.")
                .arg(why, what);
        return;
    }
    QString storeError;
    FtpCertificateStore store(mTrust.storePath);
    if (!store.remember(mHosts, mPort, decision.fingerprint, &storeError)) {
        decision.verdict = Verdict::Unusable;
        decision.explanation =
            QStringLiteral("The certificate does not verify (%1) and cannot be remembered: %2")
                .arg(why, storeError);
        return;
    }
    decision.verdict = verdict;
    decision.stored = true;
    decision.explanation = QStringLiteral("The certificate does not verify (%1). %2 is stored for "
                                          "%3 in %4.")
                               .arg(why, what, key, mTrust.storePath);
}
