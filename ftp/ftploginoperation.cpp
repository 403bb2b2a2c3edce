#include "ftploginoperation.h"

#include "ftpcontrolconnection.h"
#include "ftpfeatures.h"
#include "ftpresult.h"
#include "ftpsteptrace.h"
#include "ftptlshoststore.h"

namespace {

// For a clause that begins a sentence in the transcript.
QString capitalised(QString text)
{
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    return text;
}

QString replyResultText(const QString &what, const FtpReply &reply)
{
    return what + QStringLiteral(": ") + reply.text();
}

} // namespace

void FtpLoginOperation::setStep(Step next)
{
    qCDebug(lcFtpSteps) << "log-in" << mStep << "->" << next;
    mStep = next;
}

FtpLoginOperation::FtpLoginOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                                     FtpLoginSettings settings)
    : FtpOperation(connection, timeouts), mSettings(std::move(settings))
{}

FtpServerAddress FtpLoginOperation::endpoint() const
{
    if (!mSettings.proxy.isFtpProxy())
        return mSettings.server;
    // The FTP proxy is the other end of the dialogue, and of TLS when TLS is asked for.
    FtpServerAddress proxy;
    proxy.host = mSettings.proxy.host;
    proxy.port = mSettings.proxy.port;
    proxy.security = mSettings.server.security;
    return proxy;
}

void FtpLoginOperation::begin()
{
    connect(&connection(), &FtpControlConnection::opened, this, [this] {
        stillAlive();
        setStep(Step::Greeting);
    });
    connect(&connection(), &FtpControlConnection::secured, this, [this] {
        stillAlive();
        startLogIn();
    });
    if (mSettings.proxy.kind != FtpProxy::Kind::None)
        emit note(QStringLiteral("Connecting through the ") + mSettings.proxy.description() +
                  QLatin1Char('.'));
    connection().open(endpoint(), mSettings.proxy.networkProxy(), mSettings.trust);
}

void FtpLoginOperation::handleConnectionFailure(int result, const QString &description)
{
    if (result == FtpResult::TlsFailure) {
        // A bare host whose handshake fails ends here like any other; if it spoke TLS before,
        // the transcript says so, because that is where a user would look for how to go on.
        QString why = description;
        const QString before = mStep == Step::Handshake && mSettings.server.security ==
                                                               FtpServerAddress::Security::Automatic
                                   ? tlsHistory()
                                   : QString();
        if (!before.isEmpty()) {
            const QString end =
                description.endsWith(QLatin1Char('.')) ? QStringLiteral(" ") : QStringLiteral(". ");
            why += end + capitalised(before) + QStringLiteral(". ") + forgettingHint();
        }
        failTls(handshakeRefusal(), why);
        return;
    }
    // Whatever stops the way to an FTP proxy is the proxy's failure, not the server's.
    if (mStep == Step::Connecting && mSettings.proxy.isFtpProxy() &&
        result != FtpResult::TlsFailure) {
        finish(FtpResult::ProxyFailure, tr("The FTP proxy cannot be reached: %1").arg(description));
        return;
    }
    FtpOperation::handleConnectionFailure(result, description);
}

void FtpLoginOperation::abort()
{
    // Nothing worth keeping exists yet: a half-made log-in is simply dropped.
    connection().close();
    finish(FtpResult::Aborted, tr("The log-in was aborted."));
}

