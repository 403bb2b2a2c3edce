#include "scriptedftp.h"

#include "ftperror.h"
#include "ftpresult.h"

#include <QFile>
#include <QTimer>

namespace {
constexpr qint16 kRefused = 20550;
}

ScriptedFtp::ScriptedFtp() = default;

QString ScriptedFtp::absolute(const QString &name) const
{
    if (cwd == QLatin1String("/"))
        return QLatin1Char('/') + name;
    return cwd + QLatin1Char('/') + name;
}

bool ScriptedFtp::begin(const QString &request)
{
    if (mPending)
        throw FtpError(100, QStringLiteral("busy"));
    if (onStarted)
        onStarted(request);
    log << request;
    if (raise.contains(request))
        throw FtpError(101, QStringLiteral("raised by script: ") + request);
    mPending = true;
    mPendingRequest = request;
    beginRequestNumber();
    ++mGeneration;
    if (hang.contains(request))
        return false;
    if (const std::optional<qint16> result = scripted(request)) {
        completeLater(request, *result);
        return false;
    }
    return true;
}

std::optional<qint16> ScriptedFtp::scripted(const QString &request) const
{
    if (refuse.contains(request))
        return refuse.value(request);
    const QString verb = request.section(QLatin1Char(' '), 0, 0);
    if (refuse.contains(verb))
        return refuse.value(verb);
    return std::nullopt;
}

void ScriptedFtp::completeLater(const QString &request, qint16 result, const QString &directory)
{
    const quint64 generation = mGeneration;
    QTimer::singleShot(0, this, [this, request, result, directory, generation] {
        if (!mPending || generation != mGeneration)
            return; // aborted meanwhile
        mPending = false;
        mResult = result;
        mRefusedCommand =
            result >= FtpResult::ReplyBase ? request.section(QLatin1Char(' '), 0, 0) : QString();
        if (request.startsWith(QLatin1String("SIZE ")))
            mFileSize = result == 0 ? files.value(absolute(request.mid(5))).size() : -1;
        if (!directory.isNull())
            mCurrentDirectory = directory;
        else if (request == QLatin1String("PWD"))
            mCurrentDirectory.clear(); // as the component: a failed query names no folder
        if (result == 0 && onCompleted)
            onCompleted(request);
        emit OperationComplete(0, result, QString(), requestNumber());
    });
}

void ScriptedFtp::Connect()
{
    const QString request = QStringLiteral("CONNECT");
    if (!begin(request))
        return;
    const std::optional<FtpTlsRefusal> refusal = connectRefusal;
    QTimer::singleShot(0, this, [this, refusal] { mTlsRefusal = refusal; });
    completeLater(request, connectResult);
}

void ScriptedFtp::QueryCurrentDirectory()
{
    const QString request = QStringLiteral("PWD");
    if (begin(request))
        completeLater(request, 0, reportedCurrentDirectory ? reportedCurrentDirectory() : cwd);
}

void ScriptedFtp::ChangeDirectory(const QString &folder)
{
    const QString request = QStringLiteral("CWD ") + folder;
    if (!begin(request))
        return;
    qint16 result = 0;
    if (folder == QLatin1String("..")) {
        const qsizetype slash = cwd.lastIndexOf(QLatin1Char('/'));
        cwd = slash <= 0 ? QStringLiteral("/") : cwd.left(slash);
    } else if (folders.contains(absolute(folder))) {
        cwd = absolute(folder);
    } else {
        result = kRefused;
    }
    completeLater(request, result);
}

void ScriptedFtp::CreateDirectory(const QString &folder)
{
    const QString request = QStringLiteral("MKD ") + folder;
    if (!begin(request))
        return;
    const bool exists = folders.contains(absolute(folder));
    if (!exists)
        folders.insert(absolute(folder));
    completeLater(request, exists ? kRefused : 0);
}

void ScriptedFtp::DeleteFile(const QString &fileName)
{
    const QString request = QStringLiteral("DELE ") + fileName;
    if (begin(request))
        completeLater(request, files.remove(absolute(fileName)) > 0 ? 0 : kRefused);
}

void ScriptedFtp::RemoveDirectory(const QString &folder)
{
    const QString request = QStringLiteral("RMD ") + folder;
    if (!begin(request))
        return;
    const QString path = absolute(folder) + QLatin1Char('/');
    bool empty = folders.contains(absolute(folder));
    for (auto it = files.cbegin(); empty && it != files.cend(); ++it)
        empty = !it.key().startsWith(path);
    for (const QString &other : std::as_const(folders))
        empty = empty && !other.startsWith(path);
    if (empty)
        folders.remove(absolute(folder));
    completeLater(request, empty ? 0 : kRefused);
}

void ScriptedFtp::GetFile(const QString &remoteFileName, const QString &localPath)
{
    const QString request = QStringLiteral("RETR ") + remoteFileName;
    localPaths << localPath;
    if (!begin(request))
        return;
    const auto it = files.constFind(absolute(remoteFileName));
    if (it == files.cend()) {
        completeLater(request, kRefused);
        return;
    }
    QFile file(localPath);
    const bool written =
        file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(*it) == it->size();
    completeLater(request, written ? 0 : FtpResult::LocalFileUnwritable);
}

void ScriptedFtp::PutFile(const QString &localPath, const QString &remoteFileName,
                          FtpSentBytesWatcher watchSent)
{
    PutFileFrom(localPath, remoteFileName, 0, std::move(watchSent));
}

void ScriptedFtp::PutFileFrom(const QString &localPath, const QString &remoteFileName,
                              qint64 offset, FtpSentBytesWatcher watchSent)
{
    if (offset > 0)
        log << QStringLiteral("REST %1").arg(offset);
    const QString request = QStringLiteral("STOR ") + remoteFileName;
    localPaths << localPath;
    if (!begin(request))
        return;
    QFile file(localPath);
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    // What the server held before the offset stays; the rest comes from the file.
    const QByteArray sent = content.mid(offset);
    if (watchSent)
        watchSent(sent);
    files.insert(absolute(remoteFileName),
                 files.value(absolute(remoteFileName)).left(offset) + sent);
    completeLater(request, 0);
}

void ScriptedFtp::RenameFile(const QString &from, const QString &to)
{
    const QString request = QStringLiteral("RNFR ") + from;
    if (!begin(request))
        return;
    const QString second = QStringLiteral("RNTO ") + to;
    log << second;
    if (const std::optional<qint16> result = scripted(second)) {
        completeLater(second, *result);
        return;
    }
    if (!files.contains(absolute(from))) {
        completeLater(request, kRefused);
        return;
    }
    files.insert(absolute(to), files.take(absolute(from)));
    completeLater(second, 0);
}

void ScriptedFtp::QueryFileSize(const QString &fileName)
{
    const QString request = QStringLiteral("SIZE ") + fileName;
    if (begin(request))
        completeLater(request, files.contains(absolute(fileName)) ? 0 : kRefused);
}

void ScriptedFtp::Disconnect()
{
    log << QStringLiteral("QUIT");
}

void ScriptedFtp::Abort()
{
    log << QStringLiteral("ABOR");
    if (!mPending)
        return;
    // Like the real component: the aborted request completes from the event loop with a failure.
    const quint64 generation = ++mGeneration;
    QTimer::singleShot(0, this, [this, generation] {
        if (!mPending || generation != mGeneration)
            return;
        mPending = false;
        mResult = FtpResult::Aborted;
        emit OperationComplete(0, mResult, QString(), requestNumber());
    });
}
