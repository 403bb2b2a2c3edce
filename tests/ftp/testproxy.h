#pragma once

#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A real proxy for one test, on a free port of 127.0.0.1, stopped by its process id: dante's
// danted (SOCKS5), tinyproxy (HTTP CONNECT), tests/servers/ftpproxyrelay.py (the three FTP-proxy
// kinds) or tests/servers/tunnelrelay.py (SOCKS5 or HTTP CONNECT, closing a tunnel as soon as one
// side ends it).
// danted and tinyproxy need root (danted checks user names against the system's accounts and both
// are system daemons); a missing package then fails the test.
class TestProxy
{
public:
    enum class Kind { Socks5, Http, FtpUserAtHost, FtpSite, FtpOpen, RelaySocks5, RelayHttp };

    // How a tunnel through tests/servers/tunnelrelay.py ended.
    struct TunnelEnd
    {
        quint16 targetPort = 0;
        qint64 bytesToServer = 0;
        qint64 bytesToClient = 0;
        QString endedFirst; // "client" or "server": the side that ended its stream first
    };

    TestProxy() = default;
    ~TestProxy();
    TestProxy(const TestProxy &) = delete;
    TestProxy &operator=(const TestProxy &) = delete;

    // Whether this machine can run the daemons (root).
    static bool daemonsAvailable();

    // With a user name the proxy requires that user and password (for SOCKS5 a system account
    // of that name is created or given that password).
    [[nodiscard]] bool start(Kind kind, const QString &userName, const QString &password,
                             QString *error);
    void stop();

    [[nodiscard]] quint16 port() const { return mPort; }
    // The FTP relay's record of the commands it received, one per line; empty for the others.
    [[nodiscard]] QStringList receivedCommands() const;
    // The tunnel relay's record of the tunnels that have ended so far; empty for the others.
    [[nodiscard]] QList<TunnelEnd> tunnelEnds() const;

private:
    bool startDante(const QString &userName, const QString &password, QString *error);
    bool startTinyproxy(const QString &userName, const QString &password, QString *error);
    bool startRelay(Kind kind, const QString &userName, const QString &password, QString *error);
    bool startTunnelRelay(QString *error);
    bool writeConfig(const QString &name, const QStringList &lines, QString *path, QString *error);

    std::unique_ptr<QProcess> mProcess;
    std::unique_ptr<QTemporaryDir> mFolder;
    quint16 mPort = 0;
};
