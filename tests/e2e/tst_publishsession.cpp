#include "ftpcontrol.h"
#include "recordingview.h"
#include "sessionaccess.h"
#include "sessionpublication.h"
#include "sitefixture.h"
#include "sitetree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using Access = classUploadTestAccess;

namespace {

struct Outcome
{
    int errorId = 0;
    QString errorText;
    int filesDone = 0;
    QString resultCaption;
    QString kbCaption;
    int resultPicture = 0;
    bool showButtonVisible = false;
    // The steps in the order the view was told of them: "+name" started, "name" done, "-name"
    // failed.
    QStringList steps;
    std::optional<RunOutcome> runOutcome;
};

QString stepName(RunStep step)
{
    switch (step) {
    case RunStep::Prepare:
        return QStringLiteral("prepare");
    case RunStep::Connect:
        return QStringLiteral("connect");
    case RunStep::Transfer:
        break;
    }
    return QStringLiteral("transfer");
}

// Records the steps' events in one list, since their interleaving is what the faces show.
class StepRecordingView : public RecordingView
{
public:
    using RecordingView::RecordingView;
    void stepStarted(RunStep step) override
    {
        steps << QLatin1Char('+') + stepName(step);
        RecordingView::stepStarted(step);
    }
    void stepEnded(RunStep step, bool succeeded) override
    {
        steps << (succeeded ? QString() : QStringLiteral("-")) + stepName(step);
        RecordingView::stepEnded(step, succeeded);
    }
    QStringList steps;
};

} // namespace

// Publications of generated sites through the whole session, against real FTP servers; the server's
// folder is then compared with the site file by file.
class TestPublishSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstPublicationMirrorsTheSite_data();
    void firstPublicationMirrorsTheSite();
    void unchangedSiteUploadsOnlyTheLog_data();
    void unchangedSiteUploadsOnlyTheLog();
    void deletedLocallyIsDeletedOnTheServer_data();
    void deletedLocallyIsDeletedOnTheServer();
    void craftedOldLogCannotLeaveTheBaseFolder_data();
    void craftedOldLogCannotLeaveTheBaseFolder();
    void firstRunToAFilledServerDeletesNothing_data();
    void firstRunToAFilledServerDeletesNothing();
    void unpublishableNamesFailTheRunAfterTheRest_data();
    void unpublishableNamesFailTheRunAfterTheRest();
    void otherFailureKeepsItsReason_data();
    void otherFailureKeepsItsReason();

private:
    void startServer(TestFtpServer::Tls tls = TestFtpServer::Tls::None);
    Outcome publish(bool deleteRemote = false, bool passive = true,
                    const QString &password = QString());
    QString serverBase() const { return mPublication->serverBase(); }
    QMap<QString, QByteArray> serverFiles() const { return mPublication->serverFiles(); }
    QMap<QString, QByteArray> expected() const { return mPublication->expectedOnServer(); }
    QString site() const { return mPublication->site(); }
    TestFtpServer &server() { return mPublication->server(); }

    std::unique_ptr<SessionPublication> mPublication;
    QTemporaryDir mCertificates;
    SuiteFtpServers mServers; // for the cases on plain servers with the default options
};

void TestPublishSession::init()
{
    mPublication = std::make_unique<SessionPublication>();
}

void TestPublishSession::cleanup()
{
    mPublication.reset();
}

void TestPublishSession::startServer(TestFtpServer::Tls tls)
{
    QFETCH(int, kind);
    TestFtpServer::Options options;
    options.kind = TestFtpServer::Kind(kind);
    options.tls = tls;
    QString error;
    if (tls == TestFtpServer::Tls::None) {
        QVERIFY2(mPublication->useSuiteServer(mServers, options.kind, &error), qPrintable(error));
        return;
    }
    QVERIFY2(TestFtpServer::createSelfSignedCertificate(
                 mCertificates.path(), QStringLiteral("localhost"), &options, &error),
             qPrintable(error));
    QVERIFY2(mPublication->startServer(options, &error), qPrintable(error));
}

