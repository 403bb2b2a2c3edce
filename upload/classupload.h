#pragma once

#include "asyncstep.h"
#include "changemarkerstore.h"
#include "connectionwait.h"
#include "debuglog.h"
#include "runcontrol.h"
#include "stepoutcome.h"
#include "uploadlogindex.h"
#include "usermessage.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class FtpComponentHost;
class FtpControl;
class UploadView;
struct ChangedCertificate;
struct SiteFile;
struct RunResult;

// One file queued for upload. Path is what the server sees and the upload log records: relative to
// the site folder, lower case, "\" between folder names. LocalPath is the same file with the names
// as they are on disk, because Linux file names are case-sensitive and the file must be opened by
// its real name. NativePath is the file-system path that opens it, as the walk that found the file
// built it, so that measuring, the change markers and the upload all open the same file. Size is
// 64-bit: sites do hold files of 2 GiB and more.
struct UploadItem
{
    QString Path;
    qint64 Size = 0;
    QString LocalPath;
    QString NativePath;
};

// The upload session: the settings of the publication, the lists and counters of the one run of
// this process, its completion, abort and error state, and every step of the run. There is exactly
// one per process (instance()), which start-up configures and runs. The faces never reach it: they
// act on the run through the RunControl it hands them (control()).
//
// Failures of the run are recorded, not thrown: mFailure (mAborted, mErrorId and mErrorArguments)
// describes the last one, which the run's result and the faces read. The steps of the sequence
// return how they ended (StepOutcome) and their callers stop at the first that did not end done;
// Outcome() says how the run stands for what arrives from outside a step's own requests, a
// cancellation or the watchdog. Only unexpected problems (a local file that cannot be read) raise
// ProgramError and end the program.
//
// All members run on the one user-interface thread. While an operation waits for the FTP component
// it processes events, so FTPDone, FTPDebug, ResetWatchDog, TriggerWatchDog and FTPCancel run
// nested inside it; they only set fields, and every wait and loop re-reads mAborted. So does the
// user's cancellation and a face's answer to a question (RunControl), whichever face gives them.
class classUpload final : private RunControl
{
public:
    // The single session of the process, created on first use.
    static classUpload &instance();

    // How the session reaches its view. The provider creates the view on first use and again after
    // it was closed, with the control through which the view acts on the run; start-up installs
    // the window's or the terminal's, tests their own.
    using ViewProvider = std::function<UploadView &(RunControl &control)>;
    static void setViewProvider(ViewProvider provider);
    // What the faces may do to the run, for a test or tool that creates a face itself; start-up's
    // faces receive it from the session through the provider.
    [[nodiscard]] RunControl &control() { return *this; }

    // A site of a million files writes an upload log of some tens of megabytes; a larger file on
    // the server is no log of ours, and its download is given up at this size.
    static constexpr qint64 LargestUploadLog = 64 * 1024 * 1024;

    // The FTP component and the watchdog timer of the session, created on first use with the real
    // component. A test or tool that needs another component (a scripted double, other time-outs)
    // puts it in place first.
    [[nodiscard]] FtpComponentHost &ftpHost();
    void useFtpComponent(std::unique_ptr<FtpControl> component);
    // Closes the component's connections and stops the watchdog. A face calls this while its
    // application object still exists, because closing a TLS connection may need it; the session
    // itself lives until the process ends.
    void releaseFtpComponent();

    classUpload(const classUpload &) = delete;
    classUpload &operator=(const classUpload &) = delete;
    ~classUpload();

