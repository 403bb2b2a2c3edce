#include "ftpcertificatestore.h"
#include "ftpharness.h"
#include "ftpresult.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

using Tls = TestFtpServer::Tls;

// How the test writes the host: the scheme decides how the component secures the connection.
enum class HostStyle { Bare, Explicit, Implicit };

QString hostText(HostStyle style, const QString &host)
{
    switch (style) {
    case HostStyle::Explicit:
        return QStringLiteral("ftpes://") + host;
    case HostStyle::Implicit:
        return QStringLiteral("ftps://") + host;
    case HostStyle::Bare:
        break;
    }
    return host;
}

bool sentUserName(const QStringList &transcript)
{
    return std::any_of(transcript.begin(), transcript.end(), [](const QString &line) {
        return line.startsWith(QStringLiteral("USER "));
    });
}

int modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// A harness whose certificate store lives in a temporary folder, and a server with a fresh
// self-signed certificate.
struct TlsHarness : FtpHarness
{
    QTemporaryDir certificates;
    QTemporaryDir state;

    TlsHarness() { ftp.setCertificateStorePath(storePath()); }

    [[nodiscard]] QString storePath() const
    {
        return state.filePath(QStringLiteral("vellumix/parcelup/known-certificates"));
    }

    [[nodiscard]] bool startTlsServer(TestFtpServer::Options options, QString *error,
                                      const QString &certificateName = QStringLiteral("ftp.test"))
    {
        const QString folder = certificates.filePath(certificateName);
        QDir().mkpath(folder);
        if (!TestFtpServer::createSelfSignedCertificate(folder, certificateName, &options, error))
            return false;
        return startServer(options, error);
    }

    [[nodiscard]] int connectWith(HostStyle style, bool passive = true)
    {
        pointAtServer(passive);
        ftp.setHost(hostText(style, server.host()));
        ftp.Connect();
        return waitForCompletion();
    }

    [[nodiscard]] QString transcript() const { return debug.join(QString()); }
};

#define START_TLS_SERVER(harness, options, ...)                                                    \
    do {                                                                                           \
        QString startError;                                                                        \
        QVERIFY2((harness).startTlsServer((options), &startError __VA_OPT__(, ) __VA_ARGS__),      \
                 qPrintable(startError));                                                          \
    } while (false)

} // namespace

