#include "ftpcontrol.h"

#include "ftpactivitymeter.h"
#include "ftpcertificatestore.h"
#include "ftpcommandoperation.h"
#include "ftpcontrolconnection.h"
#include "ftpdownloadfile.h"
#include "ftperror.h"
#include "ftploginoperation.h"
#include "ftpproxy.h"
#include "ftpresult.h"
#include "ftpserveraddress.h"
#include "ftptlshoststore.h"
#include "ftptransferoperation.h"
#include "regularfile.h"
#include "stringtable.h"

#include <QElapsedTimer>
#include <QFile>
#include <cstring>
#include <deque>
#include <functional>
#include <unistd.h>
#include <utility>

// The public face of the component: properties, the one-request-at-a-time rule, and the delivery
// of its three signals. The dialogue itself is in the operations (ftp*operation.cpp) and the
// control connection.
//
// Every signal leaves through post(), a queued call on this object. So OperationComplete is never
// emitted inside the call that started the request, the three signals keep the order in which
// things happened, and a slot that runs a nested event loop never finds one of our sockets half
// way through its own signal on the stack. The calls wait in one queue that a single posted event
// empties: a request's dialogue produces a handful of signals at a time, and one trip through the
// event loop for all of them costs far less than one each.
struct FtpControl::Private
{
    explicit Private(FtpControl *owner) : q(owner) {}

    FtpControl *q;

    // Properties as set; Connect takes its copy of them.
    QString host;
    QString userName;
    QString password;
    bool passive = false;
    qint32 firewallType = 0;
    QString firewallUserName;
    QString firewallPassword;
    QString firewallHost;
    quint16 firewallPort = 0;
    QString certificateStorePath;
    QString tlsHostStorePath;
    QByteArray acceptedCertificate;
    bool trustRemembered = true;
    FtpTimeouts timeouts;
    qint64 downloadLimit = 0;

    // What the last completed request left behind.
    qint16 result = FtpResult::Success;
    QString currentDirectory;
    std::optional<FtpTlsRefusal> tlsRefusal;
    std::optional<FtpCertificateSummary> certificateTrustedForNow;
    // The same, while the log-in that says so has not completed yet.
    std::optional<FtpTlsRefusal> pendingTlsRefusal;
    std::optional<FtpCertificateSummary> pendingTrustedForNow;
    qint64 fileSize = -1;
    std::optional<FtpFeatures> features;
    QString refusedCommand;

    // The connection; declared before the operation, which refers to it, so it is destroyed after.
    std::unique_ptr<FtpControlConnection> connection;
    // A connection saying goodbye after Disconnect or a new Connect.
    std::unique_ptr<FtpControlConnection> leaving;
    bool loggedIn = false;
    bool passiveInUse = false;
    // How the last successful log-in was secured, for a further connection to the same server:
    // the security it used, and the certificate the server presented over TLS.
    std::optional<FtpServerAddress::Security> establishedSecurity;
    QByteArray establishedCertificate;
    // What the last log-in established, said before the next request (see startOperation).
    QString connectionSummary;

    std::unique_ptr<FtpOperation> operation;
    Request request = Request::Connect;
    quint64 requestNumber = 0;
    bool pending = false;

    // When a line from the server was last reported as a sign of life.
    QElapsedTimer sinceLineReported;

    // Calls waiting for the event loop, oldest first, and whether an event to run them is posted.
    std::deque<std::function<void()>> posted;
    bool deliveryPosted = false;

    void post(std::function<void()> call)
    {
        posted.push_back(std::move(call));
        postDelivery();
    }

    void postDelivery()
    {
        if (deliveryPosted)
            return;
        deliveryPosted = true;
        QMetaObject::invokeMethod(
            q, [this] { deliver(); }, Qt::QueuedConnection);
    }