    // Public members in the order of the session's method table.
    void FTPDebug(const QString &Message);
    void FTPFirewallHost(const QString &myNewHost);
    void FTPDisablePasv(bool myNewPasv);
    void FTPDelete(bool myNewDelete);
    void FTPFirewallLogonName(const QString &myNewName);
    void FTPFirewallPassword(const QString &myNewPassword);
    void FTPFirewallPort(qint32 myNewPort);
    void FTPFirewallType(qint32 myNewType);
    void LocalBaseDir(const QString &myNewBaseDir);
    void RemoteBaseDir(const QString &myNewBaseDir);
    void RemoteURL(const QString &myNewURL);
    [[nodiscard]] QString RemoteURL() const;
    void ScanLocalSubDir(const QString &mySubDir);
    void BuildFileLog(const QString &mySubDir);
    void WriteFileLog();
    void FTPLogonName(const QString &myNewLogonName);
    void FTPLogonPassword(const QString &myNewLogonPassword);
    void FTPHost(const QString &myNewHost);
    // The steps of the sequence say how they ended; a test may run one on its own and look at
    // the recorded failure instead.
    StepOutcome FTPConnect();
    [[nodiscard]] QString FTPGetCurrentDir();
    void FTPCreateDir(const QString &myDirName);
    bool FTPChangeDir(const QString &myDirName);
    bool FTPSetCurrentDir(const QString &myDesiredDir, bool CreateNew);
    StepOutcome SetRemoteBaseDir();
    StepOutcome FTPDeleteFiles();
    [[nodiscard]] bool FileIsInLog(const QString &myDir, const QString &myFilename);
    [[nodiscard]] bool DirIsInLog(const QString &myDir);
    StepOutcome FTPUploadFiles();
    // myLocalPath: the file's relative path with its real names on disk; empty means the same as
    // myPathAndFileName.
    void FTPUploadFile(const QString &myPathAndFileName, const QString &myLocalPath = QString());
    // How a deletion ended. A refusal for good (a 5xx reply, or a folder on the way that does not
    // exist) goes unnoticed, as it always did; one that was put off (a 4xx "try again", a walk
    // that ended elsewhere or does not know where it is) stays in the upload log, so the next run
    // tries it again instead of forgetting the entry with the log it replaces. One that is not
    // proven safe (see WhyNotProvenSafe) is skipped and never sent.
    enum class Deletion { Done, Refused, PutOff, Skipped };
    Deletion FTPDeleteDirEx(const QString &myDir);
    Deletion FTPDeleteFileEx(const QString &myPathAndFileName);
    // The component of the connection (0: the first) reported a request complete.
    void FTPDone(int connection = 0);
    void FTPCancel();
    void FTPDisconnect();
    [[nodiscard]] bool FTPAborted() const;
    void MagicUpload();
    void FTPDifferentialMode(bool myNewMode);
    // A sign of life on the connection (0: the first).
    void ResetWatchDog(int connection = 0);
    void TriggerWatchDog();
    void FTPTimeout(qint32 myTimeout);
    // How many connections the upload may use at once: 1 to 10; 0 means the default, 4.
    void FTPConnections(qint32 myConnections);
    // How many times in a row the run tries again after a fault that may pass (see
    // TryAgainAfterFault): 0 to 10, 5 unless set; 0 ends the run at the first fault.
    void FTPRetries(qint32 myRetries);

    // A preview: the run goes as far as reading the server's old upload log, then lists what it
    // would upload and delete through the view, and changes nothing on the server, in the change
    // markers, in the local upload log or in the debug log.
    void setPreviewOnly(bool previewOnly);
    // The SHA-256 fingerprint (lower-case hex) of a server certificate the user accepted in place
    // of the one trusted before, as the window's question would; empty for none.
    void setAcceptedCertificate(const QByteArray &fingerprint);

private:
    friend struct classUploadTestAccess;

    classUpload();
    static std::unique_ptr<classUpload> &storage();

    // RunControl: what the faces do to the run.
    void cancel() override;
    [[nodiscard]] QString siteAddress() const override;
    void answer(MassDeletion answer) override;
    void answer(CertificateAnswer answer) override;
    // The run's questions: the view asks, and the run waits for the answer (see UploadView). A
    // question the user cancelled counts as "no".
    [[nodiscard]] MassDeletion AskMassDeletion(qint64 filesToDelete, qint64 filesListed);
    [[nodiscard]] CertificateAnswer AskChangedCertificate(const ChangedCertificate &certificate);
    // Opens the question whose answer is of unanswered's type, lets ask put it to the view, and
    // waits, with the watchdog paused, until it is answered or the run is cancelled.
    using Answer = std::variant<MassDeletion, CertificateAnswer>;
    [[nodiscard]] Answer AwaitAnswer(Answer unanswered, const std::function<void()> &ask);

    // Private operations, in method-table order.
    void AddUploadFile(const QString &myPath, const QString &myLocalPath,
                       const QString &myNativePath);
    void AddLogEntry(const QString &myEntry);
    // Sends one file into the current folder under its own name, as to a server that knows
    // nothing of temporary names (PublishFileOn without a folder).
    void FTPPutFile(const QString &myLocalFile, const QString &myRemoteName);

