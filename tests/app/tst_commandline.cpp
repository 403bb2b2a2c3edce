#include "commandline.h"
#include "stringtable.h"

#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void acceptedCertificate_data();
    void acceptedCertificate();
    void usageNamesEveryOption();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("noWindow");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");
    QTest::addColumn<QString>("error");

    QTest::newRow("none-as-the-site-builder-starts-it")
        << QStringList{} << false << "" << false << false << "";
    QTest::newRow("no-window") << QStringList{"--no-window"} << true << "" << false << false << "";
    QTest::newRow("settings-file")
        << QStringList{"--settings", "/tmp/a.ini"} << false << "/tmp/a.ini" << false << false << "";
    QTest::newRow("settings-equals") << QStringList{"--settings=/tmp/a b.ini", "--no-window"}
                                     << true << "/tmp/a b.ini" << false << false << "";
    QTest::newRow("help") << QStringList{"--help"} << false << "" << true << false << "";
    QTest::newRow("version") << QStringList{"--version"} << false << "" << false << true << "";
    QTest::newRow("settings-without-file")
        << QStringList{"--settings"} << false << "" << false << false
        << "Nach --settings fehlt der Name der Einstellungsdatei.";
    QTest::newRow("settings-empty-equals")
        << QStringList{"--settings="} << false << "" << false << false
        << "Nach --settings fehlt der Name der Einstellungsdatei.";
    QTest::newRow("unknown-option")
        << QStringList{"--force"} << false << "" << false << false << "Unbekannte Angabe: --force";
    QTest::newRow("qt-platform-option-refused")
        << QStringList{"-platform", "offscreen"} << false << "" << false << false
        << "Unbekannte Angabe: -platform";
    QTest::newRow("stray-word") << QStringList{"--no-window", "jetzt"} << true << "" << false
                                << false << "Unbekannte Angabe: jetzt";
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, noWindow);
    QFETCH(QString, settings);
    QFETCH(bool, help);
    QFETCH(bool, version);
    QFETCH(QString, error);
    const CommandLine line = ParseCommandLine(arguments);
    QCOMPARE(line.error, error);
    if (!error.isEmpty())
        return;
    QCOMPARE(line.noWindow, noWindow);
    QCOMPARE(line.settingsFile, settings);
    QCOMPARE(line.help, help);
    QCOMPARE(line.version, version);
}

void TestCommandLine::acceptedCertificate_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    const QString shown = QStringLiteral("A9:4B:0C:1D:2E:3F:40:51:62:73:84:95:06:A7:B8:C9:D0:E1:F2:"
                                         "03:14:25:36:47:58:69:7A:8B:9C:AD:BE:CF");
    const QString missing = ResourceString(MessageId::AcceptCertificateMissing);
    const QString notOne = ResourceString(MessageId::AcceptCertificateInvalid);
    const auto row = [](const char *name, const QStringList &arguments, const QString &error) {
        QTest::newRow(name) << arguments << error;
    };
    row("as-the-message-prints-it", {"--no-window", "--accept-certificate", shown}, "");
    row("hex-without-colons", {"--accept-certificate", QString(shown).remove(':')}, "");
    row("equals-lower-case", {"--accept-certificate=" + shown.toLower()}, "");
    row("missing", {"--accept-certificate"}, missing);
    row("sha1-is-too-short", {"--accept-certificate=" + shown.left(59)},
        QString(notOne).replace("%1", shown.left(59)));
}

// Hex in either case, colons optional, so that the fingerprint can be copied from the message or
// from the hosting company's page.
void TestCommandLine::acceptedCertificate()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const CommandLine line = ParseCommandLine(arguments);
    QCOMPARE(line.error, error);
    QCOMPARE(line.acceptedCertificate,
             error.isEmpty()
                 ? QByteArray("a94b0c1d2e3f40516273849506a7b8c9d0e1f2031425364758697a8b9cadbecf")
                 : QByteArray());
}

void TestCommandLine::usageNamesEveryOption()
{
    const QString usage = UsageText(QStringLiteral("parcelup"));
    QVERIFY(usage.startsWith(QStringLiteral("Aufruf: parcelup ")));
    for (const char *option :
         {"--no-window", "--settings", "--help", "--version", "--accept-certificate"})
        QVERIFY2(usage.contains(QLatin1String(option)), option);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
