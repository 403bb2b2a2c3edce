#include "ftpcertificatecheck.h"
#include "ftpcertificatestore.h"
#include "ftphostkey.h"
#include "ftpproxy.h"
#include "ftptlshoststore.h"
#include "testftpserver.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

int modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

QSslCertificate MakeCertificate(const QString &folder, const QString &name)
{
    TestFtpServer::Options files;
    QString error;
    QDir().mkpath(folder);
    if (!TestFtpServer::createSelfSignedCertificate(folder, name, &files, &error))
        qFatal("%s", qPrintable(error));
    QFile pem(files.certificate);
    if (!pem.open(QIODevice::ReadOnly))
        return QSslCertificate();
    return QSslCertificate(&pem, QSsl::Pem);
}

} // namespace

// The pieces that decide whom the component trusts and which way it goes: the store of
// certificates trusted on first use, the decision about a presented certificate, and the reading
// of the Firewall properties.
class TestFtpTrust : public QObject
{
    Q_OBJECT

private slots:
    void defaultPath_data()
    {
        QTest::addColumn<QByteArray>("stateHome");
        QTest::addColumn<QString>("expectedFolder");
        const QString home = QDir::homePath();
        QTest::newRow("xdg-set") << QByteArray("/srv/state") << "/srv/state/vellumix/parcelup/";
        QTest::newRow("xdg-empty") << QByteArray() << home + "/.local/state/vellumix/parcelup/";
        QTest::newRow("xdg-relative-ignored")
            << QByteArray("relative/state") << home + "/.local/state/vellumix/parcelup/";
    }
    void defaultPath()
    {
        QFETCH(QByteArray, stateHome);
        QFETCH(QString, expectedFolder);
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", stateHome);
        const QString certificates = FtpCertificateStore::defaultPath();
        const QString tlsHosts = FtpTlsHostStore::defaultPath();
        qputenv("XDG_STATE_HOME", saved);
        QCOMPARE(certificates, expectedFolder + "known-certificates");
        QCOMPARE(tlsHosts, expectedFolder + "tls-hosts");
        // Whoever moves the certificate store (a test, another profile) moves the hosts too.
        QCOMPARE(FtpTlsHostStore::pathBeside(certificates), tlsHosts);
    }

    // Every spelling of one name or address is one key in both trust lists. A name is known by
    // the address a connection reached it at as well, and its own line comes first.
    void hostKeys_data()
    {
        QTest::addColumn<QString>("spelling");
        QTest::addColumn<QString>("key");
        const auto row = [](const char *name, const char *spelling, const char *key) {
            QTest::newRow(name) << QString::fromUtf8(spelling) << QString::fromUtf8(key);
        };
        row("short-address", "127.1", "127.0.0.1");
        row("hex-part", "0x7f.0.0.1", "127.0.0.1");
        row("ipv4-mapped", "[::FFFF:7f00:1]", "127.0.0.1");
        row("ipv6-long-with-zone", "2001:DB8:0:0:0:0:0:1%eth0", "2001:db8::1");
        row("name-case-and-trailing-dot", "FTP.Example.DE.", "ftp.example.de");
        row("name-idna", "Bücher.Example", "xn--bcher-kva.example");
    }
    void hostKeys()
    {
        QFETCH(QString, spelling);
        QFETCH(QString, key);
        QTemporaryDir state;
        FtpTlsHostStore hosts(state.filePath(QStringLiteral("tls-hosts")));
        FtpCertificateStore certificates(state.filePath(QStringLiteral("known-certificates")));
        QString error;
        const QStringList endpoint = FtpHostKeys(QStringLiteral("Other.Example"), spelling);
        QCOMPARE(endpoint, (QStringList{"other.example", key}));
        QVERIFY(hosts.remember(spelling, 21, &error));
        QCOMPARE(hosts.contains(key, 21, &error), true);
        QVERIFY(certificates.remember(endpoint, 21, "aa11", &error));
        QVERIFY(certificates.remember(QStringLiteral("third.example"), 21, "bb22", &error));
        QCOMPARE(certificates.fingerprint(QStringList{"new.example", key}, 21), QByteArray("aa11"));
        QCOMPARE(certificates.fingerprint(QStringList{"third.example", key}, 21),
                 QByteArray("bb22"));
    }