    // The per-file sequence (replacement.cpp): a file that replaces a live one goes to a temporary
    // name and is renamed into place once it is whole, so visitors never load half a file; a
    // broken transfer of a large file continues where it stopped. Each step is one request of the
    // component, or a note in the marker store, with its outcome spelled out, so the sequence can
    // run on any connection that stands in folder.
    //
    // folder: the remote folder, absolute, the server stands in; empty when it is not known, and
    // the file then goes directly, with nothing recorded. replacing: the destination holds a file
    // of that name that visitors may be loading.
    //
    // A step on a connection that stands in folder, or, with a via, in the folder that via
    // leads down to folder from ("Bilder/"); true when the file is published, false when the
    // run's failure is recorded, or, for a via, when the server took no path (see
    // LaneSchedule::byPath), with nothing recorded.
    [[nodiscard]] AsyncStep<bool> PublishFileOn(int connection, QString localFile, QString folder,
                                                QString realName, bool replacing,
                                                QString via = QString());
    // Where one transfer of PublishFileOn goes.
    struct Placement
    {
        QString folder;
        QString realName;
        QString storedName; // realName for a direct upload
        qint64 offset = 0;  // what the server holds already; the transfer continues there
        QString via;        // the path from the connection's folder down to folder, or empty
        [[nodiscard]] bool temporary() const { return storedName != realName; }
        // A name of folder as the commands of the connection name it.
        [[nodiscard]] QString remote(const QString &name) const { return via + name; }
    };
    // What a step came to: done; refused by the server (a reply 4xx or 5xx, result kept); or
    // failed, with the run's failure recorded.
    enum class Step { Done, Refused, Failed };
    [[nodiscard]] AsyncStep<Placement> ChoosePlacementOn(int connection, QString localFile,
                                                         QString folder, QString via,
                                                         QString realName, bool replacing,
                                                         std::optional<FileIdentity> identity);
    [[nodiscard]] Placement RecordPlacement(const QString &localFile, Placement place,
                                            const std::optional<FileIdentity> &identity);
    [[nodiscard]] AsyncStep<Step> TransferOn(int connection, QString localFile, Placement place,
                                             std::shared_ptr<class ContentDigest> sent);
    [[nodiscard]] AsyncStep<Step> VerifyStoredSizeOn(int connection, Placement place,
                                                     qint64 localSize);
    [[nodiscard]] AsyncStep<Step> PutInPlaceOn(int connection, QString localFile, Placement place);
    // The server refused a temporary name or renames: the file goes directly, and when that
    // works, so does every file to this destination from now on. A refusal of the direct
    // transfer is left to the caller to record.
    [[nodiscard]] AsyncStep<Step> FallBackToDirectOn(int connection, QString localFile,
                                                     Placement place, QString refusal,
                                                     std::shared_ptr<class ContentDigest> sent);
    // What the server holds of the broken transfer to place, when it may be continued: its size,
    // when it lies between nothing and the whole file; otherwise 0, for a transfer from the start.
    [[nodiscard]] AsyncStep<qint64> ContinuableBytesOn(int connection, Placement place,
                                                       qint64 localSize);
    // One request of the per-file sequence on the connection: the component's result, or nothing
    // when it did not complete (the run's failure is recorded then). start is a named variable
    // of the calling step (see ConnectionWait::Request).
    [[nodiscard]] AsyncStep<std::optional<qint16>>
    ReplacementRequestOn(int connection, QString realName,
                         std::function<void(FtpControl &)> &start);
    // Progress after a file has arrived: files, bytes, the rate and the time left, to the view.
    void CountFileDone(const UploadItem &item);
    // How many connections this run opens: the setting, or fewer where the server refused more
    // before (one more is tried once a week).
    [[nodiscard]] int ConnectionsForThisRun();
    // Uploads every file of the list but the upload log over up to connections at once (see
    // LaneSchedule), and notes how many the server took.
    void UploadSideBySide(int connections);
    // One connection's share: a further one logs in first, the first walks to every folder; then
    // each takes files until none is left or the run failed.
    [[nodiscard]] AsyncStep<void> LaneOn(int connection);
    [[nodiscard]] AsyncStep<void> PrepareFoldersOn(int connection);
    // Makes sure of the folder down (a path from the base folder) in a round trip or two;
    // false when the walk name by name has to find out (a missing folder above it, a server
    // that takes no paths, a refusal).
    [[nodiscard]] AsyncStep<bool> ReachByPathOn(int connection, QString down);
    // Logs a further connection in; false when the server refused it (or it failed otherwise),
    // which ends that connection quietly.
    [[nodiscard]] AsyncStep<bool> LogInFurtherOn(int connection);
    // Whether one more connection would pay for its log-in (see the definition); the debug log
    // says so when it would not.
    [[nodiscard]] bool FurtherLogInPays();
    // The index of the next file that may start now, taken; nothing when none may.
    [[nodiscard]] std::optional<qint32> TakeNextFile();
    // The folder on the server that a file of the list goes to.
    [[nodiscard]] QString RemoteFolderOf(const UploadItem &item) const;
    // Every connection that waits for a file or its turn looks again.
    void WakeLanes();
    // Deletes what killed or broken runs to this destination left under temporary names, except
    // the transfers this run continues; only names recorded, only in their recorded folder, and
    // only once the server said that it stands there.
    void DeleteLeftoverTemporaries();
    // Whether the file at sitePath replaces one live at this destination.
    [[nodiscard]] bool ReplacesLiveFile(const QString &sitePath, const QString &localFile);
    // Uploads one file: myPathAndFileName as the server sees it, relative to the site, and
    // localFile, the file-system path that opens it.
    [[nodiscard]] StepOutcome SendFile(const QString &myPathAndFileName, const QString &localFile);
    // The same two as steps on a connection; done when the file is on the server and the run goes
    // on. A file that did not get there always ends the run, with a failure of its own when none
    // was recorded on the way.
    [[nodiscard]] AsyncStep<StepOutcome> SendFileOn(int connection, QString myPathAndFileName,
                                                    QString localFile);
    [[nodiscard]] AsyncStep<bool> PutFileOn(int connection, QString myLocalFile,
                                            QString myRemoteName);
    Deletion FTPDeleteFile(const QString &myFileName);
    Deletion FTPDeleteDir(const QString &myDirName);
    // Processes events, resuming the steps whose requests have completed, until completed() says
    // the wait is over or the run is interrupted (the user's cancellation, the watchdog); when
    // anyFailureEnds, any recorded failure ends it too. The thread sleeps in the event dispatcher
    // meanwhile.
    void WaitForCompletion(const std::function<bool()> &completed, bool anyFailureEnds = true);
    // The one way a synchronous step talks to the server: starts a request on the connection's
    // component, waits for it and reads its outcome. A request that is still under way when the
    // wait is interrupted comes back as interrupted, and its completion is let go.
    [[nodiscard]] RequestOutcome Perform(const std::function<void(FtpControl &)> &start,
                                         int connection = 0);
    // The same for a step of the run that is a coroutine (AsyncStep): co_await it, with start
    // a named variable of the step (see ConnectionWait::Request).
    [[nodiscard]] ConnectionWait::Request Request(int connection,
                                                  std::function<void(FtpControl &)> &start);
    // Runs a step to its end, waiting as WaitForCompletion does; nothing when the wait was
    // interrupted, and the step is ended where it was.
    template <typename T> std::optional<T> RunToEnd(AsyncStep<T> step, bool anyFailureEnds = true)
    {
        step.start();
        WaitForCompletion([&step] { return step.done(); }, anyFailureEnds);
        if (!step.done())
            return std::nullopt;
        return step.result();
    }
    // Resumes every step whose request has completed or whose pause has ended.
    void ResumeReadySteps();
    // Connect and its wait, with the log-in's transcript held for a refusal over TLS.
    [[nodiscard]] RequestOutcome LogIn();
    // After a log-in refused for a changed certificate: asks the view, and on its yes makes the
    // component take the new certificate at the next log-in. A preview asks nothing.
    [[nodiscard]] bool AcceptChangedCertificate();
    // Records the failure of a log-in refused over TLS: message 2000 with the reason the
    // component gave, or the user's own no to a changed certificate.
    StepOutcome RecordTlsRefusal();
    // A preview that trusted a certificate for this run only says so with its entries.
    void NoteCertificateTrustedForNow();

