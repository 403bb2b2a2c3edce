#include "animationarea.h"
#include "ftpcomponenthost.h"
#include "messagelabel.h"
#include "pathfield.h"
#include "picturebox.h"
#include "programexit.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <limits>

namespace {

QString sourceFile(const char *relative)
{
    return qEnvironmentVariable("PARCELUP_SOURCE_DIR") + QLatin1Char('/') + QLatin1String(relative);
}

// Counts the pixels of a widget's picture that have about the given colour.
int pixelsLike(QWidget *widget, const QColor &colour)
{
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                    std::abs(pixel.blue() - colour.blue()) <
                40)
                ++count;
        }
    return count;
}

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

} // namespace

class TestFormFTPProgress : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void createdHiddenWithTimerRunning();
    void clip_data();
    void clip();
    void centredWhenFirstShown();

    void escape_data();
    void escape();
    void enter_data();
    void enter();
    void showButtonOpensTheRemoteAddress();
    void failedChecksShowTheResultWithoutShowButton();
    void focusLeavesTheFileField_data();
    void focusLeavesTheFileField();
    void tabOrder();

    void cancelChangesTheTitleBeforeTheRunWindsDown();
    void closingEndsAPendingWait();
    void closeButtonEndsTheProgram();
    void endProgramHidesTheWindow();

    void pictures_data();
    void pictures();
    void boldAndCaptions();
    void panels();
    void progress_data();
    void progress();
    void accessibleNames_data();
    void accessibleNames();
    void everyControlHasAnAccessibleName();

private:
    void showAndActivate();

    WindowFixture f;
    UrlRecorder urls;
};

void TestFormFTPProgress::init()
{
    f.create();
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &urls, "open");
    urls.opened.clear();
}

void TestFormFTPProgress::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    f.destroy();
}

void TestFormFTPProgress::showAndActivate()
{
    f.window->show();
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window));
}

void TestFormFTPProgress::createdHiddenWithTimerRunning()
{
    QVERIFY(f.window->isHidden());
    QCOMPARE(f.window->windowTitle(), "Site veröffentlichen");
    QVERIFY(!f.window->windowIcon().isNull());
    QCOMPARE(f.window->minimumSize(), QSize(392, 212));
    QCOMPARE(f.window->maximumSize(), QSize(392, 212));
    // The component and the watchdog belong to the session; the timer ticks once a second from
    // the moment the component is first needed, window or not.
    QVERIFY(!f.window->findChild<FtpControl *>());
    QVERIFY(!f.window->findChild<QTimer *>(QStringLiteral("WatchDogTimer")));
    QTimer &timer = classUpload::instance().ftpHost().watchDogTimer();
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), 1000);
    QCOMPARE(&classUpload::instance().ftpHost().component(), static_cast<FtpControl *>(f.ftp));
    QCOMPARE(f.ftp->objectName(), "ftpcontrol");
    QVERIFY(f.control<QWidget>("FrameWait")->isVisibleTo(f.window));
    QVERIFY(!f.control<QWidget>("FrameResult")->isVisibleTo(f.window));
}

void TestFormFTPProgress::clip_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("playing");
    QTest::newRow("our-clip") << sourceFile("resources/ftp.dat") << true;
    QTest::newRow("missing") << sourceFile("resources/no-such-clip.dat") << false;
    QTest::newRow("not-a-clip") << sourceFile("resources/strings.txt") << false;
    QTest::newRow("a-folder") << sourceFile("resources") << false;
}

void TestFormFTPProgress::clip()
{
    QFETCH(QString, path);
    QFETCH(bool, playing);
    f.destroy();
    f.create(path);
    auto *animation = f.control<AnimationArea>("Animation");
    QCOMPARE(animation->isPlaying(), playing);
    // Drawing an empty area must work as well as drawing a frame.
    QVERIFY(!animation->grab().isNull());
}