void FtpLoginOperation::handleReply(const FtpReply &reply)
{
    // 1yz: the server will answer again (a 120 "ready in n minutes" greeting, for example).
    if (reply.isPreliminary())
        return;

    switch (mStep) {
    case Step::Connecting:
    case Step::Greeting:
        if (!reply.isPositive()) {
            finishWithReply(reply);
            return;
        }
        greeted();
        return;

    case Step::Features:
        // Kept for the requests that ask later, so that FEAT is not sent twice.
        connection().rememberFeatures(reply);
        // A server that does not know FEAT offers no TLS either.
        mTlsOffered = FtpFeatures::fromReply(reply).authTls;
        if (mTlsOffered) {
            sendAuthTls();
            return;
        }
        continueInPlain(PlainReason::NotOffered,
                        tr("the server offers no TLS (no AUTH TLS among its features)"));
        return;

    case Step::AuthTls:
        if (reply.code == 234) {
            setStep(Step::Handshake);
            connection().startTls();
            return;
        }
        // A 4xx or 5xx is the server's own refusal: a server built with TLS but running without
        // a certificate lists AUTH TLS and answers "500 This security scheme is not implemented".
        // For a bare host everyday clients go on in plain FTP, and so does this one. Any other
        // answer is none that RFC 4217 allows, and "ftpes://" insists on TLS.
        if (mSettings.server.security == FtpServerAddress::Security::Automatic &&
            reply.isNegative()) {
            mAuthRefusal = reply.lines.join(QLatin1Char(' '));
            continueInPlain(PlainReason::Refused,
                            tr("the server refused AUTH TLS (%1)").arg(mAuthRefusal));
            return;
        }
        // A bare host gets here only with an answer that is neither consent nor refusal.
        failTls(mSettings.server.security == FtpServerAddress::Security::Automatic
                    ? FtpTlsRefusal::Reason::HandshakeFailed
                    : FtpTlsRefusal::Reason::RequiredButRefused,
                replyResultText(tr("The server refused AUTH TLS"), reply));
        return;

    case Step::Handshake:
        // Nothing is outstanding during the handshake; a reply now is out of turn.
        failTls(FtpTlsRefusal::Reason::HandshakeFailed,
                tr("The server answered during the TLS handshake: %1").arg(reply.text()));
        return;

    case Step::ProxyUser:
        if (reply.isPositive()) {
            proxyLoggedIn();
        } else if (reply.code == 331) {
            setStep(Step::ProxyPassword);
            connection().sendSecret(QStringLiteral("PASS"), mSettings.proxy.password);
        } else {
            failProxy(reply);
        }
        return;

    case Step::ProxyPassword:
        if (reply.isPositive())
            proxyLoggedIn();
        else
            failProxy(reply);
        return;

    case Step::ProxyTarget:
        if (reply.isPositive())
            sendUser(mSettings.userName);
        else
            failProxy(reply);
        return;

    case Step::User:
        // 230: some servers let a user in without a password.
        if (reply.isPositive()) {
            loggedIn();
        } else if (reply.code == 331) {
            setStep(Step::Password);
            connection().sendSecret(QStringLiteral("PASS"), mSettings.password);
        } else {
            // 332 (an account is needed) included: this component has no account to give.
            finish(static_cast<qint16>(FtpResult::ReplyBase + reply.code), reply.text());
        }
        return;

    case Step::Password:
        if (reply.isPositive())
            loggedIn();
        else
            finish(static_cast<qint16>(FtpResult::ReplyBase + reply.code), reply.text());
        return;

    case Step::ProtectionBufferSize:
        if (!reply.isPositive()) {
            failTls(FtpTlsRefusal::Reason::DataProtectionRefused,
                    replyResultText(tr("The server refused PBSZ 0"), reply));
            return;
        }
        setStep(Step::Protection);
        connection().send(QStringLiteral("PROT P"));
        return;

    case Step::Protection:
        // Data in clear text after a protected log-in would hand the files to anyone listening.
        if (!reply.isPositive()) {
            failTls(FtpTlsRefusal::Reason::DataProtectionRefused,
                    replyResultText(tr("The server refuses to encrypt data connections (PROT P)"),
                                    reply));
            return;
        }
        connection().setDataProtected(true);
        sendType();
        return;

    case Step::Type:
        if (!reply.isPositive()) {
            finishWithReply(reply);
            return;
        }
        succeed(reply);
        return;
    }
}

void FtpLoginOperation::greeted()
{
    switch (mSettings.server.security) {
    case FtpServerAddress::Security::Automatic:
        setStep(Step::Features);
        connection().send(QStringLiteral("FEAT"));
        return;
    case FtpServerAddress::Security::ExplicitTls:
        sendAuthTls();
        return;
    case FtpServerAddress::Security::ImplicitTls:
        startLogIn();
        return;
    case FtpServerAddress::Security::Plain:
        // The user chose it, typically for a server whose TLS is broken beyond repair: no FEAT,
        // no AUTH TLS, and no look at what this host did before.
        mPlainReason = PlainReason::Chosen;
        startLogIn();
        return;
    }
}

void FtpLoginOperation::sendAuthTls()
{
    setStep(Step::AuthTls);
    connection().send(QStringLiteral("AUTH TLS"));
}

