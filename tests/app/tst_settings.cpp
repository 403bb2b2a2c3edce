#include "ftpcontrol.h"
#include "instanceguard.h"
#include "mainprogram.h"
#include "programerror.h"
#include "recordingview.h"
#include "sessionaccess.h"
#include "settingsstore.h"
#include "userfolders.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Values = QHash<QString, QString>;

// Answers from a table and remembers which keys were asked for, in order.
class RecordingSettings : public SettingsSource
{
public:
    explicit RecordingSettings(Values values) : mValues(std::move(values)) {}
    QString read(const QString &key) override
    {
        reads << key;
        return mValues.value(key);
    }
    QStringList reads;

private:
    Values mValues;
};

const QStringList kAlwaysRead = {
    QStringLiteral("FTPLocalBaseDir"), QStringLiteral("FTPRemoteBaseDir"),
    QStringLiteral("FTPRemoteURL"),    QStringLiteral("FTPHost"),
    QStringLiteral("FTPLogonName"),    QStringLiteral("FTPPassword"),
    QStringLiteral("FTPPassive"),      QStringLiteral("FTPDelete"),
    QStringLiteral("FTPConnections"),  QStringLiteral("FTPFirewallType")};
const QStringList kFirewallKeys = {
    QStringLiteral("FTPFirewallhost"), QStringLiteral("FTPFirewallLogonName"),
    QStringLiteral("FTPFirewallPassword"), QStringLiteral("FTPFirewallPort")};

} // namespace

Q_DECLARE_METATYPE(Values)

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readOrderAndForwarding_data();
    void readOrderAndForwarding();
    void overflowStopsStartUp_data();
    void overflowStopsStartUp();
    void plainValuesAreStored();
    void iniKeysMatchWithoutCase();
    void iniValuesWrittenByQSettingsComeBackExactly_data();
    void iniValuesWrittenByQSettingsComeBackExactly();
    void iniMissingFileReadsEmpty();
    void secondInstanceReadsNothing();

private:
    std::unique_ptr<IsolatedUserFolders> mFolders;
    std::unique_ptr<RecordingView> mView;
};

void TestSettings::init()
{
    mFolders = std::make_unique<IsolatedUserFolders>();
    classUploadTestAccess::fresh();
    mView = std::make_unique<RecordingView>();
    mView->install();
}

void TestSettings::cleanup()
{
    mView.reset();
    mFolders.reset();
}

void TestSettings::readOrderAndForwarding_data()
{
    QTest::addColumn<Values>("settings");
    QTest::addColumn<bool>("firewallKeysRead");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<int>("firewallType");
    QTest::addColumn<QString>("firewallHost");
    QTest::addColumn<QString>("firewallUser");
    QTest::addColumn<int>("firewallPort");

    const Values firewall{{"FTPFirewallhost", "proxy.example"},
                          {"FTPFirewallLogonName", "pu"},
                          {"FTPFirewallPassword", "pp"},
                          {"FTPFirewallPort", "1080"}};
    const auto with = [&](Values extra) {
        Values all = firewall;
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            all.insert(it.key(), it.value());
        return all;
    };

    QTest::newRow("type-missing") << with({}) << false << false << 0 << ""
                                  << "" << 0;
    QTest::newRow("type-zero") << with({{"FTPFirewallType", "0"}}) << false << false << 0 << ""
                               << "" << 0;
    QTest::newRow("type-word") << with({{"FTPFirewallType", "socks"}}) << false << false << 0 << ""
                               << "" << 0;
    QTest::newRow("type-0.4") << with({{"FTPFirewallType", "0.4"}}) << false << false << 0 << ""
                              << "" << 0;
    QTest::newRow("type-0.5-rounds-to-0")
        << with({{"FTPFirewallType", "0.5"}}) << false << false << 0 << ""
        << "" << 0;
    QTest::newRow("type-1") << with({{"FTPFirewallType", "1"}}) << true << false << 1
                            << "proxy.example"
                            << "pu" << 1080;
    QTest::newRow("type-1.5-rounds-to-2")
        << with({{"FTPFirewallType", "1.5"}}) << true << false << 2 << "proxy.example"
        << "pu" << 1080;
    QTest::newRow("type-2.5-rounds-to-2")
        << with({{"FTPFirewallType", "2.5"}}) << true << false << 2 << "proxy.example"
        << "pu" << 1080;
    QTest::newRow("port-missing-not-forwarded")
        << Values{{"FTPFirewallType", "1"}, {"FTPFirewallhost", "p"}} << true << false << 1 << "p"
        << "" << 0;
    QTest::newRow("port-21") << Values{{"FTPFirewallType", "1"}, {"FTPFirewallPort", "21"}} << true
                             << false << 1 << ""
                             << "" << 21;
    QTest::newRow("port-above-32767-is-a-port")
        << Values{{"FTPFirewallType", "2"}, {"FTPFirewallPort", "40000"}} << true << false << 2
        << ""
        << "" << 40000;
    QTest::newRow("port-65535") << Values{{"FTPFirewallType", "2"}, {"FTPFirewallPort", "65535"}}
                                << true << false << 2 << ""
                                << "" << 65535;
    QTest::newRow("empty-host-not-forwarded-type-is")
        << Values{{"FTPFirewallType", "1"}, {"FTPFirewallhost", ""}} << true << false << 1 << ""
        << "" << 0;
    QTest::newRow("passive-1") << Values{{"FTPPassive", "1"}} << false << true << 0 << ""
                               << "" << 0;
    QTest::newRow("passive-minus-1") << Values{{"FTPPassive", "-1"}} << false << true << 0 << ""
                                     << "" << 0;
    QTest::newRow("passive-half") << Values{{"FTPPassive", "0.5"}} << false << true << 0 << ""
                                  << "" << 0;
    QTest::newRow("passive-blank-1") << Values{{"FTPPassive", " 1"}} << false << true << 0 << ""
                                     << "" << 0;
    QTest::newRow("passive-0") << Values{{"FTPPassive", "0"}} << false << false << 0 << ""
                               << "" << 0;
    QTest::newRow("passive-True-word")
        << Values{{"FTPPassive", "True"}} << false << false << 0 << ""
        << "" << 0;
}

