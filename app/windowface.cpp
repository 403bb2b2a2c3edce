#include "windowface.h"

#include "classupload.h"
#include "commandline.h"
#include "formftpprogress.h"
#include "instanceguard.h"
#include "interruptcancel.h"
#include "publishfromcommandline.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
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

} // namespace

extern "C" Q_DECL_EXPORT int ParcelupRunWindowFace(int &argc, char **argv, const CommandLine &line)
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
    const auto status = PublishFromCommandLine(line, guard, warning, critical, ExitFailed);
    const int exitStatus = status ? *status : QApplication::exec();
    // While the application object still exists: closing a TLS-capable socket may still need it.
    classUpload::instance().releaseFtpComponent();
    return exitStatus;
}

// The entry's type is checked against what the loader expects.
[[maybe_unused]] static constexpr WindowFaceEntry CheckedEntry = &ParcelupRunWindowFace;
