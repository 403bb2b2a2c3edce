#pragma once

#include "testftpserver.h"

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class QProcess;

// A publication as a user sets it up, for fault-injection tests through the real program: a site
// folder, the user's own folders, a settings file with deletion on, and an FTP server that keeps
// its port when it is restarted with other faults (host and port are part of the destination the
// change markers belong to, so a new port would hide every marker fault behind a full upload).
//
// Shared by the fault table (tst_faultinjection) and the randomized soak (faultsoak), so both hold
// the program to the same promise; see repair().
class FaultPublication
{
public:
    struct Run
    {
        int status = -1; // the exit status; -1 when the program was killed or did not end
        bool ended = false;
        QStringList lines;
        QString errors;
        qint64 milliseconds = 0;
        // Site files that the server held when the run started and no longer holds: a run may
        // fail, but never lose a live file.
        QStringList lost;

        [[nodiscard]] QString lastLine() const
        {
            return lines.isEmpty() ? QString() : lines.last();
        }
        // What a failure report shows of the run.
        [[nodiscard]] QString transcript() const;
    };

    // program: the parcelup binary.
    explicit FaultPublication(const QString &program);
    ~FaultPublication();
    FaultPublication(const FaultPublication &) = delete;
    FaultPublication &operator=(const FaultPublication &) = delete;

    [[nodiscard]] QString site() const { return mWork.filePath(QStringLiteral("site")); }
    [[nodiscard]] QString serverRoot() const { return mWork.filePath(QStringLiteral("server")); }
    [[nodiscard]] QString serverBase() const { return serverRoot() + QStringLiteral("/htdocs"); }
    [[nodiscard]] QString stateHome() const { return mWork.filePath(QStringLiteral("state")); }
    [[nodiscard]] QString runtimeDir() const { return mWork.filePath(QStringLiteral("runtime")); }
    // While a run is under way it holds the program's process id, so that a server hook
    // ("run kill -9 ...") can end the program at an exact point of the dialogue.
    [[nodiscard]] QString pidFile() const { return mWork.filePath(QStringLiteral("program.pid")); }
    // A shell command for a server hook that kills the running program with SIGKILL.
    [[nodiscard]] QString killCommand() const;

    // Starts the server with these faults ("STOR#2=drop-after 1000", see
    // tests/servers/faultyftpserver.py); a restart uses the port of the first start.
    [[nodiscard]] bool startServer(const QStringList &faults, QString *error);
    // From now on the server writes every command it receives to a log, which tells whether a
    // fault at the N-th occurrence of a command struck at all.
    void recordCommands() { mRecordCommands = true; }
    // From now on the server finds names without regard to case, or speaks explicit TLS with a
    // certificate of its own (FTPHost then wants "ftpes://").
    void ignoreCase() { mServerOptions.ignoreCase = true; }
    [[nodiscard]] bool offerTls(QString *error);
    // The options of the next server start (its kind, throttle, transfer log, refusals).
    [[nodiscard]] TestFtpServer::Options &serverOptions() { return mServerOptions; }
    // The uploads the running server received (Options::transferLog).
    [[nodiscard]] std::optional<QList<TestFtpServer::Upload>> receivedUploads(QString *error) const;
    // The commands received since the last start of the server ("STOR film.bin").
    [[nodiscard]] QStringList receivedCommands() const;
    void stopServer();
    [[nodiscard]] quint16 port() const { return mPort; }
    [[nodiscard]] QString host() const;

    // Settings as a user writes them: passive mode and deletion on; overrides replace keys.
    void writeSettings(const QMap<QString, QString> &overrides = {});

    // Runs "parcelup --no-window --settings ..." and waits for its end. wrapper, when given, is a
    // command the program is started through (setpriv, unshare), with the program's command line
    // appended.
    Run run(const QStringList &extraArguments = {}, const QStringList &wrapper = {},
            int deadlineMs = 240000);
    // The same in two halves, for runs that go on side by side.
    [[nodiscard]] std::unique_ptr<QProcess> start(const QStringList &extraArguments = {},
                                                  const QStringList &wrapper = {});
    Run finish(QProcess &process, int deadlineMs = 240000);

    // Where the server's folder differs from the site as the program publishes it (lower-case
    // names, hidden and special files left out): paths missing, left over or with other content.
    [[nodiscard]] QStringList differences() const;
    // Site files, the upload log apart, that are missing on the server or differ there: what a
    // run that reported success must never leave behind.
    [[nodiscard]] QStringList missingOrStale() const;

    // The promise after any fault: with a healthy server on the same port, one ordinary run ends
    // with success and leaves the server's folder equal to the site, byte for byte, the upload
    // log included. Empty when it holds; otherwise what went wrong.
    [[nodiscard]] QString repair();

    // The files of the site as the server should hold them, and what the server holds.
    [[nodiscard]] QMap<QString, QByteArray> expectedOnServer() const;
    [[nodiscard]] QMap<QString, QByteArray> onServer() const;

private:
    QString mProgram;
    QTemporaryDir mWork;
    qint64 mStartedAt = 0;
    std::unique_ptr<TestFtpServer> mServer;
    quint16 mPort = 0;
    bool mRecordCommands = false;
    TestFtpServer::Options mServerOptions;
    // The site's files on the server when the running program started.
    QStringList mLive;
};

// Site contents for the tests: content of a given size, the same for the same seed, and a file
// written with the folders it needs.
[[nodiscard]] QByteArray RandomBytes(qint64 size, quint32 seed);
void WriteSiteFile(const QString &path, const QByteArray &content);
