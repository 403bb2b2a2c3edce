#include "formftpprogress.h"

#include "accessibleroles.h"
#include "animationarea.h"
#include "labelfont.h"
#include "messagelabel.h"
#include "pathfield.h"
#include "picturebox.h"
#include "stringtable.h"
#include "windowcaptions.h"
#include "windowpictures.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

constexpr QSize kClientArea(392, 212);
constexpr QSize kMarkerBox(17, 17);
const QColor kStepColour(0, 0, 64);
const QColor kHeadingColour(0, 0, 128);

QLabel *makeLabel(QWidget *panel, const char *name, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, panel);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setFont(LabelFont());
    label->setGeometry(geometry);
    label->setAccessibleName(text);
    return label;
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, colour);
    widget->setPalette(colours);
}

void setBoldFont(QWidget *widget)
{
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

PictureBox *makePicture(QWidget *panel, const char *name, QSize pictureSize, const QRect &geometry,
                        const QString &accessibleName)
{
    auto *picture = new PictureBox(pictureSize, panel);
    picture->setObjectName(QLatin1String(name));
    picture->setGeometry(geometry);
    picture->setAccessibleName(accessibleName);
    return picture;
}

QPushButton *makeButton(QWidget *panel, const char *name, const QString &caption,
                        const QString &accessibleName, const QRect &geometry)
{
    auto *button = new QPushButton(caption, panel);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setAccessibleName(accessibleName);
    // Outside a dialog Qt gives no button an Enter role of its own; the window decides (see
    // keyPressEvent), so Enter never presses whichever button happens to have the focus.
    button->setAutoDefault(false);
    return button;
}

QWidget *makePanel(QWidget *window, const char *name, const QString &accessibleName)
{
    auto *panel = new QWidget(window);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(QRect(QPoint(0, 0), kClientArea));
    panel->setAccessibleName(accessibleName);
    return panel;
}

} // namespace

FormFTPProgress::FormFTPProgress(RunControl &control, QWidget *parent)
    : FormFTPProgress(control, AnimationClipPath(), parent)
{}

FormFTPProgress::FormFTPProgress(RunControl &control, const QString &clipPath, QWidget *parent)
    : QWidget(parent), mControl(control)
{
    InstallAccessibleRoles();
    setWindowTitle(WindowCaptions::title());
    setWindowIcon(ProgramIcon());
    setFixedSize(kClientArea);

    for (int number = 1; number <= int(mImageList.size()); ++number)
        mImageList[number - 1] = ImageListPicture(number);

    buildWaitPanel();
    buildResultPanel();
    mCancelButton = mCmdCancelBuild;
    setTabOrder(mCmdCancelBuild, mCmdShow);
    setTabOrder(mCmdShow, mCmdClose);
    mCmdCancelBuild->setFocus();

    load(clipPath);
}

FormFTPProgress::~FormFTPProgress() = default;

QString FormFTPProgress::AnimationClipPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ftp.dat");
}

void FormFTPProgress::load(const QString &clipPath)
{
    if (mAnimation->open(clipPath))
        mAnimation->play();
}

void FormFTPProgress::buildWaitPanel()
{
    mFrameWait = makePanel(this, "FrameWait", ResourceString(MessageId::ProgressPanelName));

    mAnimation = new AnimationArea(mFrameWait);
    mAnimation->setObjectName(QStringLiteral("Animation"));
    mAnimation->setGeometry(16, 16, 273, 41);
    mAnimation->setAccessibleName(ResourceString(MessageId::AnimationName));

    const QString pending = ResourceString(MessageId::StepPending);
    mImgPrepare =
        makePicture(mFrameWait, "imgPrepare", QSize(kImageListPictureSize, kImageListPictureSize),
                    QRect(QPoint(16, 81), kMarkerBox), pending);
    mLabelPrepare =
        makeLabel(mFrameWait, "labelprepare", WindowCaptions::labelprepare(), {32, 80, 233, 17});
    mImgConnect =
        makePicture(mFrameWait, "imgConnect", QSize(kImageListPictureSize, kImageListPictureSize),
                    QRect(QPoint(16, 105), kMarkerBox), pending);
    mLabelConnect =
        makeLabel(mFrameWait, "labelConnect", WindowCaptions::labelConnect(), {32, 104, 233, 17});
    mImgFile =
        makePicture(mFrameWait, "imgFile", QSize(kImageListPictureSize, kImageListPictureSize),
                    QRect(QPoint(16, 130), kMarkerBox), pending);
    // The file step's caption and the path field beside it were laid out to overlap; with the
    // usual Linux fonts the bold "Dateiübertragung" fills 111 pixels and would run under the
    // field. The caption is therefore 113 pixels wide and the field starts at 148 instead of 136,
    // keeping its right edge.
    mLabelFile =
        makeLabel(mFrameWait, "labelFile", WindowCaptions::labelFile(), {32, 128, 113, 17});
    for (QLabel *step : {mLabelPrepare, mLabelConnect, mLabelFile})
        setTextColour(step, kStepColour);

    mProFile = new PathField(mFrameWait);
    mProFile->setObjectName(QStringLiteral("proFile"));
    mProFile->setGeometry(148, 128, 229, 33);
    mProFile->setAccessibleName(ResourceString(MessageId::CurrentFileName));

    mOverAllProgress = new QProgressBar(mFrameWait);
    mOverAllProgress->setObjectName(QStringLiteral("OverAllProgress"));
    mOverAllProgress->setGeometry(16, 168, 257, 17);
    mOverAllProgress->setRange(0, 100);
    mOverAllProgress->setValue(0);
    // The remaining time below says more than a percentage, and a 17-pixel bar has no room for it.
    mOverAllProgress->setTextVisible(false);
    mOverAllProgress->setAccessibleName(ResourceString(MessageId::OverallProgressName));

    mCmdCancelBuild = makeButton(mFrameWait, "cmdCancelBuild", QStringLiteral("&Abbrechen"),
                                 QStringLiteral("Abbrechen"), {288, 168, 89, 25});
    connect(mCmdCancelBuild, &QPushButton::clicked, this, &FormFTPProgress::cancelRun);
    mProFile->setFocusRecipient(mCmdCancelBuild);

    mLabelTime = makeLabel(mFrameWait, "labelTime", QStringLiteral("**"), {16, 192, 257, 17});
    setTextColour(mLabelTime, Qt::black);
}

