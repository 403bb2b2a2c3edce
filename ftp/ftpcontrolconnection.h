#pragma once

#include "ftpreply.h"
#include "ftpreplyparser.h"
#include "ftpserveraddress.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <memory>

class QTcpSocket;

// The control connection: one socket that carries commands out and replies in. It knows the
// dialogue's framing (lines, multi-line replies, UTF-8), not what the commands mean; the
// operations above it decide that.
//
// Every line sent and every reply line received is reported through dialogue(), so the owner can
// keep a transcript. A command carrying a secret is reported as "<verb> [protected]".
class FtpControlConnection : public QObject
{
    Q_OBJECT

public:
    // What this server refused on this connection, so a transfer does not ask again each time.
    struct DataModeMemory
    {
        bool extendedPassiveRefused = false; // EPSV refused: use PASV
        bool extendedActiveRefused = false;  // EPRT refused: use PORT
        bool activeUnusable = false;         // active mode failed: passive for the rest
    };

    explicit FtpControlConnection(QObject *parent = nullptr);
    ~FtpControlConnection() override;

    // Resolves and connects; emits opened() or failed(). The greeting arrives as the first reply.
    void open(const FtpServerAddress &address);
    [[nodiscard]] bool isOpen() const;

    void send(const QString &command);
    void sendSecret(const QString &verb, const QString &secret);

    // After a transfer was given up while the server may still answer for it: sends ABOR and a
    // marker command, swallows every reply up to the marker's and then emits synchronised(). The
    // server may answer an aborted transfer with one reply or two, or not at all, so counting
    // replies cannot tell where the old dialogue ends; the marker's reply can.
    void synchronise();
    [[nodiscard]] bool isSynchronising() const { return mSynchronising; }

    // Says goodbye (QUIT) and closes once the server answered or closed, or after a short grace.
    // Emits closed() at the end.
    void quit();
    // Drops the connection at once. Emits nothing.
    void close();

    [[nodiscard]] QHostAddress localAddress() const;
    [[nodiscard]] QHostAddress peerAddress() const;
    [[nodiscard]] DataModeMemory &dataModes() { return mDataModes; }

signals:
    void opened();
    // Every complete reply, preliminary ones included, except those swallowed by synchronise().
    void replyReceived(const FtpReply &reply);
    // One line of the dialogue, without line end.
    void dialogue(const QString &line);
    // The connection broke or could not be made; an FtpResult code. Emitted once; the connection
    // is closed afterwards.
    void failed(int result, const QString &description);
    void synchronised();
    void closed();

private:
    // The one place that decides what kind of socket carries the dialogue; with TLS this becomes
    // an encrypting socket.
    [[nodiscard]] std::unique_ptr<QTcpSocket> createSocket();

    void readLines();
    void handleReply(const FtpReply &reply);
    void fail(int result, const QString &description);
    void writeLine(const QString &line, const QString &shownAs);
    void finishQuit();

    std::unique_ptr<QTcpSocket> mSocket;
    FtpReplyParser mParser;
    DataModeMemory mDataModes;
    QTimer mQuitGrace;
    bool mFailed = false;
    bool mSynchronising = false;
    bool mQuitting = false;
};
