#include "ftpserveraddress.h"

#include <QTest>

Q_DECLARE_METATYPE(FtpServerAddress::Security)

// The host text the settings hand over, in every form a user may write it.
class TestFtpServerAddress : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<FtpServerAddress::Security>("security");
        using S = FtpServerAddress::Security;

        QTest::newRow("name") << "ftp.example.org"
                              << "ftp.example.org" << 21 << S::Automatic;
        QTest::newRow("name-port") << "ftp.example.org:2121"
                                   << "ftp.example.org" << 2121 << S::Automatic;
        QTest::newRow("ipv4") << "192.0.2.7"
                              << "192.0.2.7" << 21 << S::Automatic;
        QTest::newRow("ipv4-port") << "127.0.0.1:65535"
                                   << "127.0.0.1" << 65535 << S::Automatic;
        QTest::newRow("ipv6-bracketed-port") << "[::1]:2121"
                                             << "::1" << 2121 << S::Automatic;
        QTest::newRow("ipv6-bracketed") << "[2001:db8::5]"
                                        << "2001:db8::5" << 21 << S::Automatic;
        QTest::newRow("ipv6-bare") << "::1"
                                   << "::1" << 21 << S::Automatic;
        QTest::newRow("ipv6-bare-long") << "2001:db8:0:0:0:0:0:1"
                                        << "2001:db8:0:0:0:0:0:1" << 21 << S::Automatic;
        QTest::newRow("blanks") << "  ftp.example.org  "
                                << "ftp.example.org" << 21 << S::Automatic;
        // "ftp://" is the user's explicit choice of plain FTP, with no AUTH TLS attempt.
        QTest::newRow("ftp-scheme") << "ftp://host.example:21/"
                                    << "host.example" << 21 << S::Plain;
        QTest::newRow("ftp-scheme-default-port") << "ftp://host.example"
                                                 << "host.example" << 21 << S::Plain;
        QTest::newRow("ftp-scheme-port") << "ftp://host.example:2121"
                                         << "host.example" << 2121 << S::Plain;
        QTest::newRow("ftp-scheme-ipv6") << "ftp://[::1]:2121/"
                                         << "::1" << 2121 << S::Plain;
        QTest::newRow("scheme-upper-case") << "FTP://host.example"
                                           << "host.example" << 21 << S::Plain;
        QTest::newRow("ftpes-port") << "FTPES://host.example:2121"
                                    << "host.example" << 2121 << S::ExplicitTls;
        QTest::newRow("ftpes") << "ftpes://host.example"
                               << "host.example" << 21 << S::ExplicitTls;
        QTest::newRow("ftps-default-port") << "ftps://host.example"
                                           << "host.example" << 990 << S::ImplicitTls;
        QTest::newRow("ftps-port") << "ftps://[::1]:9990"
                                   << "::1" << 9990 << S::ImplicitTls;
        QTest::newRow("umlaut-name") << "bücher.example"
                                     << "bücher.example" << 21 << S::Automatic;
    }
    void accepted()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(FtpServerAddress::Security, security);
        const auto parsed = ParseFtpServerAddress(text);
        QVERIFY(parsed.has_value());
        QCOMPARE(parsed->host, host);
        QCOMPARE(int(parsed->port), port);
        QCOMPARE(parsed->security, security);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("port-only") << ":21";
        QTest::newRow("port-zero") << "host:0";
        QTest::newRow("port-too-big") << "host:65536";
        QTest::newRow("port-not-numeric") << "host:ftp";
        QTest::newRow("port-empty") << "host:";
        QTest::newRow("path") << "host/htdocs";
        QTest::newRow("user") << "anna@host";
        QTest::newRow("inner-blank") << "my host";
        QTest::newRow("line-break") << "host\r\nUSER x";
        QTest::newRow("bracket-unclosed") << "[::1";
        QTest::newRow("bracket-not-ipv6") << "[127.0.0.1]:21";
        QTest::newRow("bracket-garbage-after") << "[::1]x";
        QTest::newRow("bare-colons-not-ipv6") << "a:b:c";
        QTest::newRow("other-scheme") << "http://host";
        QTest::newRow("ftp-scheme-without-host") << "ftp://";
        QTest::newRow("ftp-scheme-with-path") << "ftp://host/htdocs";
        QTest::newRow("ftp-scheme-with-user") << "ftp://anna@host";
        QTest::newRow("two-schemes") << "ftp://ftps://host";
    }
    void refused()
    {
        QFETCH(QString, text);
        QVERIFY(!ParseFtpServerAddress(text).has_value());
    }
};

QTEST_GUILESS_MAIN(TestFtpServerAddress)
#include "tst_ftpserveraddress.moc"