    // Records a failure: mAborted, mErrorId, and what it concerns for the message's "%1"; returns
    // the outcome it gives the step that met it (see Outcome).
    StepOutcome RecordFailure(MessageId id, const QString &concerned);
    // The same for a message that names nothing, or more than one thing.
    StepOutcome RecordFailure(MessageId id, QList<MessageArgument> arguments = {});
    // The same for a message followed by a sentence that says why (see UserMessage), and the
    // server's reply code when it was the server's no.
    StepOutcome RecordFailure(const UserMessage &message, int replyCode = 0);
    // How the run stands: done while no failure is recorded, else the kind of end the recorded
    // one is. Read where a step's end may come from outside its own requests: the user's
    // cancellation or the watchdog, handled while the step processed events.
    [[nodiscard]] StepOutcome Outcome() const;
    // The component's answer to the run's own Abort: the cancellation or the time-out ended the
    // request, not the server's refusal, and their message stands.
    [[nodiscard]] bool IsOwnAbort(const RequestOutcome &outcome) const;
    // After a request that failed: when the connection to the server is gone with it, records
    // failure 4070 and returns true. Every later step would fail as well, and a message naming the
    // folder or file of that step would send the user looking for a problem that is not there.
    bool RecordIfConnectionLost(int connection = 0);
    // Records the failure of a request on the connection, and whether it may pass (see
    // IsPassingFault): a run that meets one tries again (TryAgainAfterFault).
    StepOutcome RecordFault(int connection, MessageId id, const QString &concerned);
    // The component's last request failed in a way that may well not happen again: the
    // connection is gone, it timed out, no data connection could be opened, or the server said
    // "not now" (4xx). A 5xx is the server's final no about a file or folder; to the passive or
    // active command it is about the server's data ports.
    [[nodiscard]] bool IsPassingFault(int connection);
    // An upload log to read: the downloaded copy at path, or content when path is empty.
    struct LogSource
    {
        QString path;
        QByteArray content;
    };
    struct CleanUpPlan;
    // Adds what the log names and the site no longer holds, each once; names no scan could have
    // written are skipped with a note in the debug log.
    void CollectStaleEntries(const LogSource &source, CleanUpPlan &plan);
    // What a deletion request came to, from the component's result.
    [[nodiscard]] Deletion DeletionOutcome(const RequestOutcome &deletion);
    // Keeps deletions that were put off in the log list and rewrites the local upload log before
    // it is uploaded: files as (folder line, name), folders as folder lines.
    void KeepInLog(const QList<std::pair<QString, QString>> &files, const QStringList &folders);
    // The server's upload log is not replaced in this run: it could not be read, and it still
    // names what is to be deleted.
    void KeepServerLog();
    // Whether the server's current folder is myDesiredDir, asked anew right before a deletion.
    [[nodiscard]] bool IsCurrentDirectory(const QString &myDesiredDir);
    // The server's current folder as a folder query answered just now names it. Nothing when the
    // query failed twice, was refused or got no answer: the folder is unknown then, never the one
    // named before.
    [[nodiscard]] std::optional<QString> KnownCurrentDir();
    // How a walk to a remote folder ended: entered, or not, with the refusal that stopped it, which
    // tells a folder that does not exist (5xx) from one that could not be entered just now. After
    // a climb ("..") that the server refused, that refusal stands for the whole walk. run is how
    // the run stands after the walk: a failure the walk recorded, or the cancellation, the
    // watchdog or another connection's failure that stopped it on the way; a walk that only did
    // not get there without recording anything (CreateNew false) leaves it done.
    struct FolderWalk
    {
        bool entered = false;
        RequestOutcome refusal;
        StepOutcome run;
    };
    // FTPSetCurrentDir, with how it ended.
    [[nodiscard]] FolderWalk WalkTo(const QString &myDesiredDir, bool CreateNew);
    // What a walk to a deletion's folder that failed means for the deletion.
    [[nodiscard]] static Deletion UnreachableFolderOutcome(const FolderWalk &walk);
    // The folder steps as steps on a connection (0: the first), for several connections at once;
    // the members above run them on the first connection and wait for them.
    [[nodiscard]] AsyncStep<std::optional<QString>> CurrentDirOn(int connection);
    [[nodiscard]] AsyncStep<RequestOutcome> ChangeDirOn(int connection, QString myDirName);
    [[nodiscard]] AsyncStep<StepOutcome> CreateDirOn(int connection, QString myDirName);
    [[nodiscard]] AsyncStep<FolderWalk> SetCurrentDirOn(int connection, QString myDesiredDir,
                                                        bool CreateNew);
    // What the clean-up knows of the server's upload log in the remote base folder.
    enum class ServerLog {
        Read,       // downloaded to the temporary copy
        Missing,    // there is none: the server said so for good, or the base folder does not exist
        PutOff,     // the server answered "not now" (4xx): it is there and stays as it is
        Unknown,    // the download failed without the server's word on it, or the folder walk did
        RunStopped, // the run failed or was cancelled on the way; its failure is recorded
    };
    [[nodiscard]] ServerLog FetchServerLog(const QString &copyPath);
    // Why a deletion of name, a file or folder in the block of folderLine, is not proven safe, for
    // the debug log; nothing when it is: the name is one a scan could have written and holds no
    // wildcard, an upload log read in this run at this destination names it there
    // (mCleanUp.mNamedByLogs), and the site holds no file or folder of that path, compared as
    // names reach the server, in lower case. That the server stands in the entry's folder is
    // checked right before the request (IsCurrentDirectory).
    [[nodiscard]] std::optional<QString> WhyNotProvenSafe(const QString &folderLine,
                                                          const QString &name, bool folder);
    // Whether the site holds a file or folder name in the block of folderLine, in any case.
    [[nodiscard]] bool SiteHolds(const QString &folderLine, const QString &name);
    // The one way a DELE or RMD is sent: name in the block of folderLine, once proven safe.
    Deletion DeleteIfProvenSafe(const QString &folderLine, const QString &name, bool folder);
    // Notes in the record which destination the local upload log as it is now was written for,
    // so that the next run can tell whether it describes what is on its destination.
    void RecordLogDestination();
    // A remark of the session for the debug log, as one line.
    void DebugNote(const QString &text);
    [[nodiscard]] UploadView &view();
    [[nodiscard]] FtpControl &ftp();
    // The up-front checks of the settings: all are made, the last failing one is recorded.
    [[nodiscard]] StepOutcome CheckSettings();
    // Preparation, connection and transfer, after the up-front checks passed; returns at the
    // first step that failed or was cancelled.
    [[nodiscard]] StepOutcome PublishAfterChecks();
    // The base folder and the destination, the clean-up (each is not repeated once it has come
    // to its end) and the uploads; returns at the first step that failed or was cancelled.
    [[nodiscard]] StepOutcome PublishChanges();
    // Where the base folder is, and so which destination the markers are for, settled once: the
    // base folder is made absolute from the first log-in's folder.
    [[nodiscard]] StepOutcome SettleDestination();
    // After a failure of PublishChanges: when it may pass and the tries are not used up, gives the
    // connections up, pauses (the view counts down), logs in again and returns true.
    [[nodiscard]] bool TryAgainAfterFault();
    // Waits seconds, or less when the user cancels; cancelled then.
    [[nodiscard]] StepOutcome PauseBeforeTrying(qint32 seconds);
    // A new log-in for the next try; its failure is recorded.
    [[nodiscard]] StepOutcome LogInAgain();
    void FillSummary(bool runStarted);
    // How the run ended, for the view.
    [[nodiscard]] RunResult Result() const;
    void ShowResult();
    // The change-marker store, opened on first use (differential scan, clearing after an upload).
    [[nodiscard]] ChangeMarkerStore &markers();
    // Queues the files below mySubDir; only those with a set marker when consultMarkers is true.
    void ScanSite(const QString &mySubDir, bool consultMarkers);
    // The run's scan: one walk of the whole site gives the log list and the files to upload; the
    // upload log is written (except in a preview) before the files are queued, so that it is
    // queued with them, with its new size.
    void BuildFileLogAndUploadList();
    // Walks the folder tree below mySubDir once: appends its log lines when buildLog is true, and
    // hands each file to found, when given, noting the names that cannot be published.
    void WalkSite(const QString &mySubDir, bool buildLog,
                  const std::function<void(const SiteFile &)> &found);
    // Queues one file the walk found, and adds its path to seen.
    void QueueSiteFile(const SiteFile &file, bool consultMarkers, QStringList &seen);
    // After a walk of the whole site: the markers forget the files it did not see.
    void ForgetFilesNotSeen(const QString &mySubDir, const QStringList &seen);
    // The destination of this run as the markers know it: host, user and remote base folder.
    [[nodiscard]] QString MarkerDestination();
    // Makes the markers refer to this run's destination (once the log-in resolved the base folder).
    void ChooseMarkerDestination();
    void ClaimUnassignedMarkers();
    // Differential mode: drops the queued files that are on this destination as they are now.
    [[nodiscard]] StepOutcome KeepChangedFiles();
    // Whether the file must be uploaded to this destination: its identity differs from that of its
    // last upload and, where the size is the same, so does its content (the file is read for
    // that). A file found unchanged in content is noted for FinishContentCheck.
    [[nodiscard]] bool NeedsUpload(const QString &sitePath, const QString &nativePath,
                                   const FileIdentity &identity);
    // After the files were decided: the markers of those unchanged in content take their new
    // identities, so the next scan does not read them again, and the debug log counts them.
    void FinishContentCheck();
    // What the clean-up would delete: what the old upload logs name and the site no longer holds.
    struct CleanUpPlan
    {
        qint64 listedFiles = 0;                   // file lines of the longer old log
        QList<std::pair<QString, QString>> files; // (folder line, name), in the order of the logs
        QStringList folders;                      // folder lines, inner folders first
        QSet<QString> seen;                       // what is listed already
        // Whether this run may delete at all: only with the server's log read, or put off while
        // the previous local log belongs to this destination.
        bool mayDelete = false;
    };
    // The clean-up in its three parts. The plan: what the logs name and the site no longer holds,
    // and whether this run may delete it; nothing when fetching the server's log ended the run.
    [[nodiscard]] std::optional<CleanUpPlan> PlanCleanUp();
    // The guard: whether a clean-up may go ahead; one that would delete most of the site asks
    // first.
    [[nodiscard]] bool MayCleanUp(const CleanUpPlan &plan);
    // A preview lists what would go, and deletes nothing.
    void PreviewCleanUp(const CleanUpPlan &plan);
    // Files first, then folders, inner ones first; what is put off stays in the log.
    [[nodiscard]] StepOutcome CarryOutCleanUp(const CleanUpPlan &plan);
    // Keeps the local upload log of the previous run before this run replaces it.
    void ReadPreviousLocalLog();
    // The contents of the upload log for the current log list.
    [[nodiscard]] QByteArray UploadLogContent() const;
    // The preview's list of uploads, and its result message.
    void PreviewUploads();
    [[nodiscard]] UserMessage PreviewSummary() const;
    // The full remote path of a file given relative to the site, as the window shows it.
    [[nodiscard]] QString RemoteFilePath(const QString &myPathAndFileName) const;
    // The look-up index of the complete log list, built on the first look-up after it changed.
    [[nodiscard]] const UploadLogIndex &logIndex();
    // A file or folder of the site whose name cannot be published, as the user is shown it; each
    // is kept once, in the order found.
    void NoteUnpublishable(const QString &shownPath);
    // Writes every such path to the debug log, one line each.
    void LogUnpublishable();
    // Records the failure that names them, when there are any.
    StepOutcome RecordUnpublishable();

