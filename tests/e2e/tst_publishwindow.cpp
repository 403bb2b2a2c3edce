#include "formftpprogress.h"
#include "ftpcertificatecheck.h"
#include "ftpcertificatestore.h"
#include "ftpcontrol.h"
#include "sessionaccess.h"
#include "sessionpublication.h"
#include "sitefixture.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using Access = classUploadTestAccess;

namespace {

// The real component, counting the disconnections the run asks for.
class CountingFtp : public FtpControl
{
public:
    void Disconnect() override
    {
        ++disconnects;
        FtpControl::Disconnect();
    }
    int disconnects = 0;
};

// Answers the window's next question as the user would: clicks the button of that caption, presses
// Escape or Enter, or closes the window instead ("Close"). Keeps what the box asked and whether
// "Nein" was its default.
struct QuestionAnswerer : QTimer
{
    explicit QuestionAnswerer(const QString &answer)
    {
        connect(this, &QTimer::timeout, this, [this, answer] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            stop();
            question = box->text();
            defaultIsNein = box->defaultButton() && box->defaultButton()->text() == "Nein";
            if (answer == "Escape" || answer == "Enter")
                QTest::keyClick(box, answer == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
            if (answer == "Close")
                box->parentWidget()->close();
            for (QAbstractButton *button : box->buttons())
                if (button->text() == answer)
                    button->click();
        });
        start(20);
    }
    QString question;
    bool defaultIsNein = false;
};

} // namespace

// Whole runs in the real progress window against a real server, reading the result from the
// window's controls as the user sees them.
class TestPublishWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void outcomes_data();
    void outcomes();
    void massDeletionAsksFirst_data();
    void massDeletionAsksFirst();
    void changedCertificateAsksFirst_data();
    void changedCertificateAsksFirst();
    void previewListsInTheWindow();

private:
    void publishOnce(bool deleteRemote, bool previewOnly = false);

    void startServer(const TestFtpServer::Options &options);
    // The suite's server of that kind, for the cases that keep its default options.
    void useSuiteServer(TestFtpServer::Kind kind = TestFtpServer::Kind::Pyftpdlib);
    QString site() const { return mPublication->site(); }
    TestFtpServer &server() { return mPublication->server(); }

    std::unique_ptr<SessionPublication> mPublication;
    QPointer<FormFTPProgress> mWindow;
    CountingFtp *mFtp = nullptr;
    SuiteFtpServers mServers;
};

void TestPublishWindow::init()
{
    mPublication = std::make_unique<SessionPublication>();
    Access::fresh();
    mFtp = new CountingFtp;
    classUpload::instance().useFtpComponent(std::unique_ptr<FtpControl>(mFtp));
    mWindow = new FormFTPProgress(classUpload::instance().control(), QString());
    classUpload::setViewProvider([this](RunControl &) -> UploadView & { return *mWindow; });
}

void TestPublishWindow::cleanup()
{
    classUpload::setViewProvider(nullptr);
    delete mWindow;
    mPublication.reset();
    QLocale::setDefault(QLocale::c());
}

void TestPublishWindow::startServer(const TestFtpServer::Options &options)
{
    QString error;
    QVERIFY2(mPublication->startServer(options, &error), qPrintable(error));
}

void TestPublishWindow::useSuiteServer(TestFtpServer::Kind kind)
{
    QString error;
    QVERIFY2(mPublication->useSuiteServer(mServers, kind, &error), qPrintable(error));
}

void TestPublishWindow::outcomes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("connectPicture");
    QTest::addColumn<bool>("showButton");
    QTest::addColumn<int>("disconnects");
    for (const TestFtpServer::Kind kind : TestFtpServer::kinds()) {
        const QByteArray name = TestFtpServer::kindName(kind).toUtf8();
        QTest::newRow(QByteArray(name + "-success").constData())
            << int(kind) << "success"
            << "Übertragung fehlerfrei abgeschlossen."
            << "Schritt erledigt" << true << 1;
        QTest::newRow(QByteArray(name + "-wrong-password").constData())
            << int(kind) << "password"
            << "Benutzername/Kennwort falsch."
            << "Schritt fehlgeschlagen" << false << 0;
    }
    QTest::newRow("nothing-listening")
        << int(TestFtpServer::Kind::Pyftpdlib) << "port"
        << "Die Verbindung zum FTP-Server \"%1\" konnte nicht hergestellt werden."
        << "Schritt fehlgeschlagen" << false << 0;
    QTest::newRow("all-empty") << int(TestFtpServer::Kind::Pyftpdlib) << "empty"
                               << "Kein Username angegeben."
                               << "Schritt ausstehend" << false << 0;
}

