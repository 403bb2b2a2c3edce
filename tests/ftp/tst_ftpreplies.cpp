#include "ftpfeatures.h"
#include "ftpportargument.h"
#include "ftpreplyfields.h"
#include "ftpreplyparser.h"

#include <QTest>

// The reply framing and the values taken out of replies, case by case.
class TestFtpReplies : public QObject
{
    Q_OBJECT

private slots:
    void parser_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("lineCount");

        QTest::newRow("single") << QStringList{"220 ready"} << 220 << 1;
        QTest::newRow("code-only") << QStringList{"200"} << 200 << 1;
        QTest::newRow("multiline-230") << QStringList{"230-Welcome", "230 Logged in."} << 230 << 2;
        QTest::newRow("multiline-inner-digits")
            << QStringList{"220-Hello", "123 not the end", "220-still not", "  220 indented",
                           "220 end"}
            << 220 << 5;
        QTest::newRow("multiline-empty-inner")
            << QStringList{"211-Features:", "", "211 End"} << 211 << 3;
        QTest::newRow("multiline-bare-end") << QStringList{"257-a", "257"} << 257 << 2;
    }
    void parser()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, code);
        QFETCH(int, lineCount);

        FtpReplyParser parser;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const auto outcome = parser.addLine(lines.at(i));
            const bool last = i + 1 == lines.size();
            QCOMPARE(outcome, last ? FtpReplyParser::Outcome::ReplyComplete
                                   : FtpReplyParser::Outcome::NeedMoreLines);
        }
        const FtpReply reply = parser.takeReply();
        QCOMPARE(reply.code, code);
        QCOMPARE(reply.lines.size(), lineCount);

        // Ready for the next reply.
        QCOMPARE(parser.addLine(QStringLiteral("200 next")),
                 FtpReplyParser::Outcome::ReplyComplete);
        QCOMPARE(parser.takeReply().code, 200);
    }

    void malformed_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("text") << "hello";
        QTest::newRow("two-digits") << "22 x";
        QTest::newRow("no-separator") << "220x";
        QTest::newRow("class-0") << "020 x";
        QTest::newRow("class-6") << "600 x";
        QTest::newRow("empty") << "";
    }
    void malformed()
    {
        QFETCH(QString, line);
        FtpReplyParser parser;
        QCOMPARE(parser.addLine(line), FtpReplyParser::Outcome::Malformed);
    }

    void endlessMultiLineReply()
    {
        FtpReplyParser parser;
        QCOMPARE(parser.addLine(QStringLiteral("220-start")),
                 FtpReplyParser::Outcome::NeedMoreLines);
        FtpReplyParser::Outcome outcome = FtpReplyParser::Outcome::NeedMoreLines;
        for (int i = 0;
             i <= FtpReplyParser::MaximumLines && outcome == FtpReplyParser::Outcome::NeedMoreLines;
             ++i)
            outcome = parser.addLine(QStringLiteral("more"));
        QCOMPARE(outcome, FtpReplyParser::Outcome::Malformed);
    }

    void directory_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << "\"/home/web\" is the current directory"
                               << "/home/web";
        QTest::newRow("root") << "\"/\""
                              << "/";
        QTest::newRow("escaped-quote") << "\"/a \"\"b\"\" c\" created"
                                       << "/a \"b\" c";
        QTest::newRow("quote-at-end") << "\"/x\"\"\" here"
                                      << "/x\"";
        QTest::newRow("spaces") << "\"/my site/htdocs\""
                                << "/my site/htdocs";
        QTest::newRow("unquoted") << "/srv/ftp is current"
                                  << "/srv/ftp";
        QTest::newRow("umlauts") << "\"/Bücher\""
                                 << "/Bücher";
    }
    void directory()
    {
        QFETCH(QString, text);
        QFETCH(QString, path);
        const auto parsed = ParseDirectoryReply(text);
        QVERIFY(parsed.has_value());
        QCOMPARE(*parsed, path);
    }

    void directoryUnreadable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("unclosed") << "\"/home";
        QTest::newRow("blank") << "   ";
    }
    void directoryUnreadable()
    {
        QFETCH(QString, text);
        QVERIFY(!ParseDirectoryReply(text).has_value());
    }

    // SIZE answers: digits only, and no more of them than a 64-bit number holds.
    void sizes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("size"); // -1: no size
        for (const auto &[text, size] :
             std::initializer_list<std::pair<const char *, qint64>>{{"1234", 1234},
                                                                    {" 5000000000 ", 5'000'000'000},
                                                                    {"about 5 KB", -1},
                                                                    {"-5", -1},
                                                                    {"1234\r", 1234},
                                                                    {"", -1},
                                                                    {"99999999999999999999", -1}})
            QTest::addRow("'%s'", text) << QString::fromLatin1(text) << size;
    }
    void sizes()
    {
        QFETCH(QString, text);
        QFETCH(qint64, size);
        QCOMPARE(ParseSizeReply(text).value_or(-1), size);
    }

    void passivePorts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("extended");
        QTest::addColumn<int>("port");
        QTest::newRow("epsv") << "Entering Extended Passive Mode (|||6446|)" << true << 6446;
        QTest::newRow("epsv-other-delimiter") << "ok (!!!21000!)" << true << 21000;
        QTest::newRow("epsv-port-0") << "(|||0|)" << true << 0;
        QTest::newRow("epsv-port-too-big") << "(|||70000|)" << true << 0;
        QTest::newRow("epsv-mixed-delimiters") << "(|!|6446|)" << true << 0;
        QTest::newRow("epsv-six-digits") << "(|||644600|)" << true << 0;
        QTest::newRow("epsv-after-other-parentheses")
            << "Entering Extended Passive Mode (EPSV) (|||6446|)" << true << 6446;
        QTest::newRow("epsv-digit-delimiter") << "(1112001)" << true << 200;
        QTest::newRow("pasv") << "Entering Passive Mode (127,0,0,1,200,10)." << false << 51210;
        QTest::newRow("pasv-no-parentheses")
            << "Entering Passive Mode 10,1,2,3,4,1" << false << 1025;
        // The address is another host's; only the port counts, the address is never used.
        QTest::newRow("pasv-foreign-address") << "=192,168,7,9,0,21" << false << 21;
        QTest::newRow("pasv-byte-too-big") << "(127,0,0,1,256,1)" << false << 0;
        QTest::newRow("pasv-short") << "(127,0,0,1,200)" << false << 0;
        QTest::newRow("pasv-numbers-before") << "Mode 2, port (10,1,2,3,4,1)" << false << 1025;
        QTest::newRow("pasv-non-ascii-digits") << QString::fromUtf8("(١,٢,٣,٤,٥,٦)") << false << 0;
    }
    void passivePorts()
    {
        QFETCH(QString, text);
        QFETCH(bool, extended);
        QFETCH(int, port);
        const auto parsed = extended ? ParseExtendedPassivePort(text) : ParsePassivePort(text);
        QCOMPARE(parsed.has_value(), port != 0);
        if (parsed)
            QCOMPARE(int(*parsed), port);
    }

    // FEAT listings as servers write them: one name per line, several per line, in any case.
    void features_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("found"); // a: AUTH TLS, s: SIZE, r: REST STREAM
        QTest::newRow("usual") << 211
                               << QStringList{"211-Features:", " AUTH TLS", " SIZE", " REST STREAM",
                                              "211 End"}
                               << "asr";
        QTest::newRow("mechanisms-on-one-line")
            << 211 << QStringList{"211-Features:", " AUTH SSL;TLS", "\tsize", "211 End"} << "as";
        QTest::newRow("commas-and-lower-case")
            << 211 << QStringList{"211-x", " auth ssl, tls", " rest\tstream", "211 End"} << "ar";
        QTest::newRow("names-as-arguments-only")
            << 211 << QStringList{"211-x", " MDTM SIZE", " REST", " AUTH SSL", "211 End"} << "";
        QTest::newRow("refused") << 500 << QStringList{"500 FEAT not understood"} << "";
    }
    void features()
    {
        QFETCH(int, code);
        QFETCH(QStringList, lines);
        QFETCH(QString, found);
        const FtpFeatures features = FtpFeatures::fromReply(FtpReply{code, lines});
        QCOMPARE(features.listed, code == 211);
        QCOMPARE(features.authTls, found.contains(u'a'));
        QCOMPARE(features.size, found.contains(u's'));
        QCOMPARE(features.restStream, found.contains(u'r'));
    }

    void activeArguments_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("eprt");
        QTest::addColumn<QString>("portArgument");
        QTest::newRow("ipv4") << "127.0.0.1" << 51210 << "|1|127.0.0.1|51210|"
                              << "127,0,0,1,200,10";
        QTest::newRow("ipv4-mapped") << "::ffff:10.0.0.2" << 21 << "|1|10.0.0.2|21|"
                                     << "10,0,0,2,0,21";
        QTest::newRow("ipv6") << "::1" << 2121 << "|2|::1|2121|"
                              << "";
        QTest::newRow("ipv6-scoped") << "fe80::1%1" << 1025 << "|2|fe80::1|1025|"
                                     << "";
    }
    void activeArguments()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(QString, eprt);
        QFETCH(QString, portArgument);
        const QHostAddress host(address);
        QCOMPARE(ExtendedPortArgument(host, quint16(port)), eprt);
        QCOMPARE(PortArgument(host, quint16(port)).value_or(QString()), portArgument);
    }
};

QTEST_GUILESS_MAIN(TestFtpReplies)
#include "tst_ftpreplies.moc"
