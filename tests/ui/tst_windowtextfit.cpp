// Every text the progress window can show must fit its control in the font the window really
// gets. On a machine without Tahoma (every usual Linux installation, and the CI machine with only
// DejaVu) that is the desktop's sans-serif, which is wider than the font the window was laid out
// for. The texts are measured with QFontMetrics, and nothing drawn may overlap anything else.
#include "formatremainingtime.h"
#include "messagelabel.h"
#include "pathfield.h"
#include "picturebox.h"
#include "publishablename.h"
#include "stringtable.h"
#include "windowfixture.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTest>

namespace {

// What a control covers in its panel: a label its text, a picture box its picture, any other
// control all of its area.
QRect occupied(const QWidget *control)
{
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        if (label->text().isEmpty())
            return {};
        return label->fontMetrics()
            .boundingRect(label->contentsRect(), int(label->alignment()), label->text())
            .translated(label->pos());
    }
    if (const auto *picture = qobject_cast<const PictureBox *>(control))
        return QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, picture->pictureSize(),
                                   picture->geometry());
    return control->geometry();
}

QString describe(const QWidget *control)
{
    const QRect r = occupied(control);
    return QStringLiteral("%1 at %2,%3 %4x%5")
        .arg(control->objectName())
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height());
}

// Nothing a control shows may run into what another control of the same panel shows.
void verifyNoOverlap(const QWidget *panel)
{
    const auto controls = panel->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (const QWidget *control : controls) {
        if (control->isHidden())
            continue;
        QVERIFY2(QRect(QPoint(0, 0), panel->size()).contains(occupied(control)),
                 qPrintable(describe(control) + QStringLiteral(" leaves the window")));
        for (const QWidget *other : controls)
            if (other != control && !other->isHidden())
                QVERIFY2(
                    !occupied(control).intersects(occupied(other)),
                    qPrintable(describe(control) + QStringLiteral(" overlaps ") + describe(other)));
    }
}

QString message(int id, const QString &concerned = QString())
{
    return ResourceString(MessageId(id)).replace(QStringLiteral("%1"), concerned);
}

const QHash<QByteArray, ViewLabel> &viewLabels()
{
    static const QHash<QByteArray, ViewLabel> labels = {
        {"labelprepare", ViewLabel::labelprepare},
        {"labelConnect", ViewLabel::labelConnect},
        {"labelFile", ViewLabel::labelFile},
        {"labelTime", ViewLabel::labelTime},
        {"lblKB", ViewLabel::lblKB},
        {"lblElapsed", ViewLabel::lblElapsed},
        {"lblSpeed", ViewLabel::lblSpeed},
        {"lblError", ViewLabel::lblError},
        {"lblReason", ViewLabel::lblReason},
    };
    return labels;
}

} // namespace

class TestWindowTextFit : public QObject
{
    Q_OBJECT

private slots:
    void init() { f.create(); }
    void cleanup() { f.destroy(); }

    void captionFits_data();
    void captionFits();
    void buttonsFit();
    void pathFieldHoldsTwoLines();
    void longPathKeepsTheFileName();
    void overlongMessageIsShortenedNotCut();
    void initialLayoutHasNoOverlaps();

private:
    WindowFixture f;
};