void TestFormFTPProgress::centredWhenFirstShown()
{
    f.window->showNonModal();
    const QRect screen = f.window->screen()->availableGeometry();
    QVERIFY2((f.window->geometry().center() - screen.center()).manhattanLength() <= 2,
             qPrintable(QStringLiteral("window at %1,%2")
                            .arg(f.window->geometry().x())
                            .arg(f.window->geometry().y())));
    // Later showings leave it where it is.
    f.window->move(10, 20);
    f.window->hide();
    f.window->showNonModal();
    QCOMPARE(f.window->pos(), QPoint(10, 20));
}

void TestFormFTPProgress::escape_data()
{
    QTest::addColumn<bool>("runEnded");
    QTest::newRow("during-the-run-cancels") << false;
    QTest::newRow("after-the-run-closes") << true;
}

void TestFormFTPProgress::escape()
{
    QFETCH(bool, runEnded);
    showAndActivate();
    if (runEnded) {
        f.window->setPanelVisible(ViewPanel::FrameResult, true);
        f.window->setPanelVisible(ViewPanel::FrameWait, false);
        f.window->makeCloseTheCancelButton();
    }
    QSignalSpy cancel(f.control<QPushButton>("cmdCancelBuild"), &QPushButton::clicked);
    QSignalSpy close(f.control<QPushButton>("cmdClose"), &QPushButton::clicked);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);

    QVERIFY(classUploadTestAccess::state().aborted);
    QCOMPARE(classUploadTestAccess::state().errorId, 2004);
    if (runEnded) {
        QCOMPARE(close.count(), 1);
        QCOMPARE(cancel.count(), 0);
        QVERIFY(f.window->isHidden());
        QCOMPARE(RequestedProgramExit(), std::optional<int>(0));
    } else {
        QCOMPARE(cancel.count(), 1);
        QCOMPARE(close.count(), 0);
        QVERIFY(f.window->isVisible());
        QCOMPARE(f.window->windowTitle(), "Wird abgebrochen");
        // The request to end the program cannot be taken back, so this holds only because no
        // earlier test of this file ends the program.
        QVERIFY(!RequestedProgramExit());
    }
}

void TestFormFTPProgress::enter_data()
{
    QTest::addColumn<bool>("showVisible");
    QTest::addColumn<QString>("focused");
    QTest::addColumn<int>("opened");
    QTest::newRow("show-visible-focus-on-show") << true << "cmdShow" << 1;
    QTest::newRow("show-visible-focus-on-close") << true << "cmdClose" << 1;
    QTest::newRow("show-hidden") << false << "cmdClose" << 0;
}

void TestFormFTPProgress::enter()
{
    QFETCH(bool, showVisible);
    QFETCH(QString, focused);
    QFETCH(int, opened);
    classUploadTestAccess::session().RemoteURL(QStringLiteral("www.example.de"));
    showAndActivate();
    f.window->setShowButtonVisible(showVisible);
    f.window->setPanelVisible(ViewPanel::FrameResult, true);
    f.window->setPanelVisible(ViewPanel::FrameWait, false);
    f.window->makeCloseTheCancelButton();
    f.window->findChild<QPushButton *>(focused)->setFocus();
    QSignalSpy close(f.control<QPushButton>("cmdClose"), &QPushButton::clicked);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);

    QCOMPARE(urls.opened.size(), 2 * opened);
    // Enter never presses the close button, not even when it has the focus.
    QCOMPARE(close.count(), 0);
    QVERIFY(f.window->isVisible());
}

void TestFormFTPProgress::showButtonOpensTheRemoteAddress()
{
    classUploadTestAccess::session().RemoteURL(QStringLiteral("www.example.de/verein/"));
    f.control<QPushButton>("cmdShow")->click();
    QCOMPARE(urls.opened, QList<QUrl>{QUrl(QStringLiteral("http://www.example.de/verein/"))});
}

