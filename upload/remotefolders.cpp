#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "pathhelpers.h"
#include "stringtable.h"

// The session never jumps to an absolute remote folder. Some servers present a chrooted or virtual
// tree in which absolute paths do not mean what they seem; relative steps from the folder the
// server reports work on all of them. Every walk therefore asks for the current folder, climbs with
// ".." as far as the two paths differ and descends one name at a time.

QString classUpload::FTPGetCurrentDir()
{
    return KnownCurrentDir().value_or(QString());
}

std::optional<QString> classUpload::KnownCurrentDir()
{
    return RunToEnd(CurrentDirOn(0)).value_or(std::nullopt);
}

bool classUpload::FTPChangeDir(const QString &myDirName)
{
    return RunToEnd(ChangeDirOn(0, myDirName)).value_or(RequestOutcome::interrupted()).succeeded();
}

void classUpload::FTPCreateDir(const QString &myDirName)
{
    std::ignore = RunToEnd(CreateDirOn(0, myDirName));
}

bool classUpload::FTPSetCurrentDir(const QString &myDesiredDir, bool CreateNew)
{
    return WalkTo(myDesiredDir, CreateNew).entered;
}

classUpload::FolderWalk classUpload::WalkTo(const QString &myDesiredDir, bool CreateNew)
{
    return RunToEnd(SetCurrentDirOn(0, myDesiredDir, CreateNew))
        .value_or(FolderWalk{false, RequestOutcome(), Outcome()});
}

AsyncStep<std::optional<QString>> classUpload::CurrentDirOn(int connection)
{
    // Before every file the connection is usually where the previous one went: the component
    // knows it without asking the server.
    if (std::optional<QString> known = ftpHost().component(connection).knownCurrentDirectory())
        co_return known;
    // A server that put the query off may well answer the next one; it is asked once more. What
    // an earlier query said is no answer: every command since may have moved the server.
    std::function<void(FtpControl &)> ask = [](FtpControl &ftp) { ftp.QueryCurrentDirectory(); };
    for (int attempt = 0; attempt < 2; ++attempt) {
        const RequestOutcome query = co_await Request(connection, ask);
        if (query.ending() == RequestOutcome::Ending::NotStarted) {
            // Only a component still busy with a request that a cancellation or the watchdog gave
            // up refuses the query; the run is stopping then.
            if (Outcome())
                RecordFailure(MessageId::ConnectionFailed, ftpHost().component(connection).host());
            co_return std::nullopt;
        }
        if (mFailure.mInterrupted)
            co_return std::nullopt;
        if (query.succeeded())
            co_return ftpHost().component(connection).currentDirectory();
        if (RecordIfConnectionLost(connection))
            co_return std::nullopt;
        DebugNote(
            ResourceString(MessageId::CurrentFolderUnknown, {QString::number(query.result())}));
    }
    co_return std::nullopt;
}

AsyncStep<RequestOutcome> classUpload::ChangeDirOn(int connection, QString myDirName)
{
    // A failed change is not reported here: the callers decide what it means.
    std::function<void(FtpControl &)> changeInto = [&myDirName](FtpControl &ftp) {
        ftp.ChangeDirectory(myDirName);
    };
    const RequestOutcome change = co_await Request(connection, changeInto);
    if (change.isCompleted() && !change.succeeded())
        RecordIfConnectionLost(connection);
    co_return change;
}

AsyncStep<StepOutcome> classUpload::CreateDirOn(int connection, QString myDirName)
{
    std::function<void(FtpControl &)> create = [&myDirName](FtpControl &ftp) {
        ftp.CreateDirectory(myDirName);
    };
    const RequestOutcome creation = co_await Request(connection, create);
    if (creation.succeeded() || IsOwnAbort(creation))
        co_return Outcome();
    // Checked however the wait ended: a refused creation is the more useful message than a
    // time-out.
    if (creation.ending() == RequestOutcome::Ending::NotStarted ||
        (creation.isCompleted() && !RecordIfConnectionLost(connection)))
        co_return RecordFault(connection, MessageId::FolderNotCreated, myDirName);
    co_return Outcome();
}