void TestPublishWindow::outcomes()
{
    QFETCH(int, kind);
    QFETCH(QString, what);
    QFETCH(QString, message);
    QFETCH(QString, connectPicture);
    QFETCH(bool, showButton);
    QFETCH(int, disconnects);

    // The case that stops its server needs one of its own.
    if (what == QLatin1String("port")) {
        TestFtpServer::Options options;
        options.kind = TestFtpServer::Kind(kind);
        startServer(options);
    } else {
        useSuiteServer(TestFtpServer::Kind(kind));
    }
    const QString host = server().host();
    if (what == QLatin1String("port")) {
        server().stop();
        message = message.arg(host);
    }
    // Numbers in the summary follow the user's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    classUpload &session = classUpload::instance();
    mPublication->configure(session);
    session.FTPHost(host); // as it was before a stop
    if (what == QLatin1String("empty")) {
        session.LocalBaseDir(QString());
        session.FTPHost(QString());
        session.FTPLogonName(QString());
    }
    if (what == QLatin1String("password"))
        session.FTPLogonPassword(QStringLiteral("falsch"));
    session.MagicUpload();

    const auto text = [this](const char *name) {
        return mWindow->findChild<QLabel *>(QLatin1String(name))->text();
    };
    // The whole message, also where the label breaks it into lines.
    QCOMPARE(mWindow->findChild<QLabel *>(QStringLiteral("lblError"))->accessibleName(), message);
    QCOMPARE(mWindow->findChild<QWidget *>(QStringLiteral("imgConnect"))->accessibleName(),
             connectPicture);
    QCOMPARE(mWindow->findChild<QPushButton *>(QStringLiteral("cmdShow"))->isVisibleTo(mWindow),
             showButton);
    QVERIFY(mWindow->findChild<QWidget *>(QStringLiteral("FrameResult"))->isVisibleTo(mWindow));
    QVERIFY(!mWindow->findChild<QWidget *>(QStringLiteral("FrameWait"))->isVisibleTo(mWindow));
    QVERIFY(mWindow->isVisible());
    QCOMPARE(mFtp->disconnects, disconnects);

    if (what == QLatin1String("success")) {
        const QMap<QString, QByteArray> local = SiteFixture::read(site());
        QCOMPARE(mPublication->serverFiles(), SiteFixture::expectedOnServer(local));
        qint64 bytes = 0;
        for (const QByteArray &content : local)
            bytes += content.size();
        QCOMPARE(text("lblKB"), QStringLiteral("8 Dateien (%1 KB)").arg(bytes / 1000));
    } else {
        QCOMPARE(text("lblKB"), QStringLiteral("0 Dateien (0 KB)"));
        QCOMPARE(text("lblSpeed"), QStringLiteral("0,00 KB/Sekunde"));
    }
}

void TestPublishWindow::publishOnce(bool deleteRemote, bool previewOnly)
{
    // Each run of the program has a session and a window of its own.
    classUpload::setViewProvider(nullptr);
    delete mWindow;
    Access::fresh();
    mFtp = new CountingFtp;
    classUpload::instance().useFtpComponent(std::unique_ptr<FtpControl>(mFtp));
    mWindow = new FormFTPProgress(classUpload::instance().control(), QString());
    classUpload::setViewProvider([this](RunControl &) -> UploadView & { return *mWindow; });

    classUpload &session = classUpload::instance();
    mPublication->configure(session);
    session.FTPDelete(deleteRemote);
    session.setPreviewOnly(previewOnly);
    session.MagicUpload();
}

void TestPublishWindow::massDeletionAsksFirst_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<int>("errorId");
    QTest::newRow("ja") << "Ja" << true << 0;
    QTest::newRow("nein") << "Nein" << false << 0;
    QTest::newRow("escape-says-nein") << "Escape" << false << 0;
    QTest::newRow("enter-takes-the-default-nein") << "Enter" << false << 0;
    // Closing the window while it asks cancels the run: nothing is deleted, nothing uploaded.
    QTest::newRow("closing-the-window-cancels") << "Close" << false << 2004;
}

void TestPublishWindow::massDeletionAsksFirst()
{
    QFETCH(QString, answer);
    QFETCH(bool, deleted);
    QFETCH(int, errorId);
    QVERIFY(QDir(site()).removeRecursively());
    QMap<QString, QByteArray> pages;
    for (int i = 1; i <= 30; ++i)
        pages.insert(QStringLiteral("seite%1.html").arg(i, 2, 10, QLatin1Char('0')), "<p>");
    SiteFixture::write(site(), pages);
    useSuiteServer();
    publishOnce(true);
    QCOMPARE(Access::state().errorId, 0);

    // The site builder left only five pages behind, and a changed one.
    for (int i = 1; i <= 25; ++i)
        QVERIFY(QFile::remove(site() +
                              QStringLiteral("/seite%1.html").arg(i, 2, 10, QLatin1Char('0'))));
    SiteFixture::write(site(), {{QStringLiteral("seite30.html"), "<p>neu</p>"}});

    QuestionAnswerer user(answer);
    publishOnce(true);

    QCOMPARE(user.question,
             QStringLiteral("Es würden 25 von 30 Dateien auf dem Server gelöscht. Ist der "
                            "Site-Ordner vollständig? Mit „Nein“ wird nichts gelöscht, nur "
                            "hochgeladen."));
    QVERIFY(user.defaultIsNein);
    // Either answer lets the upload go ahead, and the user's answer is no failure.
    QCOMPARE(Access::state().errorId, errorId);
    const auto onServer = mPublication->serverFiles();
    QCOMPARE(onServer.value(QStringLiteral("seite30.html")),
             QByteArray(errorId ? "<p>" : "<p>neu</p>"));
    QCOMPARE(onServer.contains(QStringLiteral("seite01.html")), !deleted);
    QCOMPARE(onServer.size(), deleted ? 6 : 31);
}

