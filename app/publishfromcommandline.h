#pragma once

#include <QString>
#include <functional>
#include <optional>

class InstanceGuard;
struct CommandLine;

// Start-up as both faces of the program share it: reads the settings file named on the command
// line (or the per-user one), takes the single-instance guard and performs the one run. Returns
// the exit status, or nothing when the program should go on processing events (the window stays
// open with the result). An error that ends the start-up goes to showError as "Fehler <n>: ...",
// and the status is then unexpectedErrorStatus.
//
// The guard belongs to the caller, because the one publication of this process stays the only one
// until the process ends: while the window still shows its result, a second copy must not start.
[[nodiscard]] std::optional<int>
PublishFromCommandLine(const CommandLine &line, std::optional<InstanceGuard> &guard,
                       const std::function<void(const QString &)> &showWarning,
                       const std::function<void(const QString &)> &showError,
                       int unexpectedErrorStatus);
