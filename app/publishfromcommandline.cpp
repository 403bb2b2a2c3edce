#include "publishfromcommandline.h"

#include "commandline.h"
#include "ftperror.h"
#include "instanceguard.h"
#include "mainprogram.h"
#include "programerror.h"
#include "programexit.h"
#include "settingsstore.h"
#include "stringtable.h"

namespace {

QString errorMessage(int number, const QString &description)
{
    return ResourceString(MessageId::ErrorWithNumber, {QString::number(number), description});
}

} // namespace

std::optional<int> PublishFromCommandLine(const CommandLine &line,
                                          std::optional<InstanceGuard> &guard,
                                          const std::function<void(const QString &)> &showWarning,
                                          const std::function<void(const QString &)> &showError,
                                          int unexpectedErrorStatus)
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
            Main(*guard, settings, showWarning,
                 RunRequest{line.all, line.dryRun, line.acceptedCertificate, line.connections});
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
