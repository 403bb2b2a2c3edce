#pragma once

#include <QString>
#include <QStringList>

// The program is started without arguments by the site builder, and that stays the normal case. The
// options below let it publish from a terminal, a script or a build job as well.
struct CommandLine
{
    bool noWindow = false;
    QString settingsFile; // empty: the per-user settings file
    // Upload every file this once, changed or not (the server lost files: a restored backup,
    // files deleted by hand in a hosting panel).
    bool all = false;
    // Show what a run would upload and delete, and change nothing.
    bool dryRun = false;
    // Without a window: go ahead with a clean-up that would delete most of the site.
    bool allowMassDelete = false;
    // The SHA-256 fingerprint (lower-case hex) of a changed server certificate the user accepts:
    // what the window's question does, for a terminal, a script or a build job.
    QByteArray acceptedCertificate;
    // How many connections the run may open at once, 1 to 10; 0: as the settings say.
    int connections = 0;
    bool help = false;
    bool version = false;
    QString error; // a German message when the arguments cannot be used
};

// Exit statuses of the program.
enum ExitStatus : int {
    ExitSuccess = 0,
    ExitFailed =
        1, // the run ended with a failure message (or, with the window, an unexpected error)
    ExitCancelled = 2,
    ExitAnotherInstance = 3,
    ExitUnexpectedError = 4, // without a window: an unexpected error, or an unusable settings file
    ExitCleanUpRefused = 5,  // without a window: the clean-up would have deleted most of the site
    ExitCertificateRefused = 6, // without a window: the server's certificate changed, nothing sent
    ExitUsage = 64,
};

// arguments: without the program's name.
[[nodiscard]] CommandLine ParseCommandLine(const QStringList &arguments);

[[nodiscard]] QString UsageText(const QString &programName);

// True when a window can be opened: a display is named, or a Qt platform was chosen explicitly.
[[nodiscard]] bool DisplayAvailable();
