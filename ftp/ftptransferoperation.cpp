#include "ftptransferoperation.h"

#include "ftpcontrolconnection.h"
#include "ftpdataconnection.h"
#include "ftpdownloadfile.h"
#include "ftpfeatures.h"
#include "ftpportargument.h"
#include "ftpreplyfields.h"
#include "ftpresult.h"
#include "ftpsteptrace.h"
#include "ftptransferstream.h"

#include <QFile>
#include <QTcpSocket>

namespace {

// "150 Opening BINARY mode data connection for x (1234 bytes)." Several servers announce the size
// of a download this way; when they do, a shorter file is a broken transfer even if the data
// connection happened to close in order. The last match counts: the file name comes first and may
// look like a size itself.
std::optional<qint64> announcedSize(const FtpReply &reply)
{
    static constexpr QLatin1String kUnit(" bytes)");
    const QString text = reply.firstLineText();
    std::optional<qint64> size;
    for (qsizetype open = text.indexOf(u'('); open >= 0; open = text.indexOf(u'(', open + 1)) {
        qsizetype end = open + 1;
        while (end < text.size() && text.at(end) >= u'0' && text.at(end) <= u'9')
            ++end;
        if (end == open + 1 || QStringView(text).mid(end, kUnit.size()) != kUnit)
            continue;
        bool ok = false;
        const qint64 value = text.mid(open + 1, end - open - 1).toLongLong(&ok);
        size = ok ? std::optional<qint64>(value) : std::nullopt;
    }
    return size;
}

// The server listed its features, and REST STREAM is not among them.
bool restartUnlisted(const FtpControlConnection &connection)
{
    const std::optional<FtpReply> &listing = connection.featuresReply();
    if (!listing)
        return false;
    const FtpFeatures features = FtpFeatures::fromReply(*listing);
    return features.listed && !features.restStream;
}

} // namespace

FtpTransferOperation::FtpTransferOperation(FtpControlConnection &connection,
                                           const FtpTimeouts &timeouts, bool passive,
                                           QString remoteName,
                                           std::unique_ptr<FtpDownloadFile> target)
    : FtpOperation(connection, timeouts), mRemoteName(std::move(remoteName)),
      mTarget(std::move(target)), mPassiveWanted(passive)
{
    mActiveDeadline.setSingleShot(true);
    connect(&mActiveDeadline, &QTimer::timeout, this,
            &FtpTransferOperation::activeConnectionOverdue);
    connect(&mMeter, &FtpActivityMeter::activity, this, &FtpOperation::activity);
}

FtpTransferOperation::FtpTransferOperation(FtpControlConnection &connection,
                                           const FtpTimeouts &timeouts, bool passive,
                                           QString remoteName, std::unique_ptr<QFile> source,
                                           qint64 offset, FtpSentBytesWatcher watchSent)
    : FtpTransferOperation(connection, timeouts, passive, std::move(remoteName),
                           std::unique_ptr<FtpDownloadFile>())
{
    mSource = std::move(source);
    mWatchSent = std::move(watchSent);
    mOffset = offset;
    mAppend = offset > 0 && (connection.dataModes().restartRefused || restartUnlisted(connection));
}

FtpTransferOperation::~FtpTransferOperation()
{
    // The stream refers to the data socket and the file: it goes first.
    mStream.reset();
    mData.reset();
    mRetired.clear();
}

void FtpTransferOperation::begin()
{
    if (mTarget && !mTarget->open()) {
        finish(FtpResult::LocalFileUnwritable,
               tr("The local file cannot be created: %1").arg(mTarget->errorString()));
        return;
    }
    openDataPath();
}

void FtpTransferOperation::openDataPath()
{
    mRestartSent = false;
    mPreliminarySeen = false;
    mAnnouncedSize.reset();
    mFinalReply.reset();
    mDataEnded = false;
    mDataClean = false;
    mVerdictOutstanding = false;

    mPassiveAttempt = mPassiveWanted || connection().dataModes().activeUnusable;
    if (mPassiveAttempt)
        startPassive();
    else
        startActive();
}

// --- passive mode

void FtpTransferOperation::startPassive()
{
    mPassiveAttempt = true;
    if (connection().dataModes().extendedPassiveRefused) {
        sendPasv();
        return;
    }
    setAwaiting(Awaiting::Epsv);
    connection().send(QStringLiteral("EPSV"));
}

void FtpTransferOperation::sendPasv()
{
    setAwaiting(Awaiting::Pasv);
    connection().send(QStringLiteral("PASV"));
}