    // The session's state, grouped by what it describes. Inside a group every field keeps the name
    // it has always had in the session, so mAborted is mFailure.mAborted and mUploadList is
    // mQueue.mUploadList: the names stay those the rest of the program's documents use, and a
    // group tells at a glance which other fields change with a field.

    DebugLog mDebugFile;

    // The publication as start-up configured it. mRemoteBaseDir is made absolute once the log-in
    // has shown where the account's folder is (SetRemoteBaseDir).
    struct PublicationSettings
    {
        QString mLocalBaseDir;
        QString mRemoteBaseDir;
        QString mRemoteURL;
        bool mDifferentialMode = false;
        bool mDeleteRemote = false;
        // A preview: see setPreviewOnly.
        bool mPreviewOnly = false;
        // See setAcceptedCertificate.
        QByteArray mAcceptedCertificate;
        // See FTPConnections.
        qint32 mConnections = 0;
        // See FTPRetries.
        qint32 mRetries = 5;
    } mSettings;

    // The files to upload. mUploadCount is the number of entries of mUploadList and mTotalBytes
    // the sum of their sizes; every step that changes the list changes them with it.
    struct UploadQueue
    {
        QList<UploadItem> mUploadList;
        qint32 mUploadCount = 0;
        double mTotalBytes = 0;
    } mQueue;