Outcome TestPublishSession::publish(bool deleteRemote, bool passive, const QString &password)
{
    classUpload &session = Access::fresh();
    StepRecordingView view(true);
    view.install();
    mPublication->configure(session);
    if (!password.isEmpty())
        session.FTPLogonPassword(password);
    session.FTPDisablePasv(passive);
    session.FTPDelete(deleteRemote);
    session.MagicUpload();
    Access::closeDebugLog();
    const SessionState state = Access::state();
    return {state.errorId,
            state.errorText,
            state.filesDone,
            view.caption(ViewLabel::lblError),
            view.caption(ViewLabel::lblKB),
            view.picture(ViewPicture::imgError),
            view.showButtonVisible,
            view.steps,
            view.outcome};
}

void TestPublishSession::firstPublicationMirrorsTheSite_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("passive");
    QTest::addColumn<int>("tls");
    const int plain = int(TestFtpServer::Tls::None);
    // A bare host name: the TLS rows upgrade on their own because the server offers TLS.
    const int forced = int(TestFtpServer::Tls::Forced);
    QTest::newRow("pyftpdlib-passive") << int(TestFtpServer::Kind::Pyftpdlib) << true << plain;
    QTest::newRow("pyftpdlib-active") << int(TestFtpServer::Kind::Pyftpdlib) << false << plain;
    QTest::newRow("pyftpdlib-tls-passive") << int(TestFtpServer::Kind::Pyftpdlib) << true << forced;
    if (TestFtpServer::vsftpdAvailable()) {
        QTest::newRow("vsftpd-passive") << int(TestFtpServer::Kind::Vsftpd) << true << plain;
        QTest::newRow("vsftpd-active") << int(TestFtpServer::Kind::Vsftpd) << false << plain;
        QTest::newRow("vsftpd-tls-passive") << int(TestFtpServer::Kind::Vsftpd) << true << forced;
        QTest::newRow("vsftpd-tls-active") << int(TestFtpServer::Kind::Vsftpd) << false << forced;
    }
}