void TestFormFTPProgress::failedChecksShowTheResultWithoutShowButton()
{
    // Nothing configured: the run fails its checks and shows the result at once.
    classUploadTestAccess::session().RemoteURL(QStringLiteral("www.example.de"));
    classUpload::instance().MagicUpload();

    QVERIFY(f.window->isVisible());
    QVERIFY(f.control<QWidget>("FrameResult")->isVisible());
    QVERIFY(!f.control<QWidget>("FrameWait")->isVisible());
    QVERIFY(!f.control<QPushButton>("cmdShow")->isVisible());
    QVERIFY(f.control<QPushButton>("cmdClose")->isVisible());
    QCOMPARE(f.control<MessageLabel>("lblError")->message(), "Kein Username angegeben.");
    QCOMPARE(f.control<PictureBox>("imgError")->accessibleName(), "Übertragung fehlgeschlagen");
    QVERIFY(!classUpload::instance().ftpHost().watchDogTimer().isActive());
}

void TestFormFTPProgress::focusLeavesTheFileField_data()
{
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("click-into-the-field") << true;
    QTest::newRow("focus-given-by-code") << false;
}

void TestFormFTPProgress::focusLeavesTheFileField()
{
    QFETCH(bool, byMouse);
    f.window->setFileText(QStringLiteral("/htdocs/index.html"));
    showAndActivate();
    auto *field = f.control<PathField>("proFile");
    auto *cancel = f.control<QPushButton>("cmdCancelBuild");
    QCOMPARE(QApplication::focusWidget(), cancel); // first in the focus order
    cancel->clearFocus();
    QVERIFY(!cancel->hasFocus());

    if (byMouse)
        QTest::mouseClick(field->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    else
        field->setFocus(Qt::OtherFocusReason);

    QCOMPARE(QApplication::focusWidget(), cancel);
    QCOMPARE(field->path(), "/htdocs/index.html");
}

void TestFormFTPProgress::tabOrder()
{
    showAndActivate();
    auto *cancel = f.control<QPushButton>("cmdCancelBuild");
    QTest::keyClick(cancel, Qt::Key_Tab);
    // The only other control that could take the focus is the path field, which Tab skips.
    QCOMPARE(QApplication::focusWidget(), cancel);

    f.window->setShowButtonVisible(true);
    f.window->setPanelVisible(ViewPanel::FrameResult, true);
    f.window->setPanelVisible(ViewPanel::FrameWait, false);
    auto *show = f.control<QPushButton>("cmdShow");
    auto *close = f.control<QPushButton>("cmdClose");
    show->setFocus();
    QTest::keyClick(show, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), close);
    QTest::keyClick(close, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), show);
}

void TestFormFTPProgress::cancelChangesTheTitleBeforeTheRunWindsDown()
{
    showAndActivate();
    QString titleWhenAborting;
    f.ftp->onAbort = [&] { titleWhenAborting = f.window->windowTitle(); };
    f.ftp->Connect();
    QTimer::singleShot(0, f.window, [this] { f.control<QPushButton>("cmdCancelBuild")->click(); });
    // A broken button must not hang the test: the deadline records a failure of its own.
    QTimer::singleShot(5000, f.window,
                       [] { classUploadTestAccess::recordFailure(MessageId::TimedOut, {}); });

    classUploadTestAccess::waitForCompletion();

    QCOMPARE(titleWhenAborting, "Wird abgebrochen");
    QCOMPARE(classUploadTestAccess::state().errorId, 2004);
    QCOMPARE(classUploadTestAccess::state().errorText, "Abbruch durch den Benutzer.");
    QVERIFY(f.window->isVisible()); // cancelling does not close the window
}

void TestFormFTPProgress::closingEndsAPendingWait()
{
    showAndActivate();
    f.ftp->Connect();
    QTimer::singleShot(0, f.window, [this] { f.window->close(); });
    QTimer::singleShot(5000, f.window,
                       [] { classUploadTestAccess::recordFailure(MessageId::TimedOut, {}); });

    classUploadTestAccess::waitForCompletion();

    QVERIFY(classUploadTestAccess::state().aborted);
    QCOMPARE(classUploadTestAccess::state().errorId, 2004);
    QCOMPARE(f.ftp->calls, (QStringList{"Connect", "Abort"}));
    QVERIFY(f.window->isHidden());
}