void TestSettings::readOrderAndForwarding()
{
    QFETCH(Values, settings);
    QFETCH(bool, firewallKeysRead);
    QFETCH(bool, passive);
    QFETCH(int, firewallType);
    QFETCH(QString, firewallHost);
    QFETCH(QString, firewallUser);
    QFETCH(int, firewallPort);

    RecordingSettings source(settings);
    ApplySettings(source, classUpload::instance());

    QStringList expectedReads = kAlwaysRead;
    if (firewallKeysRead)
        expectedReads += kFirewallKeys;
    QCOMPARE(source.reads, expectedReads);

    const FtpControl &ftp = classUploadTestAccess::ftp();
    QCOMPARE(ftp.passive(), passive);
    QCOMPARE(ftp.firewallType(), firewallType);
    QCOMPARE(ftp.firewallHost(), firewallHost);
    QCOMPARE(ftp.firewallUserName(), firewallUser);
    QCOMPARE(int(ftp.firewallPort()), firewallPort);
    QCOMPARE(ftp.hasFirewallPassword(QStringLiteral("pp")),
             firewallKeysRead && settings.contains("FTPFirewallPassword"));
}

void TestSettings::overflowStopsStartUp_data()
{
    QTest::addColumn<Values>("settings");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");

    QTest::newRow("port-65536") << Values{{"FTPFirewallType", "1"}, {"FTPFirewallPort", "65536"}}
                                << "FTPFirewallPort"
                                << "65536";
    QTest::newRow("port-negative")
        << Values{{"FTPFirewallType", "1"}, {"FTPFirewallPort", "-1"}} << "FTPFirewallPort"
        << "-1";
    QTest::newRow("port-beyond-32-bit")
        << Values{{"FTPFirewallType", "1"}, {"FTPFirewallPort", "3e9"}} << "FTPFirewallPort"
        << "3e9";
    QTest::newRow("type-beyond-32-bit")
        << Values{{"FTPFirewallType", "&HFFFFFFFF"}} << "FTPFirewallType"
        << "&HFFFFFFFF";
    QTest::newRow("connections-beyond-ten") << Values{{"FTPConnections", "11"}} << "FTPConnections"
                                            << "11";
    QTest::newRow("passive-beyond-double") << Values{{"FTPPassive", "1e999"}} << "FTPPassive"
                                           << "1e999";
}

void TestSettings::overflowStopsStartUp()
{
    QFETCH(Values, settings);
    QFETCH(QString, key);
    QFETCH(QString, text);

    RecordingSettings source(settings);
    try {
        ApplySettings(source, classUpload::instance());
        QFAIL("an overflow must stop start-up");
    } catch (const ProgramError &error) {
        QCOMPARE(error.number(), int(ProgramError::Overflow));
        QVERIFY2(error.description().contains(QLatin1Char('"') + key + QLatin1Char('"')),
                 qPrintable(error.description()));
        QVERIFY2(error.description().contains(QLatin1Char('"') + text + QLatin1Char('"')),
                 qPrintable(error.description()));
    }
    QCOMPARE(source.reads.last(), key);
}