void TestWindowTextFit::captionFits_data()
{
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QString>("caption"); // null: the caption the window starts with
    QTest::addColumn<bool>("bold");

    const auto both = [](const char *row, const char *control, const QString &caption) {
        QTest::addRow("%s", row) << QByteArray(control) << caption << false;
        QTest::addRow("%s-bold", row) << QByteArray(control) << caption << true;
    };
    both("prepare", "labelprepare", QString());
    both("connect", "labelConnect", QString());
    both("file-initial", "labelFile", QString());
    both("file-read", "labelFile", ResourceString(MessageId::ReadingFile));
    both("file-delete", "labelFile", ResourceString(MessageId::DeletingFile));
    both("file-delete-folder", "labelFile", ResourceString(MessageId::DeletingFolder));
    both("file-upload", "labelFile", ResourceString(MessageId::UploadingFile));

    const auto row = [](const char *name, const char *control, const QString &caption,
                        bool bold = false) {
        QTest::addRow("%s", name) << QByteArray(control) << caption << bold;
    };
    row("time-initial", "labelTime", QString());
    row("time-unknown", "labelTime", ResourceString(MessageId::RemainingTimeUnknown));
    row("time-almost-done", "labelTime",
        ResourceString(MessageId::RemainingTimePrefix) + ResourceString(MessageId::AlmostDone));
    row("time-59-59", "labelTime",
        ResourceString(MessageId::RemainingTimePrefix) + FormatRemainingTime(3599));
    row("time-999-59", "labelTime",
        ResourceString(MessageId::RemainingTimePrefix) + FormatRemainingTime(59999));

    const QLocale german(QLocale::German, QLocale::Germany);
    row("elapsed-initial", "lblElapsed", QString());
    row("elapsed-62-59", "lblElapsed", FormatRemainingTime(3779));
    row("elapsed-whole-day", "lblElapsed", FormatRemainingTime(86399));
    row("elapsed-none", "lblElapsed", FormatRemainingTime(0));
    row("kilobytes", "lblKB",
        german.toString(1234) + ResourceString(MessageId::FilesCountSuffix) +
            german.toString(123456789) + ResourceString(MessageId::KilobytesSuffix));
    row("rate", "lblSpeed",
        german.toString(12345.67, 'f', 2) + ResourceString(MessageId::KilobytesPerSecondSuffix));

    const QString host = QStringLiteral("ftp.mein-webhosting-anbieter.de");
    row("error-initial", "lblError", QString());
    row("error-2000-long-host", "lblError", message(2000, host));
    row("error-2000-host-and-port", "lblError",
        message(2000, QStringLiteral("ftpes://ftp.webhosting-anbieter.de:2121")));
    row("error-2001", "lblError",
        message(2001, QStringLiteral("sommerfest-am-see-gruppenfoto-gross.jpg")));
    row("error-2002", "lblError", message(2002, QStringLiteral("veranstaltungen-2024")));
    row("error-2003", "lblError", message(2003, QStringLiteral("veranstaltungen-2024")));
    // Files whose names cannot be sent: one long name, shortened in the middle, and the first
    // three of many names as an old archive with Latin-1 names gives them.
    row("error-4030-long-name", "lblError",
        message(4030, QuotedNameList({QStringLiteral("veranstaltungen/2024/sommerfest-am-see/"
                                                     "gruppenfoto-caf\\xE9-gro\\xDF.jpg")})));
    row("error-4031-many-names", "lblError",
        ResourceString(MessageId::NamesNotPublished)
            .replace(QStringLiteral("%1"), german.toString(1234))
            .replace(QStringLiteral("%2"),
                     QuotedNameList({QStringLiteral("archiv/caf\\xE9.html"),
                                     QStringLiteral("archiv/gr\\xFC\\xDFe.html"),
                                     QStringLiteral("archiv/m\\xE4rz.html"),
                                     QStringLiteral("archiv/\\xC4rger.html")})));
    row("error-4031-long-first-name", "lblError",
        ResourceString(MessageId::NamesNotPublished)
            .replace(QStringLiteral("%1"), german.toString(1234))
            .replace(QStringLiteral("%2"),
                     QuotedNameList({QStringLiteral("veranstaltungen/2024/sommerfest-am-see/"
                                                    "gruppenfoto-caf\\xE9-gro\\xDF.jpg"),
                                     QStringLiteral("x.html")})));
    // Upper-case names, as old archives hold them, are the widest.
    row("error-4031-upper-case-names", "lblError",
        ResourceString(MessageId::NamesNotPublished)
            .replace(QStringLiteral("%1"), german.toString(1234))
            .replace(QStringLiteral("%2"),
                     QuotedNameList({QStringLiteral("ARCHIV/M\\xC4RZ.HTM"),
                                     QStringLiteral("ARCHIV/GR\\xD6\\xDFE.HTM"),
                                     QStringLiteral("ARCHIV/WEG.HTM")})));
    row("error-4031-upper-case-path", "lblError",
        ResourceString(MessageId::NamesNotPublished)
            .replace(QStringLiteral("%1"), german.toString(1234))
            .replace(QStringLiteral("%2"),
                     QuotedNameList({QStringLiteral("ARCHIV/1998/BILDER/GR\\xD6\\xDFE.JPG"),
                                     QStringLiteral("ARCHIV/WEG.HTM")})));
    for (const int id : {2005, 2006, 2008, 2009, 2010, 2011})
        row(qPrintable(QStringLiteral("message-%1").arg(id)), "lblError", message(id));

    // Why a TLS connection was refused, in the summary's place, with a long host and port.
    const QString target = QStringLiteral("ftp.mein-webhosting-anbieter.de:2121");
    for (const int id : {4150, 4151, 4152, 4153, 4154})
        row(qPrintable(QStringLiteral("reason-%1").arg(id)), "lblReason", message(id, target));
    const QString fingerprint = QStringLiteral("A9:4B:0C:1D:2E:3F:40:51:62:73:84:95:06:A7:B8:C9:"
                                               "D0:E1:F2:03:14:25:36:47:58:69:7A:8B:9C:AD:BE:CF");
    for (const int id : {4155, 4156})
        row(qPrintable(QStringLiteral("reason-%1").arg(id)), "lblReason", message(id, fingerprint));

    for (const char *fixed : {"Label1", "Label2", "Label3", "Label5"})
        row(fixed, fixed, QString());
}