    // The upload log: the lines of the current one (mLogCount of them, with their look-up index,
    // built on the first look-up after they changed), the local copy the previous run left, and
    // whether the server's copy stays as it is in this run (see KeepServerLog).
    struct UploadLogState
    {
        QList<QString> mLogList;
        qint32 mLogCount = 0;
        std::optional<UploadLogIndex> mLogIndex;
        std::optional<QByteArray> mPreviousLocalLog;
        // The previous local log was written by a run to this run's destination, so what it names
        // may have been put there by that run (see LocalLogWasWrittenFor).
        bool mPreviousLocalLogBelongsHere = false;
        bool mServerLogKept = false;
    } mUploadLog;

    // The progress figures of the upload loop, kept between files: a figure that cannot be computed
    // for one file keeps its value from the previous one.
    struct UploadProgress
    {
        double elapsed = 0;
        double rate = 0;
        double remaining = 0;
        // The last estimate that fits the view; empty until there is one.
        std::optional<qint32> secondsLeft;
    };

    // How far the run got: files and bytes sent, when it (and again its upload phase) started, as
    // seconds since midnight, and the figures the progress display is computed from.
    struct RunTotals
    {
        qint32 mFilesDone = 0;
        double mBytesDone = 0;
        qint32 mStartTime = 0;
        UploadProgress mProgress;
    } mRun;