AsyncStep<classUpload::FolderWalk>
classUpload::SetCurrentDirOn(int connection, QString myDesiredDir, bool CreateNew)
{
    const QStringList wanted = SplitRemotePath(myDesiredDir);
    const std::optional<QString> known = co_await CurrentDirOn(connection);
    // A walk that ends early is not entered, with how the run stands then.
    const auto stopped = [](StepOutcome run) { return FolderWalk{false, RequestOutcome(), run}; };
    if (!known) {
        // Every step from a folder the server did not name would lead from a guess: a file stored,
        // or a page deleted, in another folder than the one meant. The walk does not start; an
        // upload fails with the folder it wanted, a deletion is put off.
        const StepOutcome run = Outcome();
        if (CreateNew && run)
            co_return stopped(RecordFault(connection, MessageId::FolderNotEntered,
                                          wanted.isEmpty() ? QStringLiteral("/") : wanted.last()));
        co_return stopped(run);
    }
    const QStringList current = SplitRemotePath(*known);

    // The first level at which the two differ; a missing level counts as an empty name.
    const qsizetype depth = std::max(current.size(), wanted.size());
    qsizetype first = -1;
    for (qsizetype i = 0; i < depth; ++i) {
        const QString have = i < current.size() ? current.at(i) : QString();
        const QString want = i < wanted.size() ? wanted.at(i) : QString();
        if (have != want) {
            first = i;
            break;
        }
    }
    if (first < 0) {
        const StepOutcome run = Outcome();
        co_return FolderWalk{run.isDone(), RequestOutcome(), run};
    }

    // Up: one ".." for every current name from the first difference on, whatever those names are.
    std::optional<RequestOutcome> climbRefusal;
    for (qsizetype i = current.size() - 1; i >= first; --i) {
        const RequestOutcome climb = co_await ChangeDirOn(connection, QStringLiteral(".."));
        if (!climb.succeeded())
            climbRefusal = climb;
        if (const StepOutcome run = Outcome(); !run)
            co_return stopped(run);
    }
    // A walk that fails after a refused climb failed because of the climb: a name that is missing
    // below the wrong folder says nothing about the wanted one, and a deletion that was only put
    // off ("450") must not be taken for one refused for good.
    const auto failedWalk = [&climbRefusal](const RequestOutcome &refusal, StepOutcome run) {
        return FolderWalk{false, climbRefusal.value_or(refusal), run};
    };

    // Down: one name at a time, creating a missing folder when asked to.
    for (qsizetype i = first; i < wanted.size(); ++i) {
        const QString &name = wanted.at(i);
        if (const StepOutcome run = Outcome(); !run)
            co_return stopped(run);
        const RequestOutcome descent = co_await ChangeDirOn(connection, name);
        if (descent.succeeded())
            continue;
        if (const StepOutcome run = Outcome(); !run)
            co_return stopped(run);
        if (!CreateNew)
            co_return failedWalk(descent, StepOutcome::done());
        // "Not now" says nothing about whether the folder is there: nothing is created on it, and
        // the fault may pass.
        if (descent.isTransientRefusal())
            co_return failedWalk(descent,
                                 RecordFault(connection, MessageId::FolderNotEntered, name));
        // After a refused climb the walk is somewhere else: a folder created there belongs to no
        // site and would stay on the server for good, named in no upload log.
        if (climbRefusal)
            co_return stopped(
                RecordFault(connection, MessageId::FolderNotEntered, QStringLiteral("..")));
        if (const StepOutcome created = co_await CreateDirOn(connection, name); !created)
            co_return stopped(created);
        if (!(co_await ChangeDirOn(connection, name)).succeeded())
            co_return stopped(RecordFault(connection, MessageId::FolderNotEntered, name));
    }
    // A server that refused a ".." left the walk deeper than it thinks, and the names after it may
    // well exist there too: a file would then be stored, and reported as published, in another
    // folder. Where the walk really ended is asked once more.
    if (climbRefusal && Outcome()) {
        const std::optional<QString> ended = co_await CurrentDirOn(connection);
        if (!ended || !SameRemotePath(*ended, myDesiredDir)) {
            StepOutcome run = Outcome();
            if (CreateNew && run)
                run = RecordFault(connection, MessageId::FolderNotEntered, QStringLiteral(".."));
            co_return failedWalk(RequestOutcome(), run);
        }
    }
    const StepOutcome run = Outcome();
    co_return FolderWalk{run.isDone(), RequestOutcome(), run};
}

StepOutcome classUpload::SetRemoteBaseDir()
{
    // Right after the log-in the current folder is the account's login folder; the configured
    // folder is taken relative to it, also when it starts with a separator.
    const std::optional<QString> loginFolder = KnownCurrentDir();
    if (const StepOutcome asked = Outcome(); !asked)
        return asked;
    // Without the login folder the base folder is nowhere for certain.
    if (!loginFolder) {
        const QStringList configured = SplitRemotePath(mSettings.mRemoteBaseDir);
        return RecordFault(0, MessageId::FolderNotEntered,
                           configured.isEmpty() ? QStringLiteral("/") : configured.last());
    }
    mSettings.mRemoteBaseDir = JoinRemotePath(*loginFolder, mSettings.mRemoteBaseDir);
    return StepOutcome::done();
}
