#include "classupload.h"
#include "formftpprogress.h"
#include "ftperror.h"
#include "instanceguard.h"
#include "mainprogram.h"
#include "programerror.h"
#include "programexit.h"
#include "settingsstore.h"
#include "stringtable.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

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

int showUnexpectedError(int number, const QString &description)
{
    QMessageBox::critical(nullptr, QStringLiteral("Parcelup"),
                          ResourceString(4001)
                              .replace(QLatin1String("%1"), QString::number(number))
                              .replace(QLatin1String("%2"), description));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("parcelup"));
    QApplication::setApplicationVersion(QStringLiteral(PARCELUP_VERSION));

    try {
        classUpload::setViewProvider(progressWindow);
        InstanceGuard guard;
        IniSettingsStore settings(IniSettingsStore::defaultPath());
        const StartOutcome outcome = Main(guard, settings, [](const QString &message) {
            QMessageBox::warning(nullptr, QStringLiteral("Parcelup"), message);
        });
        if (outcome == StartOutcome::AnotherInstanceRunning)
            return 0;
        if (const auto status = RequestedProgramExit())
            return *status;
        return QApplication::exec();
    } catch (const ProgramError &error) {
        return showUnexpectedError(error.number(), error.description());
    } catch (const FtpError &error) {
        return showUnexpectedError(error.number(), error.description());
    } catch (const std::exception &error) {
        return showUnexpectedError(51, QString::fromLocal8Bit(error.what()));
    }
}
