#include "consoleview.h"

#include "programexit.h"
#include "viewtexts.h"
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

ConsoleView::ConsoleView(Output output, RunControl *control, QObject *parent)
    : QObject(parent), mOutput(output), mControl(control), mFileCaption(WindowCaptions::labelFile())
{}

ConsoleView::~ConsoleView()
{
    clearProgress();
    std::fflush(mOutput.stream);
}

namespace {

QString stepCaption(RunStep step)
{
    switch (step) {
    case RunStep::Prepare:
        return WindowCaptions::labelprepare();
    case RunStep::Connect:
        return WindowCaptions::labelConnect();
    case RunStep::Transfer:
        break;
    }
    return WindowCaptions::labelFile();
}

} // namespace

QString ConsoleView::marker(Mark mark) const
{
    switch (mark) {
    case Mark::Running:
        return mOutput.utf8 ? QStringLiteral("▸") : QStringLiteral(">");
    case Mark::Done:
        return mOutput.utf8 ? QStringLiteral("✓") : QStringLiteral("+");
    case Mark::Failed:
        break;
    }
    return mOutput.utf8 ? QStringLiteral("✗") : QStringLiteral("x");
}

void ConsoleView::runStarted()
{
    mTimeText = ViewTexts::remainingTimeUnknown();
    drawProgress();
    stepStarted(RunStep::Prepare);
}

void ConsoleView::stepStarted(RunStep step)
{
    // The markers say which step runs; there is no bold in a log.
    printLine(marker(Mark::Running) + QLatin1Char(' ') + stepCaption(step));
}

void ConsoleView::stepEnded(RunStep step, bool succeeded)
{
    printLine(marker(succeeded ? Mark::Done : Mark::Failed) + QLatin1Char(' ') + stepCaption(step));
}

void ConsoleView::fileStarted(FileAction action, const QString &remotePath)
{
    mFileCaption = ViewTexts::fileActionCaption(action);
    mRetrySecondsShown = 0;
    if (remotePath.isEmpty())
        return;
    printLine(mFileCaption + QLatin1Char(' ') + remotePath);
}

void ConsoleView::waitingToTryAgain(qint32 secondsLeft)
{
    // One line when the pause begins; a line a second would push the files out of sight.
    if (secondsLeft > mRetrySecondsShown)
        printLine(ViewTexts::retryPending(secondsLeft));
    mRetrySecondsShown = secondsLeft;
}

void ConsoleView::progressed(qint64 bytesDone, qint64 bytesTotal, std::optional<qint32> secondsLeft)
{
    if (const std::optional<float> percent = ViewTexts::progressPercent(bytesDone, bytesTotal))
        mProgress = *percent;
    mTimeText = ViewTexts::remainingTime(secondsLeft);
    drawProgress();
}

void ConsoleView::runSummarised(const RunSummary &summary)
{
    mSummary = summary;
}

void ConsoleView::runEnded(const RunResult &result)
{
    // The run has shown its result: print the summary as the window's result panel shows it.
    clearProgress();
    mProgressShown = false;
    const RunSummary summary = mSummary.value_or(RunSummary{});
    printLine(WindowCaptions::Label1());
    printLine(WindowCaptions::Label2() + QLatin1Char(' ') + ViewTexts::duration(summary));
    printLine(WindowCaptions::Label3() + QLatin1Char(' ') + ViewTexts::transferred(summary));
    printLine(WindowCaptions::Label5() + QLatin1Char(' ') + ViewTexts::speed(summary));
    const bool succeeded = result.outcome == RunOutcome::Succeeded;
    printLine(marker(succeeded ? Mark::Done : Mark::Failed) + QLatin1Char(' ') +
              ViewTexts::message(result.message));
    switch (result.outcome) {
    case RunOutcome::Succeeded:
        mExitStatus = 0;
        break;
    case RunOutcome::Failed:
        mExitStatus = 1;
        break;
    case RunOutcome::CleanUpRefused:
        mExitStatus = 5;
        break;
    case RunOutcome::CertificateRefused:
        mExitStatus = 6;
        break;
    }
    RequestProgramExit(mExitStatus);
}

void ConsoleView::previewEntry(PreviewAction action, const QString &remotePath, qint64 bytes)
{
    printLine(ViewTexts::previewLine(action, remotePath, bytes));
}

void ConsoleView::previewNote(const UserMessage &note)
{
    printLine(ViewTexts::message(note));
}

void ConsoleView::askMassDeletion(qint64, qint64, RunControl &control)
{
    control.answer(mMassDeletionAllowed ? MassDeletion::Delete : MassDeletion::SkipAndReport);
}

void ConsoleView::runCancelled()
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
    if (mControl)
        mControl->cancel();
}

void ConsoleView::drawProgress()
{
    const QString line = QStringLiteral("%1 % ").arg(int(std::floor(mProgress)), 3) + mTimeText;
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