void TestFormFTPProgress::closeButtonEndsTheProgram()
{
    showAndActivate();
    f.window->setPanelVisible(ViewPanel::FrameResult, true);
    f.window->setPanelVisible(ViewPanel::FrameWait, false);
    f.window->setPicture(ViewPicture::imgError, PictureFailed);

    f.control<QPushButton>("cmdClose")->click();

    // The exit status tells a script that the run failed.
    QCOMPARE(RequestedProgramExit(), std::optional<int>(1));
    QVERIFY(f.window->isHidden());
    // Closing went through the close handler, which cancels (without effect after a run).
    QCOMPARE(f.ftp->calls, QStringList{"Abort"});
}

void TestFormFTPProgress::endProgramHidesTheWindow()
{
    showAndActivate();
    f.window->endProgram();
    QCOMPARE(RequestedProgramExit(), std::optional<int>(2));
    QVERIFY(f.window->isHidden());
}

void TestFormFTPProgress::pictures_data()
{
    QTest::addColumn<int>("picture");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("colour");
    const char *names[] = {"imgPrepare", "imgConnect", "imgFile"};
    for (int step = 0; step < 3; ++step) {
        const QByteArray name(names[step]);
        QTest::addRow("%s-running", name.constData())
            << step << 1 << "Schritt läuft" << QColor(0, 0, 128);
        QTest::addRow("%s-done", name.constData())
            << step << 2 << "Schritt erledigt" << QColor(0, 128, 0);
        QTest::addRow("%s-failed", name.constData())
            << step << 3 << "Schritt fehlgeschlagen" << QColor(128, 0, 0);
    }
    const int error = int(ViewPicture::imgError);
    QTest::newRow("imgError-success")
        << error << 2 << "Übertragung erfolgreich" << QColor(0, 128, 0);
    QTest::newRow("imgError-failure")
        << error << 3 << "Übertragung fehlgeschlagen" << QColor(128, 0, 0);
    QTest::newRow("imgError-unknown-number-empties")
        << error << 7 << "Ergebnis ausstehend" << QColor();
}

void TestFormFTPProgress::pictures()
{
    QFETCH(int, picture);
    QFETCH(int, number);
    QFETCH(QString, name);
    QFETCH(QColor, colour);
    const char *objectNames[] = {"imgPrepare", "imgConnect", "imgFile", "imgError"};
    auto *box = f.control<PictureBox>(objectNames[picture]);
    QVERIFY(box->picture().isNull()); // empty until the run sets it

    f.window->setPicture(ViewPicture::imgError, 3); // a different one first
    f.window->setPicture(ViewPicture(picture), number);

    QCOMPARE(box->accessibleName(), name);
    QCOMPARE(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Name), name);
    if (colour.isValid()) {
        QVERIFY2(pixelsLike(box, colour) >= 10, "the picture is not drawn");
    } else {
        QVERIFY(box->picture().isNull());
        QCOMPARE(pixelsLike(box, QColor(128, 0, 0)), 0);
    }
}

void TestFormFTPProgress::boldAndCaptions()
{
    auto *step = f.control<QLabel>("labelConnect");
    QVERIFY(!step->font().bold());
    f.window->setBold(ViewLabel::labelConnect, true);
    QVERIFY(step->font().bold());
    f.window->setBold(ViewLabel::labelConnect, false);
    QVERIFY(!step->font().bold());

    auto *file = f.control<QLabel>("labelFile");
    f.window->setCaption(ViewLabel::labelFile, QStringLiteral("Lösche Ordner:"));
    QCOMPARE(file->text(), "Lösche Ordner:");
    QCOMPARE(QAccessible::queryAccessibleInterface(file)->text(QAccessible::Name),
             "Lösche Ordner:");

    f.window->setCaption(ViewLabel::lblError, QStringLiteral("Benutzername/Kennwort falsch."));
    auto *error = f.control<MessageLabel>("lblError");
    QCOMPARE(error->text(), "Benutzername/Kennwort falsch.");
    QCOMPARE(error->accessibleName(), "Benutzername/Kennwort falsch.");

    f.window->setFileText(QStringLiteral("/htdocs/bilder/logo.png"));
    QCOMPARE(f.control<PathField>("proFile")->path(), "/htdocs/bilder/logo.png");
}