    // The failure that ends the run: mAborted stops every wait and loop; mErrorId and
    // mErrorArguments are the last failure recorded (RecordFailure), with the sentence that says
    // why, when it has one.
    struct FailureState
    {
        bool mAborted = false;
        // The user's cancellation or the watchdog: every wait ends at once, the transfers under
        // way on further connections included. Any other failure lets those end first.
        bool mInterrupted = false;
        MessageId mErrorId = MessageId::None;
        // What the failure's message names, put into words by the view.
        QList<MessageArgument> mErrorArguments;
        MessageId mErrorDetailId = MessageId::None;
        QList<MessageArgument> mErrorDetailArguments;
        // The failure may pass: trying again, after a new log-in, may well succeed (see
        // IsPassingFault).
        bool mPassing = false;
        // The server's reply code when the failure was its no to a request; 0 otherwise.
        int mReplyCode = 0;
    } mFailure;

    // The run's tries after faults that may pass: how many in a row without a file sent between
    // them, how many in all, the files sent before (by their site path; the next try leaves them
    // out), and whether the destination was settled and the clean-up came to its end.
    struct RetryState
    {
        qint32 mInARow = 0;
        qint32 mTotal = 0;
        qint32 mFilesDoneAtLastFault = 0;
        QSet<QString> mSent;
        bool mDestinationKnown = false;
        bool mCleanUpDone = false;
        // The user allowed a clean-up of most of the site; a try after a fault asks no more.
        bool mMassDeletionAllowed = false;
    } mRetry;