// FTP over TLS against real servers: explicit, implicit and automatically chosen TLS with
// byte-exact transfers in both data modes, certificates trusted on first use, and no way back to
// clear text once the server offered TLS.
class TestFtpTls : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("serverTls");
        QTest::addColumn<int>("hostStyle");
        QTest::addColumn<bool>("passive");
        struct Case
        {
            const char *name;
            Tls serverTls;
            HostStyle style;
        };
        const Case cases[] = {
            {"ftpes-forced", Tls::Forced, HostStyle::Explicit},
            {"ftpes-offered", Tls::Explicit, HostStyle::Explicit},
            {"bare-upgrades-forced", Tls::Forced, HostStyle::Bare},
            {"bare-upgrades-offered", Tls::Explicit, HostStyle::Bare},
            {"ftps-implicit", Tls::Implicit, HostStyle::Implicit},
        };
        for (const auto kind : TestFtpServer::kinds()) {
            for (const Case &c : cases) {
                // pyftpdlib has no implicit TLS.
                if (c.serverTls == Tls::Implicit && kind != TestFtpServer::Kind::Vsftpd)
                    continue;
                for (const bool passive : {true, false}) {
                    QTest::addRow("%s-%s-%s", qPrintable(TestFtpServer::kindName(kind)), c.name,
                                  passive ? "passive" : "active")
                        << int(kind) << int(c.serverTls) << int(c.style) << passive;
                }
            }
        }
    }
    void roundTrip()
    {
        QFETCH(int, kind);
        QFETCH(int, serverTls);
        QFETCH(int, hostStyle);
        QFETCH(bool, passive);

        TlsHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.tls = Tls(serverTls);
        START_TLS_SERVER(h, options);
        QCOMPARE(h.connectWith(HostStyle(hostStyle), passive), 0);
        // What the log-in established is said with the next request, where a debug log that
        // opens after the log-in sees it.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        const QString transcript = h.transcript();
        QVERIFY2(transcript.contains(QStringLiteral("with FTP over ")), qPrintable(transcript));
        QVERIFY(transcript.contains(QStringLiteral("PROT P\r\n")));
        QVERIFY(transcript.contains(QStringLiteral("certificate SHA-256 ")));

        // Small files are where an unclean TLS close would cut data short: the server's session
        // tickets arrive just when such a file is done.
        const QList<qint64> sizes{0, 1, 1000, 70'000, 5'000'000};
        for (const qint64 size : sizes) {
            const QString name = QStringLiteral("file-%1.bin").arg(size);
            const QString original = h.localPath(name);
            QVERIFY(WriteTestFile(original, size, quint32(size) + 3));
            h.ftp.PutFile(original, name);
            QCOMPARE(h.waitForCompletion(), 0);
            QCOMPARE(QFileInfo(h.serverPath(name)).size(), size);
            QCOMPARE(Sha256OfFile(h.serverPath(name)), Sha256OfFile(original));

            const QString copy = h.localPath(QStringLiteral("copy-") + name);
            h.ftp.GetFile(name, copy);
            QCOMPARE(h.waitForCompletion(), 0);
            QCOMPARE(QFileInfo(copy).size(), size);
            QCOMPARE(Sha256OfFile(copy), Sha256OfFile(original));
        }
        QVERIFY(!h.transcript().contains(h.server.password()));
    }

    // A bare host to a server without TLS still works, in plain FTP, and says so; "ftpes://"
    // insists on TLS and ends without sending the user name.
    void serverWithoutTls_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("hostStyle");
        QTest::addColumn<int>("result");
        for (const auto kind : TestFtpServer::kinds()) {
            const QString name = TestFtpServer::kindName(kind);
            QTest::addRow("%s-bare-plain", qPrintable(name))
                << int(kind) << int(HostStyle::Bare) << 0;
            QTest::addRow("%s-ftpes-refused", qPrintable(name))
                << int(kind) << int(HostStyle::Explicit) << int(FtpResult::TlsFailure);
        }
    }
    void serverWithoutTls()
    {
        QFETCH(int, kind);
        QFETCH(int, hostStyle);
        QFETCH(int, result);
        TlsHarness h;
        START_FTP_SERVER(h, ServerOptions(kind));
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), result);
        const QString transcript = h.transcript();
        if (result == 0) {
            QVERIFY(WriteTestFile(h.localPath(QStringLiteral("p")), 4321));
            h.ftp.PutFile(h.localPath(QStringLiteral("p")), QStringLiteral("p"));
            QCOMPARE(h.waitForCompletion(), 0);
            QVERIFY(h.transcript().contains(QStringLiteral("with plain FTP without encryption")));
            QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("p"))),
                     Sha256OfFile(h.localPath(QStringLiteral("p"))));
        } else {
            QVERIFY2(!sentUserName(h.debug), qPrintable(transcript));
        }
        QVERIFY(!QFileInfo::exists(h.storePath()));
    }

    // The first connection stores the fingerprint (private file in a private folder); the same
    // certificate is accepted again; after the server got another certificate on the same port
    // the connection is refused before the user name is sent, and the stored one stays.
    void certificateTrustedOnFirstUse_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("hostStyle");
        for (const auto kind : TestFtpServer::kinds()) {
            const QString name = TestFtpServer::kindName(kind);
            QTest::addRow("%s-ftpes", qPrintable(name)) << int(kind) << int(HostStyle::Explicit);
            QTest::addRow("%s-bare", qPrintable(name)) << int(kind) << int(HostStyle::Bare);
        }
    }
    void certificateTrustedOnFirstUse()
    {
        QFETCH(int, kind);
        QFETCH(int, hostStyle);
        TlsHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.tls = Tls::Forced;
        START_TLS_SERVER(h, options);
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), 0);
        h.ftp.QueryCurrentDirectory(); // the log-in's summary comes with the next request
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY(h.transcript().contains(QStringLiteral("Trusted on first use")));
        QVERIFY(h.transcript().contains(QStringLiteral("(trusted on first use, now stored)")));
        QCOMPARE(modeOf(h.storePath()), 0600);
        QCOMPARE(modeOf(QFileInfo(h.storePath()).absolutePath()), 0700);
        const auto stored = FtpCertificateStore(h.storePath())
                                .fingerprint(QStringLiteral("127.0.0.1"), h.server.port());
        QVERIFY(stored.has_value());
        QCOMPARE(stored->size(), 64);

        h.ftp.Disconnect();
        h.debug.clear();
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), 0);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY(h.transcript().contains(QStringLiteral("(trusted on first use earlier)")));
        h.ftp.Disconnect();

        // The same server, port and name, with a new certificate.
        options.port = h.server.port();
        h.server.stop();
        START_TLS_SERVER(h, options, QStringLiteral("other"));
        h.debug.clear();
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), int(FtpResult::TlsFailure));
        const QString transcript = h.transcript();
        QVERIFY2(transcript.contains(QStringLiteral("different certificate")),
                 qPrintable(transcript));
        QVERIFY2(!sentUserName(h.debug), qPrintable(transcript));
        QVERIFY(!h.ftp.isConnected());
        QCOMPARE(FtpCertificateStore(h.storePath())
                     .fingerprint(QStringLiteral("127.0.0.1"), h.server.port()),
                 stored);
    }
};

QTEST_GUILESS_MAIN(TestFtpTls)
#include "tst_ftptls.moc"
