#include "classupload.h"
#include "commandline.h"
#include "consoleview.h"
#include "formftpprogress.h"
#include "ftperror.h"
#include "instanceguard.h"
#include "interruptcancel.h"
#include "mainprogram.h"
#include "programerror.h"
#include "programexit.h"
#include "settingsstore.h"
#include "stringtable.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

// The window is created on its first reference, which is the first setting handed to the FTP
// component, and created anew when something refers to it after it was closed.
UploadView &progressWindow()
{
    static QPointer<FormFTPProgress> window;
    if (window.isNull()) {
        window = new FormFTPProgress();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    return *window;
}

ConsoleView &consoleView()
{
    static QPointer<ConsoleView> view;
    if (view.isNull())
        view = new ConsoleView(ConsoleView::standardOutput(), QCoreApplication::instance());
    return *view;
}

void printTo(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    if (!text.endsWith(QLatin1Char('\n')))
        std::fputc('\n', stream);
    std::fflush(stream);
}

QString errorMessage(int number, const QString &description)
{
    return ResourceString(4110)
        .replace(QLatin1String("%1"), QString::number(number))
        .replace(QLatin1String("%2"), description);
}

// Runs start-up and the run; returns the exit status, or nothing when the program should go on
// processing window events (the window stays open with the result).
//
// The guard belongs to the caller, because the one publication of this process stays the only one
// until the process ends: while the window still shows its result, a second copy must not start.
template <typename ShowWarning, typename ShowError>
std::optional<int> publish(const CommandLine &line, std::optional<InstanceGuard> &guard,
                           ShowWarning showWarning, ShowError showError, int unexpectedErrorStatus)
{
    try {
        const QString settingsPath =
            line.settingsFile.isEmpty() ? IniSettingsStore::defaultPath() : line.settingsFile;
        if (!line.settingsFile.isEmpty()) {
            const QString problem = IniSettingsStore::problemWith(settingsPath);
            if (!problem.isEmpty()) {
                showError(problem);
                return ExitUnexpectedError;
            }
        }
        IniSettingsStore settings(settingsPath);
        guard.emplace();
        const StartOutcome outcome =
            Main(*guard, settings, showWarning, RunRequest{line.all, line.dryRun});
        if (outcome == StartOutcome::AnotherInstanceRunning)
            return ExitAnotherInstance;
        if (const auto status = RequestedProgramExit())
            return *status;
        return std::nullopt;
    } catch (const ProgramError &error) {
        showError(errorMessage(error.number(), error.description()));
    } catch (const FtpError &error) {
        showError(errorMessage(error.number(), error.description()));
    } catch (const std::exception &error) {
        showError(errorMessage(51, QString::fromLocal8Bit(error.what())));
    }
    return unexpectedErrorStatus;
}

int runInTerminal(int argc, char *argv[], const CommandLine &line)
{
    QCoreApplication application(argc, argv);
    classUpload::setViewProvider(consoleView);
    consoleView().setMassDeletionAllowed(line.allowMassDelete);
    CancelOnInterrupt([] {
        consoleView().cancel();
        classUpload::instance().FTPCancel();
    });
    const auto toStderr = [](const QString &text) { printTo(stderr, text); };
    std::optional<InstanceGuard> guard;
    const auto status = publish(line, guard, toStderr, toStderr, ExitUnexpectedError);
    const int exitStatus = status.value_or(consoleView().exitStatus());
    // The view and its FTP component go while the application object still exists: closing a
    // TLS-capable socket may still need it.
    delete &consoleView();
    return exitStatus;
}

int runInWindow(int argc, char *argv[], const CommandLine &line)
{
    QApplication application(argc, argv);
    classUpload::setViewProvider(progressWindow);
    // A desktop that logs out, or a terminal's Ctrl+C, closes the window the way the user would.
    CancelOnInterrupt([] { static_cast<FormFTPProgress &>(progressWindow()).close(); });
    const auto warning = [](const QString &text) {
        QMessageBox::warning(nullptr, QStringLiteral("Parcelup"), text);
    };
    const auto critical = [](const QString &text) {
        QMessageBox::critical(nullptr, QStringLiteral("Parcelup"), text);
    };
    std::optional<InstanceGuard> guard;
    const auto status = publish(line, guard, warning, critical, ExitFailed);
    if (status)
        return *status;
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = ParseCommandLine(arguments);
    const QString programName = argc > 0 ? QFileInfo(QString::fromLocal8Bit(argv[0])).fileName()
                                         : QStringLiteral("parcelup");
    if (!line.error.isEmpty()) {
        printTo(stderr, line.error);
        printTo(stderr, UsageText(programName));
        return ExitUsage;
    }
    if (line.help) {
        printTo(stdout, UsageText(programName));
        return ExitSuccess;
    }
    if (line.version) {
        printTo(stdout, QStringLiteral("Parcelup " PARCELUP_VERSION));
        return ExitSuccess;
    }

    QCoreApplication::setApplicationName(QStringLiteral("parcelup"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PARCELUP_VERSION));
    if (line.noWindow || !DisplayAvailable())
        return runInTerminal(argc, argv, line);
    return runInWindow(argc, argv, line);
}