void TestPublishSession::firstPublicationMirrorsTheSite()
{
    QFETCH(bool, passive);
    QFETCH(int, tls);
    startServer(TestFtpServer::Tls(tls));
    const Outcome outcome = publish(false, passive);
    QCOMPARE(outcome.errorText, QString());
    QCOMPARE(outcome.resultCaption, QStringLiteral("Übertragung fehlerfrei abgeschlossen."));
    QCOMPARE(serverFiles(), expected());
    // Seven site files and the upload log.
    QCOMPARE(outcome.filesDone, 8);
    QVERIFY(serverFiles().contains(QStringLiteral("seiten/a/b/c/tief.html")));
    // The transfer step is never marked done: the result takes its place.
    QCOMPARE(outcome.steps,
             (QStringList{"+prepare", "prepare", "+connect", "connect", "+transfer"}));
    QCOMPARE(outcome.runOutcome, std::optional<RunOutcome>(RunOutcome::Succeeded));
    QVERIFY(outcome.showButtonVisible);

    // The debug log says how the connection was protected, and never holds the password.
    QFile log(QCoreApplication::applicationDirPath() + QStringLiteral("/parcelup.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString transcript = QString::fromUtf8(log.readAll());
    if (tls == int(TestFtpServer::Tls::None)) {
        QVERIFY2(transcript.startsWith(QStringLiteral("# Logged in to ")),
                 qPrintable(transcript.left(300)));
        QVERIFY(transcript.contains(QStringLiteral("plain FTP without encryption")));
    } else {
        QVERIFY2(transcript.contains(QStringLiteral("TLSv1.")), qPrintable(transcript.left(300)));
        QVERIFY(transcript.contains(QStringLiteral("certificate SHA-256 ")));
    }
    QVERIFY(!transcript.contains(server().password()));
    QVERIFY(serverFiles().contains(QStringLiteral("bilder/logo.png")));
}

void TestPublishSession::unchangedSiteUploadsOnlyTheLog_data()
{
    TestFtpServer::addKindRows();
}

void TestPublishSession::unchangedSiteUploadsOnlyTheLog()
{
    startServer();
    QCOMPARE(publish().errorId, 0);

    Outcome again = publish();
    QCOMPARE(again.errorId, 0);
    QCOMPARE(again.filesDone, 1);
    QVERIFY2(again.kbCaption.startsWith(QStringLiteral("1 Dateien (")),
             qPrintable(again.kbCaption));

    // A changed file goes up again, and only it (with the log).
    QFile changed(site() + QStringLiteral("/seiten/kontakt.html"));
    QVERIFY(changed.open(QIODevice::WriteOnly | QIODevice::Truncate));
    changed.write("<p>Neue Adresse</p>");
    changed.close();
    again = publish();
    QCOMPARE(again.filesDone, 2);
    QCOMPARE(serverFiles().value(QStringLiteral("seiten/kontakt.html")),
             QByteArray("<p>Neue Adresse</p>"));
    QCOMPARE(serverFiles(), expected());
}

void TestPublishSession::deletedLocallyIsDeletedOnTheServer_data()
{
    TestFtpServer::addKindRows();
}

void TestPublishSession::deletedLocallyIsDeletedOnTheServer()
{
    startServer();
    QCOMPARE(publish(true).errorId, 0);
    // Something placed on the server by other means, in a folder that is about to disappear.
    SiteFixture::write(serverBase(), {{QStringLiteral("fremd.txt"), "not ours"},
                                      {QStringLiteral("seiten/a/fremd.txt"), "not ours either"}});
    QVERIFY(server().handOver(serverBase()));

    QVERIFY(QFile::remove(site() + QStringLiteral("/index.html")));
    QVERIFY(QDir(site() + QStringLiteral("/Bilder")).removeRecursively());
    QVERIFY(QDir(site() + QStringLiteral("/seiten/a")).removeRecursively());

    const Outcome outcome = publish(true);
    QCOMPARE(outcome.errorText, QString());
    auto wanted = expected();
    wanted.insert(QStringLiteral("fremd.txt"), "not ours");
    wanted.insert(QStringLiteral("seiten/a/"), QByteArray());
    wanted.insert(QStringLiteral("seiten/a/fremd.txt"), "not ours either");
    // The emptied folders below seiten/a went inner first; seiten/a itself stays, as it is not
    // empty.
    QCOMPARE(serverFiles(), wanted);
    QVERIFY(serverFiles().contains(QStringLiteral("vellumixftplog.log")));
}

void TestPublishSession::craftedOldLogCannotLeaveTheBaseFolder_data()
{
    TestFtpServer::addKindRows();
}

void TestPublishSession::craftedOldLogCannotLeaveTheBaseFolder()
{
    startServer();
    // Files next to the base folder, and an old log that points at them.
    SiteFixture::write(mPublication->serverRoot(),
                       {{QStringLiteral("geheim.txt"), "g"},
                        {QStringLiteral("privat/daten.txt"), "d"},
                        {QStringLiteral("htdocs/vellumixftplog.log"),
                         "..\\\r\ngeheim.txt\r\n..\\privat\\\r\ndaten.txt\r\n\\\r\n"
                         "..\\geheim.txt\r\n../geheim.txt\r\nx/../../geheim.txt\r\n"}});
    QVERIFY(server().handOver(mPublication->serverRoot()));
    QCOMPARE(publish(true).errorId, 0);
    const auto all = SiteFixture::read(mPublication->serverRoot());
    QCOMPARE(all.value(QStringLiteral("geheim.txt")), QByteArray("g"));
    QCOMPARE(all.value(QStringLiteral("privat/daten.txt")), QByteArray("d"));
    QVERIFY(all.contains(QStringLiteral("privat/")));
}

void TestPublishSession::firstRunToAFilledServerDeletesNothing_data()
{
    TestFtpServer::addKindRows();
}

void TestPublishSession::firstRunToAFilledServerDeletesNothing()
{
    startServer();
    SiteFixture::write(
        serverBase(), {{QStringLiteral("alt/seite.html"), "old"}, {QStringLiteral("x.html"), "x"}});
    QVERIFY(server().handOver(serverBase()));
    QCOMPARE(publish(true).errorId, 0);
    auto wanted = expected();
    wanted.insert(QStringLiteral("alt/"), QByteArray());
    wanted.insert(QStringLiteral("alt/seite.html"), "old");
    wanted.insert(QStringLiteral("x.html"), "x");
    QCOMPARE(serverFiles(), wanted);
}

void TestPublishSession::unpublishableNamesFailTheRunAfterTheRest_data()
{
    TestFtpServer::addKindRows();
}

void TestPublishSession::unpublishableNamesFailTheRunAfterTheRest()
{
    startServer();
    const auto ordinary = SiteFixture::read(site());
    MakeRawSiteTree(site(), {"seiten/caf\xE9.html=x", "Bilder/a\\b.png=y", "alt\xE9/z.html",
                             "zeile\numbruch.html", ".versteckt\xE9"});
    const Outcome outcome = publish(true);

    const QString names = QStringLiteral("„Bilder/a\\b.png“, „seiten/caf\\xE9.html“, …");
    QCOMPARE(outcome.errorId, 4501);
    QCOMPARE(
        outcome.errorText,
        QStringLiteral("4 Dateien und Ordner wurden nicht veröffentlicht, weil ihre Namen nicht "
                       "übertragen werden können: ") +
            names);
    // Shown as any failure: the message, the failure picture, no button to open the site.
    QCOMPARE(outcome.resultCaption, outcome.errorText);
    QCOMPARE(outcome.resultPicture, int(PictureFailed));
    QVERIFY(!outcome.showButtonVisible);
    // The rest of the site is complete on the server: the upload ran to its end.
    auto wanted = SiteFixture::expectedOnServer(ordinary);
    wanted.insert(QStringLiteral("vellumixftplog.log"),
                  SiteFixture::read(site()).value(QStringLiteral("vellumixftplog.log")));
    QCOMPARE(serverFiles(), wanted);
    QCOMPARE(outcome.filesDone,
             std::count_if(wanted.keyBegin(), wanted.keyEnd(),
                           [](const QString &path) { return !path.endsWith(QLatin1Char('/')); }));

    // The debug log lists all four, after the dialogue of the connection that sent the rest.
    QFile log(QCoreApplication::applicationDirPath() + QStringLiteral("/parcelup.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString transcript = QString::fromUtf8(log.readAll());
    const QString note =
        QStringLiteral("Nicht veröffentlicht, weil der Name nicht übertragen werden kann: %1\r\n");
    const QStringList all{"Bilder/a\\b.png", "seiten/caf\\xE9.html", "alt\\xE9/",
                          "zeile\\numbruch.html"};
    for (const QString &path : all)
        QVERIFY2(transcript.contains(note.arg(path)), qPrintable(transcript.right(800)));
    QVERIFY(transcript.indexOf(QStringLiteral("vellumixftplog.log")) <
            transcript.indexOf(note.arg(QStringLiteral("Bilder/a\\b.png"))));
}

void TestPublishSession::otherFailureKeepsItsReason_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("pyftpdlib") << int(TestFtpServer::Kind::Pyftpdlib);
}

// A run that failed for another reason reports that reason, not the names.
void TestPublishSession::otherFailureKeepsItsReason()
{
    startServer();
    MakeRawSiteTree(site(), {"caf\xE9.html"});
    const Outcome outcome = publish(false, true, QStringLiteral("falsch"));
    QCOMPARE(outcome.errorId, 2005);
    QCOMPARE(outcome.resultCaption, QStringLiteral("Benutzername/Kennwort falsch."));
    QCOMPARE(outcome.steps, (QStringList{"+prepare", "prepare", "+connect", "-connect"}));
    QCOMPARE(outcome.runOutcome, std::optional<RunOutcome>(RunOutcome::Failed));
}

QTEST_GUILESS_MAIN(TestPublishSession)
#include "tst_publishsession.moc"