void FormFTPProgress::buildResultPanel()
{
    mFrameResult = makePanel(this, "FrameResult", ResourceString(MessageId::ResultPanelName));
    mFrameResult->hide();

    QLabel *heading =
        makeLabel(mFrameResult, "Label1", WindowCaptions::Label1(), {16, 16, 273, 17});
    setBoldFont(heading);
    setTextColour(heading, kHeadingColour);

    auto *line = new QFrame(mFrameResult);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(16, 32, 361, 2);
    line->setAccessibleName(ResourceString(MessageId::SeparatorName));

    makePicture(mFrameResult, "imgIcon", QSize(32, 32), {24, 48, 32, 32},
                ResourceString(MessageId::GlobeName))
        ->setPicture(GlobePicture());

    // The captions in front of the figures are wider than laid out ("Geschwindigkeit:" needs 94
    // pixels in the usual Linux fonts, 81 were planned), so the caption column is 96 pixels wide
    // and the figures start at 180 instead of 168, keeping their right edges.
    makeLabel(mFrameResult, "Label2", WindowCaptions::Label2(), {80, 48, 96, 17});
    mLblElapsed = makeLabel(mFrameResult, "lblElapsed", QStringLiteral("n/a"), {180, 48, 189, 17});
    makeLabel(mFrameResult, "Label3", WindowCaptions::Label3(), {80, 72, 96, 17});
    mLblKB = makeLabel(mFrameResult, "lblKB", QStringLiteral("n/a"), {180, 72, 197, 17});
    makeLabel(mFrameResult, "Label5", WindowCaptions::Label5(), {80, 96, 96, 17});
    mLblSpeed = makeLabel(mFrameResult, "lblSpeed", QStringLiteral("n/a"), {180, 96, 197, 17});

    mImgError =
        makePicture(mFrameResult, "imgError", QSize(kImageListPictureSize, kImageListPictureSize),
                    QRect(QPoint(80, 122), kMarkerBox), ResourceString(MessageId::ResultPending));
    // Three lines instead of two: a connection failure names the host, and with the usual Linux
    // fonts a host name of thirty characters already needs a third line. The label still ends
    // above the buttons.
    mLblError = new MessageLabel(mFrameResult);
    mLblError->setObjectName(QStringLiteral("lblError"));
    mLblError->setFont(LabelFont());
    mLblError->setGeometry(96, 120, 281, 41);
    mLblError->setMessage(QStringLiteral("**"));

    // A refused connection says why where the summary's figures would be.
    mLblReason = new MessageLabel(mFrameResult);
    mLblReason->setObjectName(QStringLiteral("lblReason"));
    mLblReason->setFont(LabelFont());
    mLblReason->setGeometry(16, 40, 361, 76);
    mLblReason->setAccessibleName(ResourceString(MessageId::ReasonName));
    mLblReason->hide();

    // A preview lists its entries where the summary's figures would be.
    mPreviewList = new QPlainTextEdit(mFrameResult);
    mPreviewList->setObjectName(QStringLiteral("lstPreview"));
    mPreviewList->setGeometry(16, 40, 361, 76);
    mPreviewList->setReadOnly(true);
    mPreviewList->setLineWrapMode(QPlainTextEdit::NoWrap);
    mPreviewList->setFont(LabelFont());
    mPreviewList->setAccessibleName(ResourceString(MessageId::PreviewListName));
    mPreviewList->hide();

    mCmdShow = makeButton(mFrameResult, "cmdShow", QStringLiteral("&Anzeigen"),
                          QStringLiteral("Anzeigen"), {192, 168, 89, 25});
    mCmdShow->setDefault(true);
    connect(mCmdShow, &QPushButton::clicked, this, &FormFTPProgress::showPublishedSite);
    mCmdClose = makeButton(mFrameResult, "cmdClose", QStringLiteral("&Schließen"),
                           QStringLiteral("Schließen"), {288, 168, 89, 25});
    connect(mCmdClose, &QPushButton::clicked, this, &FormFTPProgress::closeAndEndProgram);
}