void TestPublishWindow::changedCertificateAsksFirst_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("ja") << "Ja" << true;
    QTest::newRow("nein") << "Nein" << false;
    QTest::newRow("escape-says-nein") << "Escape" << false;
}

// The host renewed its self-signed certificate: the window asks before anything is sent, with
// what the user needs to judge it. "Ja" trusts the new one and publishes; "Nein" ends the run
// with its own message and leaves the old one trusted.
void TestPublishWindow::changedCertificateAsksFirst()
{
    QFETCH(QString, answer);
    QFETCH(bool, accepted);
    QTemporaryDir certificates;
    TestFtpServer::Options options;
    options.tls = TestFtpServer::Tls::Explicit;
    const auto serve = [&](const char *name) {
        QString error;
        QVERIFY2(TestFtpServer::createSelfSignedCertificate(certificates.path(), name, &options,
                                                            &error) &&
                     mPublication->startServer(options, &error),
                 qPrintable(error));
        options.port = server().port();
    };
    serve("ftp.test");
    publishOnce(false);
    server().stop();
    serve("ftp.renewed.test");
    const FtpCertificateStore store(mPublication->userFolders().stateHome() +
                                    QStringLiteral("/vellumix/parcelup/known-certificates"));
    const QByteArray pinned = store.fingerprint(QStringLiteral("127.0.0.1"), options.port).value();
    QFile pem(options.certificate);
    QVERIFY(pem.open(QIODevice::ReadOnly));
    const QByteArray renewed = QSslCertificate(&pem).digest(QCryptographicHash::Sha256).toHex();
    const auto published = mPublication->serverFiles();
    SiteFixture::write(site(), {{QStringLiteral("index.html"), "<p>erneuert</p>"}});

    QuestionAnswerer user(answer);
    publishOnce(false);
    const QString shown = FtpCertificateCheck::readable(renewed);
    const QString before = FtpCertificateCheck::readable(pinned);
    for (const QString &part : QStringList{
             QStringLiteral("Das Zertifikat des FTP-Servers \"%1\" ist ein anderes")
                 .arg(server().host()),
             "Neues Zertifikat (SHA-256):\n" + shown.left(47) + '\n' + shown.mid(48),
             "Bisher vertraut (SHA-256):\n" + before.left(47) + '\n' + before.mid(48),
             QStringLiteral("Ausgestellt für: ftp.renewed.test\nAusgestellt von: ftp.renewed.test"),
             QStringLiteral("Gültig vom ")})
        QVERIFY2(user.question.contains(part), qPrintable(user.question));
    QVERIFY(user.defaultIsNein);
    const auto onServer = mPublication->serverFiles();
    QCOMPARE(store.fingerprint(QStringLiteral("127.0.0.1"), options.port),
             accepted ? renewed : pinned);
    QCOMPARE(onServer.value(QStringLiteral("index.html")),
             accepted ? QByteArray("<p>erneuert</p>") : published.value("index.html"));
    QCOMPARE(Access::state().errorText,
             accepted ? QString()
                      : QStringLiteral("Das neue Zertifikat des FTP-Servers \"%1\" wurde nicht "
                                       "angenommen. Es wurde nichts übertragen.")
                            .arg(server().host()));
}

void TestPublishWindow::previewListsInTheWindow()
{
    useSuiteServer();
    publishOnce(true, true);
    QCOMPARE(Access::state().errorId, 0);
    auto *list = mWindow->findChild<QPlainTextEdit *>(QStringLiteral("lstPreview"));
    QVERIFY(list && list->isVisibleTo(mWindow));
    QVERIFY(list->toPlainText().contains(QStringLiteral("Würde übertragen: /htdocs/index.html (")));
    QVERIFY(!mWindow->findChild<QWidget *>(QStringLiteral("lblKB"))->isVisibleTo(mWindow));
    QVERIFY(mWindow->findChild<QLabel *>(QStringLiteral("lblError"))
                ->accessibleName()
                .startsWith(QStringLiteral("Vorschau: 8 Dateien")));
    QVERIFY(SiteFixture::read(mPublication->serverRoot()).isEmpty());
}

QTEST_MAIN(TestPublishWindow)
#include "tst_publishwindow.moc"
