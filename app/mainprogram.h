#pragma once

#include <QString>
#include <functional>

class InstanceGuard;
class SettingsSource;
class classUpload;

enum class StartOutcome { RunFinished, AnotherInstanceRunning };

// Start-up: refuses a second copy (message 2012 through showWarning, then nothing else happens),
// copies the settings into the session, switches differential mode on (off when every file is to
// be published this once) and performs the one run of the process (or its preview). Returns when
// the run has finished; the program then lives on while its window is open. What the command line
// asks of the one run, besides publishing what changed.
struct RunRequest
{
    bool publishEverything = false; // --all
    bool previewOnly = false;       // --dry-run
    QByteArray acceptedCertificate; // --accept-certificate, SHA-256 in lower-case hex
    int connections = 0;            // --connections; 0: as the settings say
};

StartOutcome Main(InstanceGuard &guard, SettingsSource &settings,
                  const std::function<void(const QString &)> &showWarning,
                  const RunRequest &request = {});

// Closes the FTP connections of the run and stops its watchdog. A face calls this while its
// application object still exists, because closing a TLS connection may need it.
void ReleaseRunConnections();

// Reads the fourteen settings in their fixed order and hands each to the session right after
// reading it. The firewall keys other than the type are read only when the type is not 0. A number
// that does not fit raises ProgramError naming the setting and its text.
void ApplySettings(SettingsSource &settings, classUpload &session);