    // Runs the calls that were waiting when this pass began; those posted meanwhile wait for the
    // next pass, as separate queued calls would. A slot that runs a nested event loop lets that
    // loop take the next calls from the same queue, so the order stays the order of posting.
    void deliver()
    {
        deliveryPosted = false;
        for (auto due = posted.size(); due > 0 && !posted.empty(); --due) {
            std::function<void()> call = std::move(posted.front());
            posted.pop_front();
            call();
        }
        if (!posted.empty())
            postDelivery();
    }

    void report(const QString &line)
    {
        const QString text = line + QStringLiteral("\r\n");
        post([this, text] { emit q->DebugMessage(text); });
    }

    // PutFile and PutFileFrom.
    void startUpload(const QString &localPath, const QString &remoteFileName, qint64 offset,
                     FtpSentBytesWatcher watchSent);

    void refuseIfPending() const
    {
        if (pending) {
            throw FtpError(FtpResult::RequestPending,
                           QStringLiteral("Der vorige FTP-Auftrag ist noch nicht beendet."));
        }
    }

    static void refuseLineBreaks(std::initializer_list<QString> arguments)
    {
        for (const QString &argument : arguments) {
            if (argument.contains(QLatin1Char('\r')) || argument.contains(QLatin1Char('\n'))) {
                throw FtpError(FtpResult::InvalidArgument,
                               ResourceString(MessageId::NameWithLineBreak));
            }
        }
    }

    [[nodiscard]] bool isLoggedIn() const { return connection && loggedIn && connection->isOpen(); }

    // A debug log is usually opened only once the log-in has succeeded, so what the log-in
    // established is said with the first request after it, where such a log sees it.
    void reportConnectionSummary()
    {
        if (!connectionSummary.isEmpty())
            report(QStringLiteral("# ") + std::exchange(connectionSummary, QString()));
    }

    // Every request gets the next number, which its OperationComplete carries.
    void begin(Request which)
    {
        pending = true;
        request = which;
        ++requestNumber;
    }

    void startOperation(Request which, std::unique_ptr<FtpOperation> started)
    {
        reportConnectionSummary();
        begin(which);
        operation = std::move(started);
        FtpOperation *op = operation.get();
        QObject::connect(op, &FtpOperation::finished, q,
                         [this] { post([this] { completeOperation(); }); });
        QObject::connect(op, &FtpOperation::note, q,
                         [this](const QString &text) { report(QStringLiteral("# ") + text); });
        QObject::connect(op, &FtpOperation::activity, q, [this](qint64 bytes) {
            post([this, bytes] { emit q->Activity(bytes); });
        });
        op->start();
    }

    // A request that ends before any dialogue (no connection, a host that cannot be parsed).
    void completeWithout(Request which, qint16 outcome, const QString &text)
    {
        FtpOperation::Outcome ended;
        ended.result = outcome;
        ended.text = text;
        completeLater(which, ended);
    }

    // A request the connection knows the answer to already: the transcript says so instead of
    // showing a command that never went out.
    void completeFromMemory(Request which, const QString &why, const FtpOperation::Outcome &known)
    {
        reportConnectionSummary();
        report(QStringLiteral("# ") + why);
        completeLater(which, known);
    }

    void completeLater(Request which, const FtpOperation::Outcome &outcome)
    {
        begin(which);
        post([this, outcome] { complete(outcome); });
    }

    void completeOperation()
    {
        // Destroyed here, from the event loop, where none of its sockets is emitting a signal.
        std::unique_ptr<FtpOperation> done = std::move(operation);
        const FtpOperation::Outcome outcome = done ? done->outcome() : FtpOperation::Outcome{};
        done.reset();

        if (request == Request::Connect) {
            loggedIn = outcome.result == FtpResult::Success && connection && connection->isOpen();
            if (loggedIn)
                noteEstablishedSecurity();
            else
                dropConnection();
        }
        // A request that failed, or ended in a way nobody planned, may have left the server
        // anywhere.
        if (connection && outcome.result != FtpResult::Success)
            connection->forgetDirectory();
        discardDeadConnection();
        complete(outcome);
    }

