#include "suiteftpservers.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace {

// Removes what a folder holds and keeps the folder itself, which the server serves.
bool emptyFolder(const QString &path)
{
    QDirIterator entries(path,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    bool removed = true;
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        removed = (entry.isDir() && !entry.isSymLink() ? QDir(entry.filePath()).removeRecursively()
                                                       : QFile::remove(entry.filePath())) &&
                  removed;
    }
    return removed;
}

} // namespace

TestFtpServer *SuiteFtpServers::freshServer(TestFtpServer::Kind kind, QString *error)
{
    std::unique_ptr<TestFtpServer> &server = mServers[kind];
    if (server) {
        // The last case's client may still be saying goodbye; what the server writes after that
        // must not land in the next case's folder.
        if (!server->waitUntilIdle(error))
            return nullptr;
        if (!emptyFolder(server->root())) {
            *error = QStringLiteral("cannot empty the server's folder %1").arg(server->root());
            return nullptr;
        }
        return server.get();
    }

    // vsftpd enters its folder as its own user, who must be able to pass through this one.
    QFile::setPermissions(mRoot.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther);
    TestFtpServer::Options options;
    options.kind = kind;
    options.root = mRoot.filePath(TestFtpServer::kindName(kind));
    if (!QDir().mkpath(options.root)) {
        *error = QStringLiteral("cannot create %1").arg(options.root);
        return nullptr;
    }
    auto started = std::make_unique<TestFtpServer>();
    if (!started->start(options, error))
        return nullptr;
    server = std::move(started);
    return server.get();
}
