#include "classupload.h"
#include "commandline.h"
#include "consoleview.h"
#include "instanceguard.h"
#include "interruptcancel.h"
#include "mainprogram.h"
#include "publishfromcommandline.h"
#include "stringtable.h"
#include "windowface.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <cstdio>
#include <malloc.h>
#include <optional>

namespace {

// The terminal face, once the session has created it (when the run first reports).
QPointer<ConsoleView> &consoleView()
{
    static QPointer<ConsoleView> view;
    return view;
}

void printTo(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    if (!text.endsWith(QLatin1Char('\n')))
        std::fputc('\n', stream);
    std::fflush(stream);
}

int runInTerminal(int argc, char *argv[], const CommandLine &line)
{
    // The terminal face waits in Qt's plain poll() loop instead of the GLib one: GLib wakes its
    // loop with a write to an event descriptor for every posted event and every socket notifier
    // switched on or off, a few dozen times per file of a publication, where the plain loop writes
    // at most once per pass. The choice is made when the application object is created.
    const bool glibChoiceLeftToQt = !qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (glibChoiceLeftToQt)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    if (glibChoiceLeftToQt)
        qunsetenv("QT_NO_GLIB");
    classUpload::setViewProvider([&line](RunControl &control) -> UploadView & {
        QPointer<ConsoleView> &view = consoleView();
        if (view.isNull()) {
            view = new ConsoleView(ConsoleView::standardOutput(), &control,
                                   QCoreApplication::instance());
            view->setMassDeletionAllowed(line.allowMassDelete);
        }
        return *view;
    });
    // Before the run has reported anything there is no run to cancel yet.
    CancelOnInterrupt([] {
        if (ConsoleView *view = consoleView())
            view->cancel();
    });
    const auto toStderr = [](const QString &text) { printTo(stderr, text); };
    std::optional<InstanceGuard> guard;
    const auto status =
        PublishFromCommandLine(line, guard, toStderr, toStderr, ExitUnexpectedError);
    // Every run reports to its view, so after one the view exists.
    const int exitStatus = status.value_or(consoleView() ? consoleView()->exitStatus() : 0);
    // The FTP component and the view go while the application object still exists: closing a
    // TLS-capable socket may still need it.
    ReleaseRunConnections();
    delete consoleView().data();
    return exitStatus;
}

// The window face is loaded only now (see windowface.h). Without it the publication still runs,
// in the terminal, after saying why there is no window.
int runInWindow(int &argc, char *argv[], const CommandLine &line)
{
    QString error;
    const WindowFaceEntry windowFace = LoadWindowFace(&error);
    if (!windowFace) {
        printTo(stderr, ResourceString(MessageId::WindowUnavailable, {error}));
        return runInTerminal(argc, argv, line);
    }
    return windowFace(argc, argv, line);
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's TLS socket moves every burst of an upload through temporary buffers of a few hundred
    // kilobytes. With glibc's adaptive thresholds each of them was mapped anew, or the top of the
    // heap given back and taken again, and a 300 MB upload over TLS spent most of its processor
    // time in page faults. Fixed thresholds of a few megabytes let such buffers be reused.
    ::mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);

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