void FtpLoginOperation::continueInPlain(PlainReason reason, const QString &why)
{
    const QString before = tlsHistory();
    if (!before.isEmpty()) {
        failTls(FtpTlsRefusal::Reason::NoLongerOffered,
                tr("Plain FTP refused: %1, but %2. Someone on the way may be removing TLS from "
                   "the dialogue to read the password; the user name and password were not "
                   "sent. %3")
                    .arg(why, before, forgettingHint()));
        return;
    }
    mPlainReason = reason;
    // Said before USER goes out, so the transcript shows the decision ahead of the log-in.
    emit note(tr("%1: plain FTP, the password and the files travel unencrypted (%2 never "
                 "completed a log-in over TLS).")
                  .arg(capitalised(why), endpointName()));
    startLogIn();
}

QString FtpLoginOperation::endpointName() const
{
    const FtpServerAddress where = endpoint();
    return tr("%1 port %2").arg(where.host, QString::number(where.port));
}

QString FtpLoginOperation::tlsHistory() const
{
    const FtpServerAddress where = endpoint();
    QString error;
    // The host as spelled and the address it was reached at: another spelling of a remembered
    // host, or its address, must not get the password in clear text.
    const auto known = FtpTlsHostStore(mSettings.tlsHostStorePath)
                           .contains(connection().endpointHosts(), where.port, &error);
    // Assume the worst: a list that cannot be read may well hold this host.
    if (!known)
        return tr("the list of servers that completed a log-in over TLS cannot be read (%1), so "
                  "%2 may have done so")
            .arg(error, endpointName());
    if (!*known)
        return QString();
    return tr("%1 completed a log-in over TLS before").arg(endpointName());
}

QString FtpLoginOperation::forgettingHint() const
{
    const FtpServerAddress where = endpoint();
    QStringList lines;
    for (const QString &host : connection().endpointHosts())
        lines.append(QLatin1Char('"') + FtpTlsHostStore::key(host, where.port) + QLatin1Char('"'));
    return tr("If the server really no longer speaks TLS, forget it by deleting the line %1 "
              "from %2, or write ftp://%3 as the host to choose plain FTP.")
        .arg(lines.join(QStringLiteral(" and the line ")), mSettings.tlsHostStorePath,
             FtpProxyTarget(mSettings.server));
}

void FtpLoginOperation::startLogIn()
{
    const FtpProxy &proxy = mSettings.proxy;
    if (!proxy.isFtpProxy()) {
        sendUser(mSettings.userName);
        return;
    }
    if (!proxy.userName.isEmpty()) {
        setStep(Step::ProxyUser);
        connection().send(QStringLiteral("USER ") + proxy.userName);
        return;
    }
    proxyLoggedIn();
}

void FtpLoginOperation::proxyLoggedIn()
{
    const QString target = FtpProxyTarget(mSettings.server);
    switch (mSettings.proxy.kind) {
    case FtpProxy::Kind::FtpUserAtHost:
        sendUser(mSettings.userName + QLatin1Char('@') + target);
        return;
    case FtpProxy::Kind::FtpSite:
        setStep(Step::ProxyTarget);
        connection().send(QStringLiteral("SITE ") + target);
        return;
    case FtpProxy::Kind::FtpOpen:
        setStep(Step::ProxyTarget);
        connection().send(QStringLiteral("OPEN ") + target);
        return;
    default:
        sendUser(mSettings.userName);
        return;
    }
}

void FtpLoginOperation::sendUser(const QString &name)
{
    setStep(Step::User);
    connection().send(QStringLiteral("USER ") + name);
}

void FtpLoginOperation::loggedIn()
{
    if (!connection().isEncrypted()) {
        sendType();
        return;
    }
    setStep(Step::ProtectionBufferSize);
    connection().send(QStringLiteral("PBSZ 0"));
}

void FtpLoginOperation::sendType()
{
    setStep(Step::Type);
    connection().send(QStringLiteral("TYPE I"));
}

