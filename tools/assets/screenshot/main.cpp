// Shows the progress window with the longest texts it can get, in each of its states, and saves a
// picture of each as the X server draws it. tools/assets/screenshot-window.sh runs it under Xvfb at
// different pixel densities, so a developer can look at the layout with the fonts of a plain
// Linux desktop.
//   parcelup_screenshot CLIP OUTPUT-PREFIX
#include "classupload.h"
#include "formftpprogress.h"
#include "publishablename.h"
#include "stringtable.h"
#include "viewtexts.h"

#include <QApplication>
#include <QEventLoop>
#include <QLocale>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

void settle(int milliseconds)
{
    // Time for the X server to draw and the clip to move on; a tool, not a test, so a fixed
    // pause is fine here.
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool snap(FormFTPProgress &window, const QString &path)
{
    settle(600);
    const QPixmap picture = window.screen()->grabWindow(window.winId());
    if (picture.isNull() || !picture.save(path, "PNG")) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s: %dx%d pixels, device pixel ratio %.2f, font %s\n", qPrintable(path),
                picture.width(), picture.height(), window.devicePixelRatioF(),
                qPrintable(window.font().toString()));
    return true;
}

QString message(MessageId id, const QString &concerned)
{
    return ResourceString(id).replace(QStringLiteral("%1"), concerned);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: %s CLIP OUTPUT-PREFIX\n", argv[0]);
        return 2;
    }
    const QString prefix = arguments.at(2);
    const QLocale german(QLocale::German, QLocale::Germany);

    auto *window = new FormFTPProgress(classUpload::instance().control(), arguments.at(1));
    classUpload::setViewProvider([window](RunControl &) -> UploadView & { return *window; });
    bool ok = true;

    // The run at work, every step caption bold at once (in a run only one is), the file step's
    // widest caption (its first) and a path too long for the field.
    window->setBold(ViewLabel::labelprepare, true);
    window->setBold(ViewLabel::labelConnect, true);
    window->setBold(ViewLabel::labelFile, true);
    window->setPicture(ViewPicture::imgPrepare, PictureDone);
    window->setPicture(ViewPicture::imgConnect, PictureFailed);
    window->setPicture(ViewPicture::imgFile, PictureRunning);
    window->setFileText(QStringLiteral("/kunden/webseiten/mein-verein/aktuelles/2024/bilder/"
                                       "sommerfest-am-see-gruppenfoto-gross.jpg"));
    window->setProgress(42.0F);
    window->setCaption(ViewLabel::labelTime,
                       ResourceString(MessageId::RemainingTimePrefix) + QStringLiteral("59") +
                           ResourceString(MessageId::MinutesSuffix) + QStringLiteral(" 59") +
                           ResourceString(MessageId::SecondsSuffix));
    window->setPanelVisible(ViewPanel::FrameWait, true);
    window->showNonModal();
    ok &= snap(*window, prefix + QStringLiteral("-wait.png"));

    window->setFileText(QStringLiteral("/kunden/webseiten/mein-verein/aktuelles/index.html"));
    window->setCaption(ViewLabel::labelFile, ResourceString(MessageId::UploadingFile));
    ok &= snap(*window, prefix + QStringLiteral("-wait-short.png"));

    // The pause before the run tries again, at its longest.
    window->waitingToTryAgain(16);
    ok &= snap(*window, prefix + QStringLiteral("-wait-retry.png"));

    // The summary with large figures and a failure naming a long host.
    window->setCaption(ViewLabel::lblElapsed,
                       QStringLiteral("62") + ResourceString(MessageId::MinutesSuffix) +
                           QStringLiteral(" 59") + ResourceString(MessageId::SecondsSuffix));
    window->setCaption(ViewLabel::lblKB,
                       german.toString(1234) + ResourceString(MessageId::FilesCountSuffix) +
                           german.toString(123456789) + ResourceString(MessageId::KilobytesSuffix));
    window->setCaption(ViewLabel::lblSpeed,
                       german.toString(12345.67, 'f', 2) +
                           ResourceString(MessageId::KilobytesPerSecondSuffix));
    window->setCaption(
        ViewLabel::lblError,
        message(MessageId::ConnectionFailed, QStringLiteral("ftp.mein-webhosting-anbieter.de")));
    window->setPicture(ViewPicture::imgError, PictureFailed);
    window->setShowButtonVisible(true);
    window->setPanelVisible(ViewPanel::FrameResult, true);
    window->setPanelVisible(ViewPanel::FrameWait, false);
    window->makeCloseTheCancelButton();
    ok &= snap(*window, prefix + QStringLiteral("-result-failure.png"));

    window->setCaption(ViewLabel::lblError, ResourceString(MessageId::UploadSucceeded));
    window->setPicture(ViewPicture::imgError, PictureDone);
    ok &= snap(*window, prefix + QStringLiteral("-result-success.png"));

    // Files whose names cannot be sent: the longest realistic form of that message.
    window->setCaption(
        ViewLabel::lblError,
        ResourceString(MessageId::NamesNotPublished)
            .replace(QStringLiteral("%1"), german.toString(1234))
            .replace(QStringLiteral("%2"), QuotedNameList({QStringLiteral("ARCHIV/1998/BILDER/"
                                                                          "GR\\xD6\\xDFE.JPG"),
                                                           QStringLiteral("ARCHIV/WEG.HTM")})));
    window->setPicture(ViewPicture::imgError, PictureFailed);
    window->setShowButtonVisible(false);
    ok &= snap(*window, prefix + QStringLiteral("-result-unpublishable.png"));

    // More than the label holds: the message is shortened with "…".
    window->setCaption(
        ViewLabel::lblError,
        message(MessageId::FolderNotCreated,
                QStringLiteral("ein-ordner-mit-einem-wirklich-ausserordentlich-langen-"
                               "namen-der-nirgends-hinpasst")));
    ok &= snap(*window, prefix + QStringLiteral("-result-overflow.png"));

    // A preview: its list where the summary was, and its figures as the result.
    for (int i = 1; i <= 6; ++i)
        window->addPreviewLine(ResourceString(MessageId::PreviewUpload)
                                   .arg(QStringLiteral("/kunden/webseiten/mein-verein/aktuelles/"
                                                       "bilder/sommerfest-%1.jpg")
                                            .arg(i))
                                   .arg(1234567));
    window->addPreviewLine(ResourceString(MessageId::PreviewDeleteFolder)
                               .arg(QStringLiteral("/kunden/webseiten/mein-verein/archiv/2019/")));
    window->setCaption(ViewLabel::lblError,
                       ResourceString(MessageId::PreviewSummary)
                           .arg(german.toString(12345), german.toString(1234567),
                                german.toString(1234), german.toString(123)));
    window->setPicture(ViewPicture::imgError, PictureDone);
    window->setShowButtonVisible(false);
    ok &= snap(*window, prefix + QStringLiteral("-result-preview.png"));

    // A refused TLS connection: the message, and why in the summary's place, with the longest
    // reason and a long host.
    window->showReason(
        ResourceString(MessageId::TlsNoLongerOffered)
            .replace(QStringLiteral("%1"), QStringLiteral("ftp.mein-webhosting-anbieter.de:2121")));
    window->setCaption(
        ViewLabel::lblError,
        message(MessageId::ConnectionFailed, QStringLiteral("ftp.mein-webhosting-anbieter.de")));
    window->setPicture(ViewPicture::imgError, PictureFailed);
    ok &= snap(*window, prefix + QStringLiteral("-result-tls-refusal.png"));

    // The questions the window asks, each as the window asks it.
    const auto shootQuestion = [&](const QString &name, const QString &question) {
        bool answered = false;
        window->askYesNo(question, [&answered](bool) { answered = true; });
        settle(600);
        auto *box = qobject_cast<QWidget *>(QApplication::activeModalWidget());
        if (!box) {
            ok = false;
            return;
        }
        const QPixmap picture = box->screen()->grabWindow(box->winId());
        const QString path = prefix + QStringLiteral("-question-%1.png").arg(name);
        ok &= !picture.isNull() && picture.save(path, "PNG");
        std::printf("%s: %dx%d pixels\n", qPrintable(path), picture.width(), picture.height());
        box->close();
        while (!answered)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    };
    shootQuestion(QStringLiteral("mass-deletion"), ResourceString(MessageId::MassDeletionQuestion)
                                                       .arg(german.toString(4123))
                                                       .arg(german.toString(4500)));
    // A certificate with long names, as hosting companies issue them.
    shootQuestion(
        QStringLiteral("certificate"),
        ViewTexts::certificateQuestion(ChangedCertificate{
            QStringLiteral("ftp.mein-webhosting-anbieter.de:2121"),
            QByteArray("3f1c9e0a7b55d2e48f9a01c6b7d3e25f4a8c90b1d2e3f405162738495a6b7c8d"),
            FtpCertificateSummary{
                QByteArray("a94b0c1d2e3f40516273849506a7b8c9d0e1f2031425364758697a8b9cadbecf"),
                QStringLiteral("*.webspace.mein-webhosting-anbieter.de"),
                QStringLiteral("Mein Webhosting Anbieter GmbH Interne Zertifizierungsstelle"),
                QDateTime(QDate(2025, 2, 1), QTime(0, 0), Qt::UTC),
                QDateTime(QDate(2025, 5, 2), QTime(23, 59), Qt::UTC)}}));

    classUpload::setViewProvider(nullptr);
    delete window;
    return ok ? 0 : 1;
}
