#include "windowface.h"

#include "classupload.h"
#include "commandline.h"
#include "formftpprogress.h"
#include "instanceguard.h"
#include "interruptcancel.h"
#include "mainprogram.h"
#include "publishfromcommandline.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <optional>

namespace {

QPointer<FormFTPProgress> &progressWindow()
{
    static QPointer<FormFTPProgress> window;
    return window;
}

// The window is created when the session first reports to it, which is when the run starts (or
// shows the result of checks that failed), and created anew when the session reports after it
// was closed.
UploadView &windowFor(RunControl &control)
{
    QPointer<FormFTPProgress> &window = progressWindow();
    if (window.isNull()) {
        window = new FormFTPProgress(control);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    return *window;
}

} // namespace

extern "C" Q_DECL_EXPORT int ParcelupRunWindowFace(int &argc, char **argv, const CommandLine &line)
{
    QApplication application(argc, argv);
    classUpload::setViewProvider(windowFor);
    // A desktop that logs out, or a terminal's Ctrl+C, closes the window the way the user would.
    // Before the run has shown it there is no run to cancel yet.
    CancelOnInterrupt([] {
        if (FormFTPProgress *window = progressWindow())
            window->close();
    });
    const auto warning = [](const QString &text) {
        QMessageBox::warning(nullptr, QStringLiteral("Parcelup"), text);
    };
    const auto critical = [](const QString &text) {
        QMessageBox::critical(nullptr, QStringLiteral("Parcelup"), text);
    };
    std::optional<InstanceGuard> guard;
    const auto status = PublishFromCommandLine(line, guard, warning, critical, ExitFailed);
    const int exitStatus = status ? *status : QApplication::exec();
    // While the application object still exists: closing a TLS-capable socket may still need it.
    ReleaseRunConnections();
    return exitStatus;
}

// The entry's type is checked against what the loader expects.
[[maybe_unused]] static constexpr WindowFaceEntry CheckedEntry = &ParcelupRunWindowFace;