FtpDataConnection &FtpTransferOperation::newDataConnection()
{
    retireDataPath();
    mData = std::make_unique<FtpDataConnection>(connection().dataRoute());
    connect(mData.get(), &FtpDataConnection::established, this,
            &FtpTransferOperation::dataEstablished);
    connect(mData.get(), &FtpDataConnection::ready, this, [this] {
        stillAlive();
        startStreamWhenReady();
    });
    connect(mData.get(), &FtpDataConnection::failed, this,
            [this](int result, const QString &description) {
                mVerdictOutstanding = mAwaiting == Awaiting::Transfer;
                abandonAttempt(std::pair{
                    static_cast<qint16>(result),
                    result == FtpResult::DataConnectionFailed
                        ? tr("The data connection could not be opened: %1").arg(description)
                        : description});
            });
    return *mData;
}

void FtpTransferOperation::connectPassive(quint16 port)
{
    newDataConnection();
    // The peer of the control connection, whatever address a PASV reply named.
    mData->connectTo(port);
}

void FtpTransferOperation::setAwaiting(Awaiting next)
{
    qCDebug(lcFtpSteps) << "transfer of" << mRemoteName << mAwaiting << "->" << next;
    mAwaiting = next;
}

// --- active mode

void FtpTransferOperation::startActive()
{
    newDataConnection();
    // The address the server already reaches us at; another local address might not be routable
    // from there.
    const quint16 port = mData->listen(connection().localAddress());
    if (port == 0) {
        giveUpActiveMode(tr("no local port to listen on"));
        return;
    }
    mActiveDeadline.start(timeouts().activeDataConnection);
    sendActivePort();
}

void FtpTransferOperation::sendActivePort()
{
    const QHostAddress address = mData->listeningAddress();
    const quint16 port = mData->listeningPort();
    if (!connection().dataModes().extendedActiveRefused) {
        setAwaiting(Awaiting::Eprt);
        connection().send(QStringLiteral("EPRT ") + ExtendedPortArgument(address, port));
        return;
    }
    if (const auto argument = PortArgument(address, port)) {
        setAwaiting(Awaiting::Port);
        connection().send(QStringLiteral("PORT ") + *argument);
        return;
    }
    giveUpActiveMode(tr("the server refused EPRT, and PORT cannot name an IPv6 address"));
}

void FtpTransferOperation::giveUpActiveMode(const QString &why)
{
    connection().dataModes().activeUnusable = true;
    emit note(tr("Active mode failed (%1); passive mode from now on.").arg(why));
    retireDataPath();
    openDataPath();
}

void FtpTransferOperation::activeConnectionOverdue()
{
    if (hasFinished() || mSynchronising || (mData && mData->isEstablished()))
        return;
    connection().dataModes().activeUnusable = true;
    emit note(tr("Active mode failed (the server's data connection did not arrive within %1 ms); "
                 "passive mode from now on.")
                  .arg(timeouts().activeDataConnection.count()));
    // The server may still be trying to connect, or waiting for us with RETR or STOR pending.
    abandonAttempt(std::nullopt);
}

// --- the transfer

void FtpTransferOperation::dataEstablished()
{
    stillAlive();
    mActiveDeadline.stop();
    if (mPassiveAttempt)
        sendTransferCommand();
    else if (mPreliminarySeen)
        mData->startTls();
    startStreamWhenReady();
}

void FtpTransferOperation::sendTransferCommand()
{
    if (isUpload() && mOffset > 0 && !mAppend) {
        // RFC 3659: REST is the last command before the transfer command it applies to.
        setAwaiting(Awaiting::Restart);
        mRestartSent = true;
        connection().send(QStringLiteral("REST %1").arg(mOffset));
        return;
    }
    sendTransferVerb();
}

void FtpTransferOperation::sendTransferVerb()
{
    QString verb = QStringLiteral("RETR ");
    if (isUpload())
        verb = mOffset > 0 && mAppend ? QStringLiteral("APPE ") : QStringLiteral("STOR ");
    setAwaiting(Awaiting::Transfer);
    connection().send(verb + mRemoteName);
    if (mPassiveAttempt && !mRestartSent && mData)
        mData->startTls();
}

void FtpTransferOperation::handleRestartReply(const FtpReply &reply)
{
    if (reply.code == 350) {
        sendTransferVerb();
        return;
    }
    // The data connection waits for a transfer command either way.
    connection().dataModes().restartRefused = true;
    mAppend = true;
    emit note(tr("The server refused REST (%1); uploads continue with APPE on this connection.")
                  .arg(reply.firstLineText()));
    sendTransferVerb();
}