void TestWindowTextFit::captionFits()
{
    QFETCH(QByteArray, control);
    QFETCH(QString, caption);
    QFETCH(bool, bold);

    if (viewLabels().contains(control)) {
        const ViewLabel which = viewLabels().value(control);
        if (!caption.isNull())
            f.window->setCaption(which, caption);
        f.window->setBold(which, bold);
    }
    auto *label = f.window->findChild<QLabel *>(QLatin1String(control));
    QVERIFY(label);
    const QRect area = label->contentsRect();
    const QFontMetrics metrics = label->fontMetrics();

    if (auto *messageLabel = qobject_cast<MessageLabel *>(label)) {
        QVERIFY2(!messageLabel->isShortened(), qPrintable(label->text()));
        // Measured again with Qt's own word wrap, independent of the label's line breaking. A
        // word wider than the label (a certificate's fingerprint) is broken anywhere, as the
        // label breaks it.
        const QStringList words = messageLabel->message().split(QLatin1Char(' '));
        const bool wordTooWide = std::any_of(words.begin(), words.end(), [&](const QString &word) {
            return metrics.horizontalAdvance(word) > area.width();
        });
        const QRect wrapped = metrics.boundingRect(
            area,
            Qt::AlignLeft | Qt::AlignTop | (wordTooWide ? Qt::TextWrapAnywhere : Qt::TextWordWrap),
            messageLabel->message());
        QVERIFY2(area.contains(wrapped),
                 qPrintable(QStringLiteral("%1 lines need %2x%3 pixels")
                                .arg(label->text().count(QLatin1Char('\n')) + 1)
                                .arg(wrapped.width())
                                .arg(wrapped.height())));
    } else {
        QVERIFY2(metrics.horizontalAdvance(label->text()) <= area.width(),
                 qPrintable(QStringLiteral("%1 pixels wide in %2")
                                .arg(metrics.horizontalAdvance(label->text()))
                                .arg(label->font().toString())));
        QVERIFY(metrics.height() <= area.height());
    }
    verifyNoOverlap(label->parentWidget());
}

void TestWindowTextFit::buttonsFit()
{
    for (const char *name : {"cmdCancelBuild", "cmdShow", "cmdClose"}) {
        auto *button = f.control<QPushButton>(name);
        const QSize needed = button->sizeHint();
        QVERIFY2(needed.width() <= button->width() && needed.height() <= button->height(),
                 qPrintable(QStringLiteral("%1 needs %2x%3")
                                .arg(QLatin1String(name))
                                .arg(needed.width())
                                .arg(needed.height())));
    }
}

void TestWindowTextFit::pathFieldHoldsTwoLines()
{
    auto *field = f.control<PathField>("proFile");
    const QString path = QStringLiteral("/htdocs/verein/aktuelles/2024/bilder/sommerfest.jpg");
    f.window->setFileText(path);
    const QStringList lines = field->shownText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.join(QString()), path);
    const QFontMetrics metrics = field->fontMetrics();
    for (const QString &line : lines)
        QVERIFY(metrics.horizontalAdvance(line) < field->contentsRect().width());
    QVERIFY(2 * metrics.lineSpacing() <= field->contentsRect().height());
}

void TestWindowTextFit::longPathKeepsTheFileName()
{
    auto *field = f.control<PathField>("proFile");
    const QString path = QStringLiteral("/kunden/webseiten/mein-verein/aktuelles/2024/bilder/"
                                        "sommerfest-am-see/gruppenfoto-gross.jpg");
    f.window->setFileText(path);
    const QString shown = field->shownText();
    QCOMPARE(shown.count(QLatin1Char('\n')), 1);
    QVERIFY2(shown.startsWith(QChar(0x2026)), qPrintable(shown));
    QVERIFY(shown.endsWith(QLatin1String("gruppenfoto-gross.jpg")));
    QCOMPARE(field->toolTip(), path);
    QCOMPARE(field->path(), path);
}

void TestWindowTextFit::overlongMessageIsShortenedNotCut()
{
    const QString folder(120, QLatin1Char('x'));
    f.window->setCaption(ViewLabel::lblError, message(2002, folder));
    auto *label = f.control<MessageLabel>("lblError");
    QVERIFY(label->isShortened());
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    QCOMPARE(label->accessibleName(), message(2002, folder));
    verifyNoOverlap(label->parentWidget());
}

void TestWindowTextFit::initialLayoutHasNoOverlaps()
{
    f.window->setPicture(ViewPicture::imgPrepare, PictureRunning);
    f.window->setPicture(ViewPicture::imgConnect, PictureDone);
    f.window->setPicture(ViewPicture::imgFile, PictureFailed);
    f.window->setPicture(ViewPicture::imgError, PictureFailed);
    verifyNoOverlap(f.control<QWidget>("FrameWait"));
    verifyNoOverlap(f.control<QWidget>("FrameResult"));
}

QTEST_MAIN(TestWindowTextFit)
#include "tst_windowtextfit.moc"