    // Hosts (any case) per port; a file edited by hand with tabs and comments is read as meant;
    // remembering a known host leaves the file alone; the file and its folder are private.
    void tlsHostStore()
    {
        QTemporaryDir state;
        const QString folder = state.filePath(QStringLiteral("vellumix/parcelup"));
        FtpTlsHostStore store(folder + QStringLiteral("/tls-hosts"));
        QString error;
        QCOMPARE(store.contains(QStringLiteral("ftp.example"), 21, &error), false);
        QVERIFY2(store.remember(QStringLiteral("FTP.Example"), 21, &error), qPrintable(error));
        QVERIFY(store.remember(QStringLiteral("::1"), 2121, &error));
        QCOMPARE(modeOf(store.path()), 0600);
        QCOMPARE(modeOf(folder), 0700);

        QCOMPARE(store.contains(QStringLiteral("ftp.EXAMPLE"), 21, &error), true);
        QCOMPARE(store.contains(QStringLiteral("ftp.example"), 990, &error), false);
        QCOMPARE(store.contains(QStringLiteral("::1"), 2121, &error), true);
        QCOMPARE(store.contains(QStringLiteral("::1"), 21, &error), false);

        QFile file(store.path());
        QVERIFY(file.open(QIODevice::Append));
        file.write("# other.example 21 was here once\n  other.example\t 2121  \n");
        file.close();
        QCOMPARE(store.contains(QStringLiteral("other.example"), 21, &error), false);
        QCOMPARE(store.contains(QStringLiteral("other.example"), 2121, &error), true);

        const QByteArray before = [&] {
            QFile f(store.path());
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        QVERIFY(store.remember(QStringLiteral("other.EXAMPLE"), 2121, &error));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        file.close();

        // Forgetting is deleting the line, as the README shows with sed.
        const QStringList kept =
            QString::fromUtf8(before)
                .split(QLatin1Char('\n'))
                .filter(QRegularExpression(QStringLiteral("^(?!ftp\\.example 21$)")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(kept.join(QLatin1Char('\n')).toUtf8());
        file.close();
        QCOMPARE(store.contains(QStringLiteral("ftp.example"), 21, &error), false);
        QCOMPARE(store.contains(QStringLiteral("::1"), 2121, &error), true);

        // A list that cannot be read says so instead of claiming the host is unknown.
        FtpTlsHostStore unreadable(state.path());
        error.clear();
        QVERIFY(!unreadable.contains(QStringLiteral("ftp.example"), 21, &error).has_value());
        QVERIFY(!error.isEmpty());
        QVERIFY(!unreadable.remember(QStringLiteral("ftp.example"), 21, &error));
        // A pipe in the list's place is refused at once, not waited on for a writer.
        const QString pipe = state.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        FtpTlsHostStore piped(pipe);
        error.clear();
        QVERIFY(!piped.contains(QStringLiteral("ftp.example"), 21, &error).has_value());
        QVERIFY(error.contains(QLatin1String("not a regular file")));

        // A link planted in the state folder's place is refused, not followed: the list would
        // otherwise go, and the folder be changed, wherever the link points.
        QTemporaryDir elsewhere;
        const QString planted = state.filePath(QStringLiteral("planted"));
        QVERIFY(QFile::link(elsewhere.path(), planted));
        FtpTlsHostStore linked(planted + QStringLiteral("/tls-hosts"));
        QVERIFY(!linked.remember(QStringLiteral("ftp.example"), 21, &error));
        QVERIFY(!QFile::exists(elsewhere.filePath(QStringLiteral("tls-hosts"))));
    }

    // Entries per host (any case) and port; replacing one keeps the others and the comments; the
    // folder the store creates, or finds, ends up private, and so does the file.
    void storeKeepsEntries()
    {
        QTemporaryDir state;
        const QString folder = state.filePath(QStringLiteral("vellumix/parcelup"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther));
        FtpCertificateStore store(folder + QStringLiteral("/known-certificates"));
        QString error;
        QVERIFY(!store.fingerprint(QStringLiteral("ftp.example"), 21).has_value());
        QVERIFY2(store.remember(QStringLiteral("FTP.Example"), 21, "aa11", &error),
                 qPrintable(error));
        QVERIFY(store.remember(QStringLiteral("ftp.example"), 990, "bb22", &error));
        QVERIFY(store.remember(QStringLiteral("::1"), 21, "cc33", &error));
        QVERIFY(store.remember(QStringLiteral("ftp.example"), 21, "DD44", &error));

        QCOMPARE(store.fingerprint(QStringLiteral("ftp.EXAMPLE"), 21), QByteArray("dd44"));
        QCOMPARE(store.fingerprint(QStringLiteral("ftp.example"), 990), QByteArray("bb22"));
        QCOMPARE(store.fingerprint(QStringLiteral("::1"), 21), QByteArray("cc33"));
        QVERIFY(!store.fingerprint(QStringLiteral("ftp.example"), 2121).has_value());

        QFile file(store.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        QVERIFY(lines.first().startsWith(QLatin1Char('#')));
        QCOMPARE(lines.mid(1),
                 (QStringList{"ftp.example 990 bb22", "::1 21 cc33", "ftp.example 21 dd44", ""}));
        QCOMPARE(modeOf(store.path()), 0600);
        QCOMPARE(modeOf(folder), 0700);
    }

    void decisions()
    {
        QTemporaryDir state;
        const QSslCertificate first = MakeCertificate(state.filePath("a"), "a.test");
        const QSslCertificate second = MakeCertificate(state.filePath("b"), "b.test");
        QVERIFY(!first.isNull() && !second.isNull());
        const QString storePath = state.filePath(QStringLiteral("known"));
        const FtpCertificateCheck check(QStringLiteral("ftp.test"), 21, storePath);
        const QList<QSslError> selfSigned{QSslError(QSslError::SelfSignedCertificate, first)};
        using V = FtpCertificateCheck::Verdict;

        // Verified certificates are not stored.
        QCOMPARE(check.decide(first, {}).verdict, V::Verified);
        QVERIFY(!QFile::exists(storePath));

        const auto firstUse = check.decide(first, selfSigned);
        QCOMPARE(firstUse.verdict, V::FirstUse);
        QVERIFY(firstUse.accepted());
        QCOMPARE(firstUse.fingerprint, FtpCertificateCheck::fingerprintOf(first));
        QCOMPARE(check.decide(first, selfSigned).verdict, V::Known);

        const auto changed = check.decide(second, selfSigned);
        QCOMPARE(changed.verdict, V::Changed);
        QVERIFY(!changed.accepted());
        QVERIFY(changed.explanation.contains(QStringLiteral("ftp.test 21")));
        // A certificate that verifies is taken even where another one was pinned.
        QCOMPARE(check.decide(second, {}).verdict, V::Verified);
        // The same certificate on another port is a server of its own.
        QCOMPARE(FtpCertificateCheck(QStringLiteral("ftp.test"), 2121, storePath)
                     .decide(second, selfSigned)
                     .verdict,
                 V::FirstUse);

        QCOMPARE(check.decide(QSslCertificate(), selfSigned).verdict, V::Unusable);
        // A store that cannot be read refuses rather than trusting blindly.
        const FtpCertificateCheck unreadable(QStringLiteral("ftp.test"), 21, state.path());
        QCOMPARE(unreadable.decide(first, selfSigned).verdict, V::Unusable);
        QCOMPARE(FtpCertificateCheck::readable("ab01ff"), QStringLiteral("AB:01:FF"));
    }

    void proxySettings_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("expectedHost");
        QTest::addColumn<int>("expectedPort");
        QTest::newRow("none-ignores-host") << 0 << QString() << 0 << true << QString() << 0;
        QTest::newRow("socks5-usual-port")
            << 1 << "proxy.example" << 0 << true << "proxy.example" << 1080;
        QTest::newRow("http-usual-port")
            << 2 << "proxy.example" << 0 << true << "proxy.example" << 8080;
        QTest::newRow("ftp-user-usual-port")
            << 3 << "fw.example" << 0 << true << "fw.example" << 21;
        QTest::newRow("ftp-site-own-port")
            << 4 << " fw.example " << 2100 << true << "fw.example" << 2100;
        QTest::newRow("ftp-open-ipv6") << 5 << "[::1]" << 0 << true << "::1" << 21;
        QTest::newRow("ipv6-bare") << 1 << "::1" << 1081 << true << "::1" << 1081;
        QTest::newRow("no-host") << 1 << QString() << 0 << false << QString() << 0;
        QTest::newRow("host-with-port")
            << 2 << "proxy.example:3128" << 0 << false << QString() << 0;
        QTest::newRow("host-with-path") << 2 << "proxy.example/x" << 0 << false << QString() << 0;
        QTest::newRow("type-too-big") << 6 << "proxy.example" << 0 << false << QString() << 0;
    }
    void proxySettings()
    {
        QFETCH(int, type);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, usable);
        QFETCH(QString, expectedHost);
        QFETCH(int, expectedPort);
        QString error;
        const auto proxy = MakeFtpProxy(type, host, quint16(port), QStringLiteral("anna"),
                                        QStringLiteral("pw"), &error);
        QCOMPARE(proxy.has_value(), usable);
        QCOMPARE(error.isEmpty(), usable);
        if (!proxy || type == 0)
            return;
        QCOMPARE(proxy->host, expectedHost);
        QCOMPARE(int(proxy->port), expectedPort);
        QVERIFY(!proxy->description().contains(QStringLiteral("pw")));
        QCOMPARE(proxy->networkProxy().type() != QNetworkProxy::NoProxy, type <= 2);
    }

    void proxyTarget_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("target");
        QTest::newRow("usual-port") << "ftp.example"
                                    << "ftp.example";
        QTest::newRow("other-port") << "ftp.example:2121"
                                    << "ftp.example:2121";
        QTest::newRow("ftps-port-990") << "ftps://ftp.example"
                                       << "ftp.example:990";
        QTest::newRow("ipv6") << "[2001:db8::1]:21"
                              << "[2001:db8::1]";
        QTest::newRow("ipv6-port") << "[::1]:2121"
                                   << "[::1]:2121";
    }
    void proxyTarget()
    {
        QFETCH(QString, host);
        QFETCH(QString, target);
        const auto address = ParseFtpServerAddress(host);
        QVERIFY(address);
        QCOMPARE(FtpProxyTarget(*address), target);
    }
};

QTEST_GUILESS_MAIN(TestFtpTrust)
#include "tst_ftptrust.moc"
