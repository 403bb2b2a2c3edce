#include "commandline.h"

#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
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

void TestCommandLine::usageNamesEveryOption()
{
    const QString usage = UsageText(QStringLiteral("parcelup"));
    QVERIFY(usage.startsWith(QStringLiteral("Aufruf: parcelup ")));
    for (const char *option : {"--no-window", "--settings", "--help", "--version"})
        QVERIFY2(usage.contains(QLatin1String(option)), option);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
