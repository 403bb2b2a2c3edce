#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>

// Ends a process started for a test together with every process below it: stopped first (so it
// cannot start more), then killed, by process id. For servers that fork per session.
void StopProcessTree(qint64 processId);
// Waits, with a deadline, until something accepts connections on address and port, while process
// keeps running.
[[nodiscard]] bool WaitUntilAccepting(const QProcess &process, const QString &address, quint16 port,
                                      QString *error);

// A real FTP server for one test: pyftpdlib (tests/servers/ftpserver.py) or, when the tests run as
// root, vsftpd. It serves one user whose "/" is the given root folder, listens on a free port of a
// loopback address only, and is killed by its process id (with every process below it, so vsftpd's
// session processes go too) in stop() or the destructor.
class TestFtpServer
{
public:
    enum class Kind { Pyftpdlib, Vsftpd };
    // How the server answers PORT and EPRT.
    enum class ActiveMode {
        Allow,
        Refuse, // a negative reply to both
        Ignore, // pyftpdlib only: agrees, but never opens the data connection
    };

    // How the server speaks TLS (RFC 4217).
    enum class Tls {
        None,     // plain FTP only; FEAT does not list AUTH TLS
        Explicit, // AUTH TLS offered, plain FTP allowed too
        Forced,   // AUTH TLS offered and required for log-ins and data
        Implicit, // vsftpd only: TLS from the first byte, log-ins and data required
        // pyftpdlib only, without a certificate: FEAT lists AUTH TLS, but AUTH TLS is answered
        // "500 This security scheme is not implemented", as by a server built with TLS support
        // that runs without a certificate.
        Refused,
        // pyftpdlib only: FEAT lists AUTH TLS, AUTH TLS is answered 234, and then the server
        // hangs up instead of the handshake.
        HangsUp,
    };

    struct Options
    {
        Kind kind = Kind::Pyftpdlib;
        QString root;
        QString user = QStringLiteral("tester");
        QString password = QStringLiteral("secret");
        qint64 throttleBytesPerSecond = 0;
        double delaySeconds = 0;                           // pyftpdlib only
        QString bindAddress = QStringLiteral("127.0.0.1"); // or "::1"
        ActiveMode activeMode = ActiveMode::Allow;
        bool refuseExtendedPassive = false; // pyftpdlib only: EPSV is refused
        QString passiveAddress;             // named in PASV replies instead of the real one
        bool ignoreCase = false; // pyftpdlib only: names are found without regard to case
        quint16 port = 0;        // 0: a free port; else this one, e.g. to restart a server in place
        Tls tls = Tls::None;
        QString certificate; // PEM files for TLS, e.g. from createSelfSignedCertificate()
        QString privateKey;
        // pyftpdlib only: misbehaviour at chosen commands, "COMMAND[#N]=ACTION" such as
        // "STOR#2=reply 451 Try again." or "RETR#1=drop-after 1000"; the actions are listed in
        // tests/servers/faultyftpserver.py, which then serves instead of
        // tests/servers/ftpserver.py.
        QStringList faults;
        // The server writes every command it receives to this file (its own protocol log), so
        // that a test can tell from the server's side what crossed the wire; see
        // receivedCommands().
        QString commandLog;
        // The server writes a line for every upload to this file when its data connection ends;
        // see receivedUploads().
        QString transferLog;
        // pyftpdlib only (tests/servers/ftpserver.py): RNTO onto an existing file is refused with
        // 550; STOR after REST, and APPE onto an existing file, are refused with ProFTPD's "451
        // ...: Append/Restart not permitted, try again".
        bool refuseRenameOntoExisting = false;
        bool refuseStoreRestart = false;
        bool refuseAppend = false;
        // pyftpdlib only: a command naming a path ("STOR a/b.html", "CWD a/b") is refused with
        // 553, as servers that take names in the current folder only answer.
        bool refusePaths = false;
        // More sessions at once than this are refused, as shared hosts limit them: pyftpdlib
        // answers the log-in with 530, vsftpd the greeting with 421 (max_per_ip). 0: no limit.
        int maxLogins = 0;
    };

    // One upload as the server's transfer log has it: the file, the bytes its data connection
    // brought and whether the server took it as complete.
    struct Upload
    {
        QString path; // absolute on the server, blanks as "_"
        qint64 bytes = 0;
        bool complete = false;
        bool operator==(const Upload &) const = default;
    };

    // A self-signed certificate for commonName and its key, written as cert.pem and key.pem into
    // folder with the openssl command.
    [[nodiscard]] static bool createSelfSignedCertificate(const QString &folder,
                                                          const QString &commonName,
                                                          Options *options, QString *error);

    TestFtpServer();
    ~TestFtpServer();
    TestFtpServer(const TestFtpServer &) = delete;
    TestFtpServer &operator=(const TestFtpServer &) = delete;

    // vsftpd needs root: it switches to a local user after the log-in.
    static bool vsftpdAvailable();

    // Starts the server and waits, with a deadline, until it accepts connections. With vsftpd the
    // root folder and what it holds are handed to the server's local user.
    [[nodiscard]] bool start(const Options &options, QString *error);
    void stop();
    // Freezes the server with every process below it (SIGSTOP), as a server that stops answering
    // while its connections stay open, and lets it go on (SIGCONT).
    [[nodiscard]] bool suspend();
    void resume();

    [[nodiscard]] quint16 port() const { return mPort; }
    // "127.0.0.1:<port>", or "[::1]:<port>" for an IPv6 server: what FtpControl's Host takes.
    [[nodiscard]] QString host() const;
    [[nodiscard]] qint64 pid() const;
    [[nodiscard]] QString root() const { return mOptions.root; }
    [[nodiscard]] Kind kind() const { return mOptions.kind; }
    [[nodiscard]] QString user() const;
    [[nodiscard]] QString password() const { return mOptions.password; }

    // Files a test creates in the root after start() belong to root; vsftpd's user may need to
    // change or delete them. Does nothing for pyftpdlib, which runs as the test itself.
    [[nodiscard]] bool handOver(const QString &path) const;

    // Waits, with a deadline, until the server has closed every control connection, so that
    // nothing a client sent is still unread or unwritten.
    [[nodiscard]] bool waitUntilIdle(QString *error) const;
    // The commands the server received, in order, read from Options::commandLog ("USER tester",
    // "AUTH TLS"; the password may be masked). Waits first, with a deadline, until the server has
    // closed every control connection, so that nothing a client sent is still unread. Nothing, and
    // error set, when the log cannot be read or a connection stays open.
    [[nodiscard]] std::optional<QStringList> receivedCommands(QString *error) const;
    // The uploads the server received, in order, from Options::transferLog; waits as
    // receivedCommands() does.
    [[nodiscard]] std::optional<QList<Upload>> receivedUploads(QString *error) const;

    // Adds a column "kind" (int, a Kind) and one row per server kind that must work on this
    // machine: "pyftpdlib", and "vsftpd" when running as root. A missing vsftpd then fails the
    // test instead of skipping it.
    static void addKindRows();
    static QList<Kind> kinds();
    static QString kindName(Kind kind);

private:
    bool startPyftpdlib(QString *error);
    bool startVsftpd(QString *error);
    bool waitUntilAccepting(QString *error);
    [[nodiscard]] std::optional<QStringList> logLines(const QString &path, QString *error) const;

    Options mOptions;
    std::unique_ptr<QProcess> mProcess;
    std::unique_ptr<QTemporaryDir> mConfigFolder;
    quint16 mPort = 0;
};