    void complete(const FtpOperation::Outcome &outcome)
    {
        result = outcome.result;
        if (request == Request::Connect) {
            tlsRefusal = std::exchange(pendingTlsRefusal, std::nullopt);
            certificateTrustedForNow = std::exchange(pendingTrustedForNow, std::nullopt);
        }
        refusedCommand = outcome.refusedCommand;
        if (outcome.currentDirectory)
            currentDirectory = *outcome.currentDirectory;
        else if (request == Request::QueryCurrentDirectory)
            // A folder query that failed names no folder. The answer to an earlier one may be
            // wrong by now, and a caller that took it for the current folder would put files
            // into, or delete them from, another folder than it thinks.
            currentDirectory.clear();
        if (request == Request::QueryFileSize)
            fileSize = outcome.fileSize.value_or(-1);
        // Only a log-in or QueryFeatures asks for them; a lost connection takes them along.
        if (!connection) {
            features.reset();
        } else if (request == Request::Connect || request == Request::QueryFeatures) {
            const std::optional<FtpReply> &listing = connection->featuresReply();
            features = listing ? std::optional(FtpFeatures::fromReply(*listing)) : std::nullopt;
        }
        pending = false;
        emit q->OperationComplete(static_cast<int>(request), result, outcome.text, requestNumber);
    }

    // Every line the server sends is a sign of life, not only bytes on a data connection: a
    // clean-up of many files on a far server moves no data for minutes while the server answers
    // all the time. Reported at most a few times a second, like the data connection's progress.
    void noteLineReceived()
    {
        if (sinceLineReported.isValid() &&
            sinceLineReported.elapsed() < FtpActivityMeter::IntervalMs)
            return;
        sinceLineReported.start();
        post([this] { emit q->Activity(-1); });
    }

    void watch(FtpControlConnection &watched)
    {
        QObject::connect(&watched, &FtpControlConnection::dialogue, q,
                         [this](const QString &line) { report(line); });
        QObject::connect(&watched, &FtpControlConnection::lineReceived, q,
                         [this] { noteLineReceived(); });
        // A reply between requests answers nothing we asked; what it means is unknown.
        QObject::connect(&watched, &FtpControlConnection::replyReceived, q, [this, &watched] {
            if (!operation || operation->hasFinished())
                watched.forgetDirectory();
        });
        QObject::connect(&watched, &FtpControlConnection::failed, q, [this] {
            // With a request pending, its operation reports the loss; otherwise the next
            // request finds no connection.
            post([this] {
                if (!pending)
                    discardDeadConnection();
            });
        });
    }

    void noteEstablishedSecurity()
    {
        establishedCertificate.clear();
        if (!connection->isEncrypted()) {
            establishedSecurity = FtpServerAddress::Security::Plain;
            return;
        }
        const auto address = ParseFtpServerAddress(host);
        establishedSecurity =
            address && address->security == FtpServerAddress::Security::ImplicitTls
                ? FtpServerAddress::Security::ImplicitTls
                : FtpServerAddress::Security::ExplicitTls;
        if (const auto &certificate = connection->certificateDecision())
            establishedCertificate = certificate->presented.fingerprint;
    }

    void discardDeadConnection()
    {
        if (connection && !connection->isOpen()) {
            connection.reset();
            loggedIn = false;
        }
    }

    // The current connection says QUIT and goes; a previous one still saying goodbye is cut off.
    void dropConnection()
    {
        loggedIn = false;
        if (!connection)
            return;
        leaving = std::move(connection);
        FtpControlConnection *goingAway = leaving.get();
        QObject::connect(goingAway, &FtpControlConnection::closed, q, [this, goingAway] {
            post([this, goingAway] {
                if (leaving.get() == goingAway)
                    leaving.reset();
            });
        });
        goingAway->quit();
    }