void FtpLoginOperation::succeed(const FtpReply &reply)
{
    const FtpServerAddress server = mSettings.server;
    QString protocol;
    if (!connection().isEncrypted()) {
        protocol = plainSummary();
    } else if (endpoint().security == FtpServerAddress::Security::ImplicitTls) {
        protocol = tr("FTP over implicit TLS (ftps://)");
    } else if (mSettings.server.security == FtpServerAddress::Security::ExplicitTls) {
        protocol = tr("FTP over explicit TLS (AUTH TLS, required by ftpes://)");
    } else {
        protocol = tr("FTP over explicit TLS (AUTH TLS, offered by the server)");
    }
    QString text = tr("Logged in to %1 with %2").arg(FtpProxyTarget(server), protocol);
    const QString security = connection().securityDescription();
    if (!security.isEmpty())
        text += QStringLiteral("; ") + security + tr("; data connections encrypted (PROT P)");
    text += QStringLiteral("; ") + (mSettings.proxy.kind == FtpProxy::Kind::None
                                        ? tr("direct connection, no proxy")
                                        : tr("through the %1").arg(mSettings.proxy.description()));
    text += QLatin1Char('.');
    if (connection().isEncrypted())
        text += rememberTls();
    emit established(text);
    const auto &certificate = connection().certificateDecision();
    if (certificate && certificate->accepted() && !certificate->stored &&
        (certificate->verdict == FtpCertificateCheck::Verdict::FirstUse ||
         certificate->verdict == FtpCertificateCheck::Verdict::Accepted))
        emit trustedForNow(certificate->presented);
    finishWithReply(reply);
}

QString FtpLoginOperation::plainSummary() const
{
    switch (mPlainReason) {
    case PlainReason::Chosen:
        return tr("plain FTP without encryption, chosen by the host setting (ftp://), AUTH TLS "
                  "not tried");
    case PlainReason::Refused:
        return tr("plain FTP without encryption, because the server refused AUTH TLS (%1)")
            .arg(mAuthRefusal);
    case PlainReason::NotOffered:
        break;
    }
    return tr("plain FTP without encryption, because the server offers no TLS (no AUTH TLS among "
              "its features)");
}

QString FtpLoginOperation::rememberTls()
{
    const FtpServerAddress where = endpoint();
    FtpTlsHostStore store(mSettings.tlsHostStorePath);
    QString error;
    const QStringList hosts = connection().endpointHosts();
    const auto known = store.contains(hosts, where.port, &error);
    if (!mSettings.trust.remember)
        return known && *known
                   ? QString()
                   : tr(" That %1 completed a log-in over TLS is not remembered: nothing is stored "
                        "now.")
                         .arg(endpointName());
    // Every key that is new is added, so the address of a remembered name is known from now on.
    // The log-in went through; a list that cannot be written only weakens the next connection.
    if (!known || !store.remember(hosts, where.port, &error))
        return tr(" Cannot remember that %1 completed a log-in over TLS: %2")
            .arg(endpointName(), error);
    return tr(" From now on plain FTP to %1 is refused (remembered in %2).")
        .arg(endpointName(), store.path());
}

void FtpLoginOperation::failProxy(const FtpReply &reply)
{
    finish(FtpResult::ProxyFailure, replyResultText(tr("The FTP proxy refused"), reply));
}

void FtpLoginOperation::failTls(FtpTlsRefusal::Reason reason, const QString &why)
{
    connection().close();
    const FtpServerAddress where = endpoint();
    FtpTlsRefusal refusal;
    refusal.reason = reason;
    refusal.host = where.host;
    refusal.port = where.port;
    refusal.plainTarget = FtpProxyTarget(mSettings.server);
    refusal.certificateStorePath = mSettings.trust.storePath;
    if (const auto &certificate = connection().certificateDecision()) {
        refusal.trustedFingerprint = certificate->trustedFingerprint;
        refusal.presented = certificate->presented;
    }
    emit refused(refusal);
    finish(reason == FtpTlsRefusal::Reason::CertificateChanged ? FtpResult::CertificateChanged
                                                               : FtpResult::TlsFailure,
           why);
}

FtpTlsRefusal::Reason FtpLoginOperation::handshakeRefusal() const
{
    const auto &certificate = connection().certificateDecision();
    if (certificate && certificate->verdict == FtpCertificateCheck::Verdict::Changed)
        return FtpTlsRefusal::Reason::CertificateChanged;
    if (certificate && certificate->verdict == FtpCertificateCheck::Verdict::Unusable)
        return FtpTlsRefusal::Reason::CertificateUnusable;
    return FtpTlsRefusal::Reason::HandshakeFailed;
}