void FtpTransferOperation::startStreamWhenReady()
{
    if (mStream || !mData || !mData->isReady())
        return;
    // A download is read from the first byte: some servers send before their 150 reaches us. An
    // upload waits for the server's go-ahead.
    if (isUpload() && !mPreliminarySeen)
        return;

    // Each attempt sends from the offset on, whatever an abandoned one read.
    if (isUpload() && !mSource->seek(mOffset)) {
        abandonAttempt(std::pair{qint16{FtpResult::LocalFileUnreadable}, mSource->errorString()});
        return;
    }
    QIODevice &file = isUpload() ? static_cast<QIODevice &>(*mSource) : mTarget->file();
    mStream = std::make_unique<FtpTransferStream>(
        isUpload() ? FtpTransferStream::Direction::Upload : FtpTransferStream::Direction::Download,
        file, *mData->socket());
    if (isUpload())
        mStream->watchSentBytes(mWatchSent);
    else
        mStream->setLimit(mDownloadLimit);
    connect(mStream.get(), &FtpTransferStream::progressed, this, [this](qint64 bytes) {
        stillAlive();
        mMeter.note(bytes);
    });
    connect(mStream.get(), &FtpTransferStream::ended, this, &FtpTransferOperation::dataEnded);
    connect(mStream.get(), &FtpTransferStream::localFailure, this,
            [this](int result, const QString &description) {
                abandonAttempt(std::pair{static_cast<qint16>(result), description});
            });
    mStream->start();
}

void FtpTransferOperation::handleReply(const FtpReply &reply)
{
    if (reply.isPreliminary()) {
        if (mAwaiting == Awaiting::Transfer) {
            mPreliminarySeen = true;
            if (mData)
                mData->startTls();
            if (!isUpload() && !mAnnouncedSize)
                mAnnouncedSize = announcedSize(reply);
            startStreamWhenReady();
        }
        return;
    }

    const Awaiting answered = mAwaiting;
    setAwaiting(Awaiting::Nothing);
    switch (answered) {
    case Awaiting::Nothing:
        // Not ours to interpret; the dialogue is in step, so it is an unsolicited remark. A
        // server that says things nobody asked for may also have done something nobody asked
        // for: the current folder is asked again next time.
        connection().forgetDirectory();
        return;

    case Awaiting::Epsv:
        if (reply.isPositive()) {
            if (const auto port = ParseExtendedPassivePort(reply.firstLineText())) {
                connectPassive(*port);
                return;
            }
        } else if (reply.code < 500) {
            finishWithReply(reply);
            return;
        }
        // 5yz (not understood, not implemented) or an answer we cannot read: PASV from now on.
        connection().dataModes().extendedPassiveRefused = true;
        sendPasv();
        return;

    case Awaiting::Pasv:
        if (!reply.isPositive()) {
            finishWithReply(reply);
            return;
        }
        if (const auto port = ParsePassivePort(reply.firstLineText())) {
            connectPassive(*port);
            return;
        }
        finish(FtpResult::ProtocolViolation,
               tr("The server named no data port: %1").arg(reply.text()));
        return;

    case Awaiting::Eprt:
        if (reply.isPositive()) {
            sendTransferCommand();
            return;
        }
        connection().dataModes().extendedActiveRefused = true;
        sendActivePort();
        return;

    case Awaiting::Port:
        if (reply.isPositive()) {
            sendTransferCommand();
            return;
        }
        giveUpActiveMode(tr("the server refused EPRT and PORT"));
        return;

    case Awaiting::Restart:
        handleRestartReply(reply);
        return;

    case Awaiting::Transfer:
        handleTransferReply(reply);
        return;
    }
}

void FtpTransferOperation::handleTransferReply(const FtpReply &reply)
{
    if (reply.isPositive()) {
        mFinalReply = reply;
        completeWhenBothEnded();
        return;
    }
    // 425: the server could not open the data connection. In active mode that is the mode's
    // fault (a firewall or NAT in between), and passive mode may well work.
    if (reply.code == 425 && !mPassiveAttempt && !(mData && mData->isEstablished())) {
        giveUpActiveMode(tr("the server could not connect: %1").arg(reply.firstLineText()));
        return;
    }
    // STOR refused after REST was accepted. Nothing went through, and what the server does with
    // the data connection it had for the refused command varies: APPE gets a new one.
    if (isUpload() && mOffset > 0 && !mAppend && !mPreliminarySeen) {
        mAppend = true;
        emit note(
            tr("The server refused STOR after REST (%1); trying APPE.").arg(reply.firstLineText()));
        retireDataPath();
        openDataPath();
        return;
    }
    finishWithReply(reply);
}

