#include "ftpcontrolconnection.h"

#include "ftpresult.h"

#include <QNetworkProxy>
#include <QTcpSocket>

namespace {

// Longer lines than this are not replies but a broken or hostile server.
constexpr qint64 MaximumLineLength = 64 * 1024;
// How long QUIT waits for its answer before the connection is closed anyway.
constexpr int QuitGraceMs = 3000;
// Sent after ABOR to find the end of the old dialogue: PWD always succeeds once logged in, and
// 257 is not among the answers to a transfer, to ABOR or to a data-port command.
const QString MarkerCommand = QStringLiteral("PWD");
constexpr int MarkerReplyCode = 257;

int resultForSocketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return FtpResult::NameLookupFailed;
    case QAbstractSocket::ConnectionRefusedError:
        return FtpResult::ConnectionRefused;
    case QAbstractSocket::SocketTimeoutError:
        return FtpResult::Timeout;
    default:
        return FtpResult::ConnectionLost;
    }
}

} // namespace

FtpControlConnection::FtpControlConnection(QObject *parent) : QObject(parent)
{
    mQuitGrace.setSingleShot(true);
    mQuitGrace.setInterval(QuitGraceMs);
    connect(&mQuitGrace, &QTimer::timeout, this, &FtpControlConnection::finishQuit);
}

FtpControlConnection::~FtpControlConnection()
{
    if (mSocket) {
        mSocket->disconnect(this);
        mSocket->abort();
    }
}

std::unique_ptr<QTcpSocket> FtpControlConnection::createSocket()
{
    auto socket = std::make_unique<QTcpSocket>();
    // Proxies are chosen explicitly by the component's settings, never picked up from the
    // environment behind the user's back.
    socket->setProxy(QNetworkProxy::NoProxy);
    return socket;
}

void FtpControlConnection::open(const FtpServerAddress &address)
{
    mSocket = createSocket();
    connect(mSocket.get(), &QTcpSocket::connected, this, &FtpControlConnection::opened);
    connect(mSocket.get(), &QTcpSocket::readyRead, this, &FtpControlConnection::readLines);
    connect(mSocket.get(), &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                if (mQuitting) {
                    finishQuit();
                    return;
                }
                fail(resultForSocketError(error), mSocket->errorString());
            });
    connect(mSocket.get(), &QTcpSocket::disconnected, this, [this] {
        if (mQuitting) {
            finishQuit();
            return;
        }
        fail(FtpResult::ConnectionLost, tr("The server closed the connection."));
    });
    // Qt resolves the name and tries each of its addresses in turn, IPv6 and IPv4.
    mSocket->connectToHost(address.host, address.port);
}

bool FtpControlConnection::isOpen() const
{
    return mSocket && !mFailed && !mQuitting && mSocket->state() == QAbstractSocket::ConnectedState;
}

void FtpControlConnection::send(const QString &command)
{
    writeLine(command, command);
}

void FtpControlConnection::sendSecret(const QString &verb, const QString &secret)
{
    writeLine(verb + QLatin1Char(' ') + secret, verb + QStringLiteral(" [protected]"));
}

void FtpControlConnection::writeLine(const QString &line, const QString &shownAs)
{
    if (!isOpen())
        return;
    emit dialogue(shownAs);
    // Names go out as UTF-8 (RFC 2640); the callers have refused line breaks already.
    mSocket->write((line + QStringLiteral("\r\n")).toUtf8());
}

void FtpControlConnection::synchronise()
{
    if (!isOpen())
        return;
    mSynchronising = true;
    send(QStringLiteral("ABOR"));
    send(MarkerCommand);
}

void FtpControlConnection::quit()
{
    if (!isOpen()) {
        close();
        emit closed();
        return;
    }
    send(QStringLiteral("QUIT"));
    mQuitting = true;
    mQuitGrace.start();
}

void FtpControlConnection::finishQuit()
{
    if (!mQuitting)
        return;
    mQuitting = false;
    mQuitGrace.stop();
    if (mSocket) {
        mSocket->disconnect(this);
        mSocket->disconnectFromHost();
    }
    mFailed = true; // nothing more is sent or reported
    emit closed();
}

void FtpControlConnection::close()
{
    mQuitGrace.stop();
    mQuitting = false;
    mFailed = true;
    if (mSocket) {
        mSocket->disconnect(this);
        mSocket->abort();
    }
}

QHostAddress FtpControlConnection::localAddress() const
{
    return mSocket ? mSocket->localAddress() : QHostAddress();
}

QHostAddress FtpControlConnection::peerAddress() const
{
    return mSocket ? mSocket->peerAddress() : QHostAddress();
}

void FtpControlConnection::readLines()
{
    // A reply handler may close the connection; stop reading as soon as it did.
    while (mSocket && !mFailed && mSocket->canReadLine()) {
        QByteArray raw = mSocket->readLine(MaximumLineLength + 2);
        if (!raw.endsWith('\n')) {
            fail(FtpResult::ProtocolViolation, tr("The server sent an overlong line."));
            return;
        }
        while (raw.endsWith('\n') || raw.endsWith('\r'))
            raw.chop(1);
        const QString line = QString::fromUtf8(raw);
        emit dialogue(line);

        switch (mParser.addLine(line)) {
        case FtpReplyParser::Outcome::NeedMoreLines:
            break;
        case FtpReplyParser::Outcome::ReplyComplete:
            handleReply(mParser.takeReply());
            break;
        case FtpReplyParser::Outcome::Malformed:
            fail(FtpResult::ProtocolViolation, tr("The server sent something that is no reply."));
            return;
        }
    }
    if (mSocket && !mFailed && mSocket->bytesAvailable() > MaximumLineLength)
        fail(FtpResult::ProtocolViolation, tr("The server sent an overlong line."));
}

void FtpControlConnection::handleReply(const FtpReply &reply)
{
    if (mQuitting) {
        if (!reply.isPreliminary())
            finishQuit();
        return;
    }
    if (mSynchronising) {
        if (reply.code == MarkerReplyCode) {
            mSynchronising = false;
            emit synchronised();
        }
        return;
    }
    emit replyReceived(reply);
}

void FtpControlConnection::fail(int result, const QString &description)
{
    if (mFailed)
        return;
    close();
    emit failed(result, description);
}