    void startCommand(Request which, const QString &command, const QString &argument,
                      FtpCommandOperation::Expect expect)
    {
        refuseIfPending();
        refuseLineBreaks({argument});
        startCommands(which, {argument.isNull() ? command : command + QLatin1Char(' ') + argument},
                      expect);
    }

    // The caller has checked the arguments.
    void startCommands(Request which, const QStringList &commands,
                       FtpCommandOperation::Expect expect)
    {
        if (!isLoggedIn()) {
            completeWithout(which, FtpResult::NotConnected, QStringLiteral("Not connected."));
            return;
        }
        startOperation(
            which, std::make_unique<FtpCommandOperation>(*connection, timeouts, commands, expect));
    }
};

namespace {

// Opens a file to upload; a pipe, a device or a folder in its place is refused, not waited on.
std::unique_ptr<QFile> OpenRegularFileForReading(const QString &localPath)
{
    const auto refuse = [&localPath](const QString &why) {
        return FtpError(FtpResult::LocalFileUnreadable,
                        ResourceString(MessageId::LocalFileUnreadable, {localPath, why}));
    };
    RegularFileForReading opened(localPath);
    if (opened.state() == RegularFileForReading::State::NotOpened)
        throw refuse(QString::fromLocal8Bit(std::strerror(opened.error())));
    if (!opened.isOpen())
        throw refuse(ResourceString(MessageId::LocalFileNotRegular));
    auto file = std::make_unique<QFile>(localPath);
    const int descriptor = opened.take();
    if (!file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        throw refuse(file->errorString());
    }
    return file;
}

} // namespace