void TestSettings::plainValuesAreStored()
{
    RecordingSettings source(Values{{"FTPLocalBaseDir", "/srv/site"},
                                    {"FTPRemoteBaseDir", "/htdocs"},
                                    {"FTPRemoteURL", "https://www.example.de"},
                                    {"FTPHost", "ftp.example.de:2121"},
                                    {"FTPLogonName", "web1"},
                                    {"FTPPassword", "geheim"},
                                    {"FTPDelete", "1"}});
    ApplySettings(source, classUpload::instance());
    QCOMPARE(classUploadTestAccess::state().localBaseDir, QStringLiteral("/srv/site"));
    QCOMPARE(classUploadTestAccess::state().remoteBaseDir, QStringLiteral("/htdocs"));
    QCOMPARE(classUpload::instance().RemoteURL(), QStringLiteral("https://www.example.de"));
    QCOMPARE(classUploadTestAccess::ftp().host(), QStringLiteral("ftp.example.de:2121"));
    QCOMPARE(classUploadTestAccess::ftp().userName(), QStringLiteral("web1"));
    QVERIFY(classUploadTestAccess::ftp().hasPassword(QStringLiteral("geheim")));
    QVERIFY(classUploadTestAccess::state().deleteRemote);
}

void TestSettings::iniKeysMatchWithoutCase()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vellumix.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Parcelup]\nftphost=ftp.example.de\nFTPFIREWALLHOST=proxy\nFTPPassive=1\n");
    file.close();

    IniSettingsStore store(path);
    QCOMPARE(store.read(QStringLiteral("FTPHost")), QStringLiteral("ftp.example.de"));
    QCOMPARE(store.read(QStringLiteral("FTPFirewallhost")), QStringLiteral("proxy"));
    QCOMPARE(store.read(QStringLiteral("FTPPassive")), QStringLiteral("1"));
    QCOMPARE(store.read(QStringLiteral("FTPDelete")), QString());
}

void TestSettings::iniValuesWrittenByQSettingsComeBackExactly_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("comma") << "a,b";
    QTest::newRow("comma-blank") << "Meine Site, neu";
    QTest::newRow("semicolon") << "geheim;1";
    QTest::newRow("leading-blanks") << "  /srv/site";
    QTest::newRow("trailing-blank") << "pass ";
    QTest::newRow("quotes") << "\"quoted\"";
    QTest::newRow("equals-and-hash") << "a=b#c";
    QTest::newRow("umlauts") << "/home/jörg/Übersicht";
    QTest::newRow("at-sign") << "@Variant(x)";
    QTest::newRow("backslashes") << "C:\\site\\";
}

void TestSettings::iniValuesWrittenByQSettingsComeBackExactly()
{
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vellumix.ini"));
    {
        QSettings writer(path, QSettings::IniFormat);
        writer.setValue(QStringLiteral("parcelup/FTPPassword"), value);
    }
    IniSettingsStore store(path);
    QCOMPARE(store.read(QStringLiteral("FTPPassword")), value);
}

void TestSettings::iniMissingFileReadsEmpty()
{
    QTemporaryDir dir;
    IniSettingsStore store(dir.filePath(QStringLiteral("missing.ini")));
    QCOMPARE(store.read(QStringLiteral("FTPHost")), QString());
    QCOMPARE(IniSettingsStore::defaultPath(),
             mFolders->configHome() + QStringLiteral("/vellumix/vellumix.ini"));
}

void TestSettings::secondInstanceReadsNothing()
{
    QTemporaryDir dir;
    const QString lockPath = dir.filePath(QStringLiteral("parcelup.lock"));
    InstanceGuard first(lockPath);
    QVERIFY(first.tryAcquire());

    InstanceGuard second(lockPath);
    RecordingSettings source(Values{{"FTPHost", "ftp.example.de"}});
    QStringList warnings;
    const StartOutcome outcome =
        Main(second, source, [&](const QString &text) { warnings << text; });
    QCOMPARE(outcome, StartOutcome::AnotherInstanceRunning);
    QCOMPARE(warnings, QStringList{QStringLiteral(
                           "Es wird bereits eine Instanz dieses Programms ausgeführt.")});
    QVERIFY(source.reads.isEmpty());
    QCOMPARE(classUploadTestAccess::ftp().host(), QString());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