    // The wait for the FTP component: whether it reported the pending request complete, and the
    // watchdog's ticks without a sign of activity, of which it tolerates mTimeout.
    struct WaitState
    {
        bool mDone = false;
        qint32 mWatchDogTicks = 0;
        qint32 mTimeout = 60;
        // The ticks without a sign of activity of each further connection (the second first),
        // counted while it has a request under way.
        QList<qint32> mFurtherTicks;
    } mWait;

    // The question the run waits for the user to answer (AwaitAnswer), and its answer so far.
    struct OpenQuestion
    {
        bool open = false;
        Answer answer;
    } mQuestion;

    // What the clean-up works from and came to: what the upload logs that count as proof name
    // (the server's, read in this run at this destination, and the previous local one when it
    // was written for this destination), as folder lines and as folder line and file name
    // joined; in a preview, what it would have deleted; and a clean-up skipped because it would
    // have deleted most of the site and nobody could be asked: the files it would have deleted,
    // and those the old log listed.
    struct CleanUpOutcome
    {
        QSet<QString> mNamedByLogs;
        qint64 mPreviewFilesDeleted = 0;
        qint64 mPreviewFoldersDeleted = 0;
        std::optional<std::pair<qint64, qint64>> mCleanUpRefused;
    } mCleanUp;

    // What the upload list's walk found but could not queue for its name (NoteUnpublishable):
    // the paths as the user is shown them, each once, in the order found.
    struct UnpublishableNames
    {
        QStringList mPaths;
        QSet<QString> mSeen;
    } mUnpublishable;

    std::unique_ptr<ChangeMarkerStore> mMarkers;

    // The comparison of contents in the current scan: the files read, those found unchanged, and
    // their new identities.
    struct ContentCheck
    {
        qint32 filesRead = 0;
        qint32 filesUnchanged = 0;
        QList<std::pair<QString, FileIdentity>> renewed;
    } mContentCheck;

    // The upload over several connections (parallelupload.cpp). Each connection takes the next
    // file of mUploadList that may start: files go in the list's order; a page only once every
    // file pages use has arrived; a file only once its folder is known to exist, since the first
    // connection walks to every folder of the list before it takes files itself, so that no two
    // connections create one folder. The upload log goes after all of them, on the first
    // connection, as it always has.
    struct LaneSchedule
    {
        qint32 next = 0;            // the first file of the list no connection has taken
        qint32 takeable = 0;        // the files the connections share: all but the upload log
        qint32 assetsLeft = 0;      // files pages use that have not arrived yet
        QSet<QString> readyFolders; // remote folders walked to, so known to exist
        int wanted = 1;             // connections this run opens at most
        int loggedIn = 1;           // connections logged in, the first included
        int loggingIn = 0;          // the further connection logging in now; 0 none
        bool loginsEnded = false;   // no further connection will log in
        bool refused = false;       // a further log-in was refused
        bool running = false;       // the connections are at work
        // Files go by their path from the base folder ("STOR Bilder/logo.png"), so that no
        // connection walks from folder to folder: with files of a folder shared out, every
        // connection would otherwise climb and descend for every folder, three round trips
        // each. Off once a server refused a path before it took one.
        bool byPath = false;
        bool pathsProven = false; // a file went by its path this run
        // The pace so far, for whether one more connection pays (see LanePace): the files the
        // connections have sent since they started, and the last further log-in's milliseconds.
        QElapsedTimer started;
        qint32 sent = 0;
        qint64 lastLogInMs = -1;
    } mLanes;

    // Declared last, so it goes first: its handlers call into the fields above.
    std::unique_ptr<FtpComponentHost> mFtpHost;
};