void TestFormFTPProgress::panels()
{
    auto *wait = f.control<QWidget>("FrameWait");
    auto *result = f.control<QWidget>("FrameResult");
    auto *show = f.control<QPushButton>("cmdShow");
    f.window->setPanelVisible(ViewPanel::FrameResult, true);
    f.window->setPanelVisible(ViewPanel::FrameWait, false);
    QVERIFY(result->isVisibleTo(f.window));
    QVERIFY(!wait->isVisibleTo(f.window));
    f.window->setShowButtonVisible(false);
    QVERIFY(!show->isVisibleTo(f.window));
    f.window->setShowButtonVisible(true);
    QVERIFY(show->isVisibleTo(f.window));
    QVERIFY(show->isDefault());
}

void TestFormFTPProgress::progress_data()
{
    QTest::addColumn<float>("percent");
    QTest::addColumn<int>("shown");
    QTest::newRow("whole") << 37.0F << 37;
    QTest::newRow("half-to-even-down") << 42.5F << 42;
    QTest::newRow("half-to-even-up") << 43.5F << 44;
    QTest::newRow("above-100-held") << 130.0F << 100;
    QTest::newRow("below-0-held") << -3.0F << 0;
    QTest::newRow("not-a-number") << std::numeric_limits<float>::quiet_NaN() << 0;
}

void TestFormFTPProgress::progress()
{
    QFETCH(float, percent);
    QFETCH(int, shown);
    f.window->setProgress(percent);
    QCOMPARE(f.control<QProgressBar>("OverAllProgress")->value(), shown);
}

void TestFormFTPProgress::accessibleNames_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::newRow("cancel-button") << "cmdCancelBuild"
                                   << "Abbrechen" << int(QAccessible::Button);
    QTest::newRow("show-button") << "cmdShow"
                                 << "Anzeigen" << int(QAccessible::Button);
    QTest::newRow("close-button") << "cmdClose"
                                  << "Schließen" << int(QAccessible::Button);
    QTest::newRow("step-caption") << "labelprepare"
                                  << "Ermittle zu übertragende Dateien"
                                  << int(QAccessible::StaticText);
    QTest::newRow("step-marker") << "imgPrepare"
                                 << "Schritt ausstehend" << int(QAccessible::Graphic);
    QTest::newRow("globe") << "imgIcon"
                           << "Weltkugel" << int(QAccessible::Graphic);
    QTest::newRow("animation") << "Animation"
                               << "Vorgang läuft" << int(QAccessible::Animation);
    QTest::newRow("progress") << "OverAllProgress"
                              << "Gesamtfortschritt" << int(QAccessible::ProgressBar);
    QTest::newRow("path-field") << "proFile"
                                << "Bearbeitete Datei" << int(QAccessible::EditableText);
    QTest::newRow("result-message") << "lblError"
                                    << "**" << int(QAccessible::StaticText);
    QTest::newRow("result-reason") << "lblReason"
                                   << "Grund" << int(QAccessible::StaticText);
}

void TestFormFTPProgress::accessibleNames()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    QFETCH(int, role);
    auto *widget = f.window->findChild<QWidget *>(control);
    QVERIFY(widget);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QCOMPARE(int(accessible->role()), role);
}

void TestFormFTPProgress::everyControlHasAnAccessibleName()
{
    const auto controls = f.window->findChildren<QWidget *>();
    int named = 0;
    for (QWidget *control : controls) {
        if (control->objectName().isEmpty() ||
            control->objectName().startsWith(QLatin1String("qt_")))
            continue; // parts of Qt's own widgets
        ++named;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
        QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(),
                 qPrintable(control->objectName()));
    }
    QCOMPARE(named, 28);
}

QTEST_MAIN(TestFormFTPProgress)
#include "tst_formftpprogress.moc"