void FtpTransferOperation::dataEnded(bool clean)
{
    stillAlive();
    mDataEnded = true;
    mDataClean = clean;
    // Without the final reply the server still has to say how the transfer went (426, 451, or a
    // late 226); the idle time-out covers a server that never does.
    completeWhenBothEnded();
}

void FtpTransferOperation::completeWhenBothEnded()
{
    if (!mFinalReply || !mDataEnded)
        return;
    const qint64 moved = mStream ? mStream->bytesMoved() : 0;
    if (!mDataClean) {
        finish(FtpResult::ConnectionLost,
               tr("The data connection broke off after %1 bytes.").arg(moved));
        return;
    }
    if (mAnnouncedSize && *mAnnouncedSize != moved) {
        finish(FtpResult::ConnectionLost,
               tr("The server announced %1 bytes but sent %2.").arg(*mAnnouncedSize).arg(moved));
        return;
    }
    if (mTarget && !mTarget->commit()) {
        finish(FtpResult::LocalFileUnwritable,
               tr("The local file cannot be written: %1").arg(mTarget->errorString()));
        return;
    }
    finish(FtpResult::Success, mFinalReply->text());
}

// --- giving up

void FtpTransferOperation::abort()
{
    if (hasFinished())
        return;
    mAbortRequested = true;
    hurry();
    if (mSynchronising) {
        // Already bringing the dialogue back in step (for a retry): end there instead.
        mEndAfterSynchronising =
            std::pair{qint16{FtpResult::Aborted}, tr("The transfer was aborted.")};
        return;
    }
    abandonAttempt(std::pair{qint16{FtpResult::Aborted}, tr("The transfer was aborted.")});
}

void FtpTransferOperation::abandonAttempt(std::optional<std::pair<qint16, QString>> endWith)
{
    retireDataPath();
    if (!connection().isOpen()) {
        finish(endWith ? endWith->first : qint16{FtpResult::ConnectionLost},
               endWith ? endWith->second : tr("The connection was lost."));
        return;
    }
    // Even with no reply outstanding the server may hold a listening data port or a transfer in
    // progress that would answer later; ABOR clears both.
    setAwaiting(Awaiting::Nothing);
    mEndAfterSynchronising = std::move(endWith);
    mSynchronising = true;
    connection().synchronise();
}

void FtpTransferOperation::handleSynchronised()
{
    mSynchronising = false;
    if (mEndAfterSynchronising) {
        // ProFTPD answers a RETR of a file it does not have with "550" and closes the data
        // connection while our TLS handshake on it is still under way; which of the two is
        // noticed first is chance. The first reply after the transfer command is its answer.
        const std::optional<FtpReply> &verdict = connection().firstSwallowedReply();
        if (mVerdictOutstanding && !mAbortRequested && verdict && verdict->isNegative()) {
            finishWithReply(*verdict);
            return;
        }
        const auto [result, text] = *mEndAfterSynchronising;
        finish(result, text);
        return;
    }
    // A retry, now in passive mode. A fresh download file is not needed: nothing was written
    // while active mode never got its connection.
    openDataPath();
}

void FtpTransferOperation::handleConnectionFailure(int result, const QString &description)
{
    if (mAbortRequested) {
        finish(FtpResult::Aborted, tr("The transfer was aborted."));
        return;
    }
    if (mSynchronising && mEndAfterSynchronising) {
        finish(mEndAfterSynchronising->first, mEndAfterSynchronising->second);
        return;
    }
    FtpOperation::handleConnectionFailure(result, description);
}

void FtpTransferOperation::handleIdleTimeout()
{
    if (mSynchronising && mEndAfterSynchronising) {
        // The server did not answer ABOR; the dialogue's state is unknown, so the connection
        // goes, but the request ends for the reason it was given up.
        connection().close();
        finish(mEndAfterSynchronising->first, mEndAfterSynchronising->second);
        return;
    }
    FtpOperation::handleIdleTimeout();
}

void FtpTransferOperation::retireDataPath()
{
    mActiveDeadline.stop();
    if (mStream) {
        mStream->stop();
        mRetired.push_back(std::move(mStream));
    }
    if (mData) {
        mData->abort();
        mRetired.push_back(std::move(mData));
    }
}

void FtpTransferOperation::cleanUp()
{
    // A report still pending in the meter would arrive after the completion.
    mMeter.disconnect();
    retireDataPath();
    if (mTarget)
        mTarget->discard();
    if (mSource)
        mSource->close();
}