FtpControl::FtpControl(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

FtpControl::~FtpControl()
{
    d->operation.reset();
    d->connection.reset();
    d->leaving.reset();
}

QString FtpControl::host() const
{
    return d->host;
}
void FtpControl::setHost(const QString &host)
{
    d->host = host;
}
QString FtpControl::userName() const
{
    return d->userName;
}
void FtpControl::setUserName(const QString &userName)
{
    d->userName = userName;
}
void FtpControl::setPassword(const QString &password)
{
    d->password = password;
}
bool FtpControl::passive() const
{
    return d->passive;
}
void FtpControl::setPassive(bool passive)
{
    d->passive = passive;
}
qint32 FtpControl::firewallType() const
{
    return d->firewallType;
}
void FtpControl::setFirewallType(qint32 type)
{
    d->firewallType = type;
}
QString FtpControl::firewallUserName() const
{
    return d->firewallUserName;
}
void FtpControl::setFirewallUserName(const QString &userName)
{
    d->firewallUserName = userName;
}
void FtpControl::setFirewallPassword(const QString &password)
{
    d->firewallPassword = password;
}
QString FtpControl::firewallHost() const
{
    return d->firewallHost;
}
void FtpControl::setFirewallHost(const QString &host)
{
    d->firewallHost = host;
}
quint16 FtpControl::firewallPort() const
{
    return d->firewallPort;
}
void FtpControl::setFirewallPort(quint16 port)
{
    d->firewallPort = port;
}

QString FtpControl::certificateStorePath() const
{
    return d->certificateStorePath.isEmpty() ? FtpCertificateStore::defaultPath()
                                             : d->certificateStorePath;
}
void FtpControl::setCertificateStorePath(const QString &path)
{
    d->certificateStorePath = path;
}
QString FtpControl::tlsHostStorePath() const
{
    return d->tlsHostStorePath.isEmpty() ? FtpTlsHostStore::pathBeside(certificateStorePath())
                                         : d->tlsHostStorePath;
}
void FtpControl::setTlsHostStorePath(const QString &path)
{
    d->tlsHostStorePath = path;
}

void FtpControl::setAcceptedCertificate(const QByteArray &fingerprint)
{
    d->acceptedCertificate = fingerprint.toLower();
}
void FtpControl::setTrustRemembered(bool remembered)
{
    d->trustRemembered = remembered;
}

std::optional<FtpTlsRefusal> FtpControl::tlsRefusal() const
{
    return d->tlsRefusal;
}
std::optional<FtpCertificateSummary> FtpControl::certificateTrustedForNow() const
{
    return d->certificateTrustedForNow;
}

bool FtpControl::hasPassword(const QString &candidate) const
{
    return d->password == candidate;
}
bool FtpControl::hasFirewallPassword(const QString &candidate) const
{
    return d->firewallPassword == candidate;
}

qint16 FtpControl::result() const
{
    return d->result;
}
QString FtpControl::currentDirectory() const
{
    return d->currentDirectory;
}
std::optional<QString> FtpControl::knownCurrentDirectory() const
{
    if (d->pending || !d->isLoggedIn() || !d->connection->knownDirectory())
        return std::nullopt;
    return d->connection->knownDirectory()->directory;
}
qint64 FtpControl::fileSize() const
{
    return d->fileSize;
}
std::optional<FtpFeatures> FtpControl::features() const
{
    return d->features;
}
QString FtpControl::refusedCommand() const
{
    return d->refusedCommand;
}
quint64 FtpControl::requestNumber() const
{
    return d->requestNumber;
}
quint64 FtpControl::beginRequestNumber()
{
    return ++d->requestNumber;
}
bool FtpControl::isBusy() const
{
    return d->pending;
}
bool FtpControl::isConnected() const
{
    return d->isLoggedIn();
}

qint64 FtpControl::downloadLimit() const
{
    return d->downloadLimit;
}
void FtpControl::setDownloadLimit(qint64 bytes)
{
    d->downloadLimit = bytes;
}

FtpTimeouts FtpControl::timeouts() const
{
    return d->timeouts;
}
void FtpControl::setTimeouts(const FtpTimeouts &timeouts)
{
    d->timeouts = timeouts;
}

std::unique_ptr<FtpControl> FtpControl::makeFurtherConnection() const
{
    auto further = std::make_unique<FtpControl>();
    Private &f = *further->d;
    f.host = d->host;
    f.userName = d->userName;
    f.password = d->password;
    f.passive = d->passive;
    f.firewallType = d->firewallType;
    f.firewallUserName = d->firewallUserName;
    f.firewallPassword = d->firewallPassword;
    f.firewallHost = d->firewallHost;
    f.firewallPort = d->firewallPort;
    f.certificateStorePath = d->certificateStorePath;
    f.tlsHostStorePath = d->tlsHostStorePath;
    f.acceptedCertificate = d->acceptedCertificate;
    f.trustRemembered = d->trustRemembered;
    f.timeouts = d->timeouts;
    f.downloadLimit = d->downloadLimit;

    const auto address = ParseFtpServerAddress(d->host);
    if (!d->establishedSecurity || !address)
        return further;
    // A host without a scheme lets each log-in decide; a further connection takes the decision
    // this one's log-in made, so that it cannot end up plain where this one spoke TLS.
    if (address->security == FtpServerAddress::Security::Automatic) {
        const QString scheme = *d->establishedSecurity == FtpServerAddress::Security::Plain
                                   ? QStringLiteral("ftp://")
                                   : QStringLiteral("ftpes://");
        const QString name = address->host.contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + address->host + QLatin1Char(']')
                                 : address->host;
        f.host = scheme + name + QLatin1Char(':') + QString::number(address->port);
    }
    if (!d->establishedCertificate.isEmpty())
        f.acceptedCertificate = d->establishedCertificate;
    return further;
}

void FtpControl::Connect()
{
    d->refuseIfPending();
    Private::refuseLineBreaks({d->userName, d->password, d->firewallUserName, d->firewallPassword});

    // An idle earlier connection says goodbye; the new one starts from the log-in folder.
    d->dropConnection();
    d->pendingTlsRefusal.reset();
    d->pendingTrustedForNow.reset();

    const auto address = ParseFtpServerAddress(d->host);
    if (!address) {
        d->completeWithout(Request::Connect, FtpResult::NameLookupFailed,
                           QStringLiteral("\"%1\" is not a host name.").arg(d->host));
        return;
    }
    // Going around a proxy the user set up would be a surprise at best: a proxy that cannot be
    // used ends the request.
    QString proxyError;
    const auto proxy = MakeFtpProxy(d->firewallType, d->firewallHost, d->firewallPort,
                                    d->firewallUserName, d->firewallPassword, &proxyError);
    if (!proxy) {
        d->report(QStringLiteral("# ") + proxyError);
        d->completeWithout(Request::Connect, FtpResult::ProxyFailure, proxyError);
        return;
    }

    // Active mode would need the proxy to carry a connection from the server back to us, which
    // none of these proxies does for us.
    d->passiveInUse = d->passive || proxy->kind != FtpProxy::Kind::None;
    if (!d->passive && d->passiveInUse)
        d->report(QStringLiteral("# Passive mode for data connections: they go through the proxy "
                                 "too, and a proxy cannot carry active-mode connections."));
    d->connection = std::make_unique<FtpControlConnection>();
    d->watch(*d->connection);
    d->connectionSummary.clear();
    auto login = std::make_unique<FtpLoginOperation>(
        *d->connection, d->timeouts,
        FtpLoginSettings{*address, *proxy, d->userName, d->password,
                         FtpCertificateCheck::Trust{certificateStorePath(), d->acceptedCertificate,
                                                    d->trustRemembered},
                         tlsHostStorePath()});
    QObject::connect(login.get(), &FtpLoginOperation::established, this,
                     [this](const QString &summary) { d->connectionSummary = summary; });
    QObject::connect(login.get(), &FtpLoginOperation::refused, this,
                     [this](const FtpTlsRefusal &refusal) { d->pendingTlsRefusal = refusal; });
    QObject::connect(login.get(), &FtpLoginOperation::trustedForNow, this,
                     [this](const FtpCertificateSummary &certificate) {
                         d->pendingTrustedForNow = certificate;
                     });
    d->startOperation(Request::Connect, std::move(login));
}

void FtpControl::QueryCurrentDirectory()
{
    // The folder the server named last is still current when nothing since could have changed
    // it (see FtpControlConnection::knownDirectory): the answer is the same without the round
    // trip. The transcript says so instead of showing a PWD that never went out.
    d->refuseIfPending();
    if (d->isLoggedIn() && d->connection->knownDirectory()) {
        const FtpControlConnection::KnownDirectory known = *d->connection->knownDirectory();
        FtpOperation::Outcome outcome;
        outcome.text = known.replyText;
        outcome.currentDirectory = known.directory;
        d->completeFromMemory(Request::QueryCurrentDirectory,
                              QStringLiteral("PWD not sent: the current folder is still \"%1\", "
                                             "as the server said last; nothing since can have "
                                             "changed it.")
                                  .arg(known.directory),
                              outcome);
        return;
    }
    d->startCommand(Request::QueryCurrentDirectory, QStringLiteral("PWD"), QString(),
                    FtpCommandOperation::Expect::Directory);
}

void FtpControl::ChangeDirectory(const QString &folder)
{
    d->startCommand(Request::ChangeDirectory, QStringLiteral("CWD"), folder,
                    FtpCommandOperation::Expect::Confirmation);
}

void FtpControl::CreateDirectory(const QString &folder)
{
    d->startCommand(Request::CreateDirectory, QStringLiteral("MKD"), folder,
                    FtpCommandOperation::Expect::Confirmation);
}

void FtpControl::DeleteFile(const QString &fileName)
{
    d->startCommand(Request::DeleteFile, QStringLiteral("DELE"), fileName,
                    FtpCommandOperation::Expect::Confirmation);
}

void FtpControl::RemoveDirectory(const QString &folder)
{
    d->startCommand(Request::RemoveDirectory, QStringLiteral("RMD"), folder,
                    FtpCommandOperation::Expect::Confirmation);
}

void FtpControl::GetFile(const QString &remoteFileName, const QString &localPath)
{
    d->refuseIfPending();
    Private::refuseLineBreaks({remoteFileName, localPath});
    if (!d->isLoggedIn()) {
        d->completeWithout(Request::GetFile, FtpResult::NotConnected,
                           QStringLiteral("Not connected."));
        return;
    }
    auto download = std::make_unique<FtpTransferOperation>(
        *d->connection, d->timeouts, d->passiveInUse, remoteFileName,
        std::make_unique<FtpDownloadFile>(localPath));
    download->setDownloadLimit(d->downloadLimit);
    d->startOperation(Request::GetFile, std::move(download));
}

void FtpControl::PutFile(const QString &localPath, const QString &remoteFileName,
                         FtpSentBytesWatcher watchSent)
{
    d->startUpload(localPath, remoteFileName, 0, std::move(watchSent));
}

void FtpControl::PutFileFrom(const QString &localPath, const QString &remoteFileName, qint64 offset,
                             FtpSentBytesWatcher watchSent)
{
    d->startUpload(localPath, remoteFileName, offset, std::move(watchSent));
}

void FtpControl::Private::startUpload(const QString &localPath, const QString &remoteFileName,
                                      qint64 offset, FtpSentBytesWatcher watchSent)
{
    refuseIfPending();
    refuseLineBreaks({localPath, remoteFileName});
    std::unique_ptr<QFile> source = OpenRegularFileForReading(localPath);
    if (offset < 0 || offset > source->size()) {
        throw FtpError(
            FtpResult::InvalidArgument,
            QStringLiteral("Die Datei \"%1\" hat %2 Bytes; ab Byte %3 kann sie nicht "
                           "weiter übertragen werden.")
                .arg(localPath, QString::number(source->size()), QString::number(offset)));
    }
    if (!isLoggedIn()) {
        completeWithout(Request::PutFile, FtpResult::NotConnected,
                        QStringLiteral("Not connected."));
        return;
    }
    startOperation(Request::PutFile, std::make_unique<FtpTransferOperation>(
                                         *connection, timeouts, passiveInUse, remoteFileName,
                                         std::move(source), offset, std::move(watchSent)));
}

void FtpControl::RenameFile(const QString &from, const QString &to)
{
    d->refuseIfPending();
    Private::refuseLineBreaks({from, to});
    d->startCommands(Request::RenameFile,
                     {QStringLiteral("RNFR ") + from, QStringLiteral("RNTO ") + to},
                     FtpCommandOperation::Expect::Confirmation);
}

void FtpControl::QueryFileSize(const QString &fileName)
{
    d->startCommand(Request::QueryFileSize, QStringLiteral("SIZE"), fileName,
                    FtpCommandOperation::Expect::Size);
}

void FtpControl::QueryFeatures()
{
    d->refuseIfPending();
    if (d->isLoggedIn() && d->connection->featuresReply()) {
        const FtpReply &reply = *d->connection->featuresReply();
        FtpOperation::Outcome outcome;
        outcome.text = reply.text();
        if (!reply.isPositive()) {
            outcome.result = static_cast<qint16>(FtpResult::ReplyBase + reply.code);
            outcome.refusedCommand = QStringLiteral("FEAT");
        }
        d->completeFromMemory(Request::QueryFeatures,
                              QStringLiteral("FEAT not sent: the server answered it at log-in."),
                              outcome);
        return;
    }
    d->startCommand(Request::QueryFeatures, QStringLiteral("FEAT"), QString(),
                    FtpCommandOperation::Expect::Features);
}

void FtpControl::Disconnect()
{
    // A request still running ends now, with its one OperationComplete still to come.
    if (d->operation && !d->operation->hasFinished())
        d->operation->cancel(QStringLiteral("Disconnected while the request was pending."));
    d->dropConnection();
}

void FtpControl::Abort()
{
    if (d->operation && !d->operation->hasFinished())
        d->operation->abort();
}
