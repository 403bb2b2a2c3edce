#include "consoleview.h"

#include "programexit.h"
#include "stringtable.h"
#include "windowcaptions.h"

#include <cmath>
#include <langinfo.h>
#include <unistd.h>

namespace {

// Cursor to the start of the line, then erase to its end: the in-place progress line on a terminal.
constexpr char kReturnAndErase[] = "\r\x1b[K";

} // namespace

ConsoleView::Output ConsoleView::standardOutput()
{
    Output output;
    output.stream = stdout;
    output.terminal = ::isatty(::fileno(stdout)) == 1;
    const char *codeset = ::nl_langinfo(CODESET);
    output.utf8 =
        codeset != nullptr && (qstricmp(codeset, "UTF-8") == 0 || qstricmp(codeset, "utf8") == 0);
    return output;
}

ConsoleView::ConsoleView(Output output, QObject *parent) : QObject(parent), mOutput(output)
{
    mCaptions.insert(int(ViewLabel::labelprepare), WindowCaptions::labelprepare());
    mCaptions.insert(int(ViewLabel::labelConnect), WindowCaptions::labelConnect());
    mCaptions.insert(int(ViewLabel::labelFile), WindowCaptions::labelFile());
}

ConsoleView::~ConsoleView()
{
    clearProgress();
    std::fflush(mOutput.stream);
}

void ConsoleView::setCaption(ViewLabel label, const QString &caption)
{
    mCaptions.insert(int(label), caption);
    if (label == ViewLabel::labelTime)
        drawProgress();
}

void ConsoleView::setBold(ViewLabel, bool)
{
    // The markers say which step runs; there is no bold in a log.
}

QString ConsoleView::marker(int picture) const
{
    switch (picture) {
    case PictureRunning:
        return mOutput.utf8 ? QStringLiteral("▸") : QStringLiteral(">");
    case PictureDone:
        return mOutput.utf8 ? QStringLiteral("✓") : QStringLiteral("+");
    default:
        return mOutput.utf8 ? QStringLiteral("✗") : QStringLiteral("x");
    }
}

QString ConsoleView::stepCaption(ViewPicture picture) const
{
    switch (picture) {
    case ViewPicture::imgPrepare:
        return WindowCaptions::labelprepare();
    case ViewPicture::imgConnect:
        return WindowCaptions::labelConnect();
    case ViewPicture::imgFile:
        return WindowCaptions::labelFile();
    case ViewPicture::imgError:
        break;
    }
    return QString();
}

void ConsoleView::setPicture(ViewPicture picture, int imageListIndex)
{
    if (picture == ViewPicture::imgError) {
        mResultPicture = imageListIndex;
        return;
    }
    printLine(marker(imageListIndex) + QLatin1Char(' ') + stepCaption(picture));
}

void ConsoleView::setFileText(const QString &text)
{
    if (text.isEmpty())
        return;
    printLine(mCaptions.value(int(ViewLabel::labelFile)) + QLatin1Char(' ') + text);
}

void ConsoleView::setProgress(float percent)
{
    mProgress = percent;
}

void ConsoleView::setPanelVisible(ViewPanel, bool) {}

void ConsoleView::setShowButtonVisible(bool) {}

void ConsoleView::showNonModal() {}

void ConsoleView::makeCloseTheCancelButton()
{
    // The run has shown its result: print the summary as the window's result panel shows it.
    clearProgress();
    mProgressShown = false;
    printLine(WindowCaptions::Label1());
    printLine(WindowCaptions::Label2() + QLatin1Char(' ') +
              mCaptions.value(int(ViewLabel::lblElapsed)));
    printLine(WindowCaptions::Label3() + QLatin1Char(' ') + mCaptions.value(int(ViewLabel::lblKB)));
    printLine(WindowCaptions::Label5() + QLatin1Char(' ') +
              mCaptions.value(int(ViewLabel::lblSpeed)));
    const QString result = mCaptions.value(int(ViewLabel::lblError));
    printLine(marker(mResultPicture) + QLatin1Char(' ') + result);
    const RunOutcome outcome = mOutcome.value_or(
        result == ResourceString(MessageId::UploadSucceeded) ? RunOutcome::Succeeded
                                                             : RunOutcome::Failed);
    switch (outcome) {
    case RunOutcome::Succeeded:
        mExitStatus = 0;
        break;
    case RunOutcome::Failed:
        mExitStatus = 1;
        break;
    case RunOutcome::CleanUpRefused:
        mExitStatus = 5;
        break;
    }
    RequestProgramExit(mExitStatus);
}

void ConsoleView::addPreviewLine(const QString &line)
{
    printLine(line);
}

MassDeletion ConsoleView::confirmMassDeletion(const QString &)
{
    return mMassDeletionAllowed ? MassDeletion::Delete : MassDeletion::SkipAndReport;
}

void ConsoleView::setOutcome(RunOutcome outcome)
{
    mOutcome = outcome;
}

void ConsoleView::endProgram()
{
    clearProgress();
    mExitStatus = 2;
    RequestProgramExit(mExitStatus);
}

void ConsoleView::cancel()
{
    if (!mCancelSaid)
        printLine(WindowCaptions::cancellingTitle());
    mCancelSaid = true;
}

void ConsoleView::drawProgress()
{
    const QString line = QStringLiteral("%1 % ").arg(int(std::floor(mProgress)), 3) +
                         mCaptions.value(int(ViewLabel::labelTime));
    if (!mOutput.terminal) {
        printLine(line);
        return;
    }
    const QByteArray bytes = line.toUtf8();
    std::fputs(kReturnAndErase, mOutput.stream);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), mOutput.stream);
    std::fflush(mOutput.stream);
    mProgressShown = true;
}

void ConsoleView::clearProgress()
{
    if (mOutput.terminal && mProgressShown) {
        std::fputs(kReturnAndErase, mOutput.stream);
        std::fflush(mOutput.stream);
    }
}

void ConsoleView::printLine(const QString &line)
{
    clearProgress();
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), mOutput.stream);
    std::fputc('\n', mOutput.stream);
    std::fflush(mOutput.stream);
    // The progress line stays the last line on the screen.
    if (mOutput.terminal && mProgressShown)
        drawProgress();
}
