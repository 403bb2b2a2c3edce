#pragma once

#include "suiteftpservers.h"
#include "testftpserver.h"
#include "userfolders.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class classUpload;

// The set-up of a publication through the session against a real server: per-user folders of its
// own, the sample site in a local folder, a server folder and, once started, a server on it: one of
// its own, or the suite's server of that kind. A test creates one per case (in init) and drops it
// in cleanup.
class SessionPublication
{
public:
    SessionPublication();
    ~SessionPublication();
    SessionPublication(const SessionPublication &) = delete;
    SessionPublication &operator=(const SessionPublication &) = delete;

    [[nodiscard]] const IsolatedUserFolders &userFolders() const { return mFolders; }
    [[nodiscard]] QString site() const { return mSite.path(); }
    [[nodiscard]] QString serverRoot() const
    {
        return mSuiteServer ? mSuiteServer->root() : mServerRoot.path();
    }
    // The remote base folder the session publishes to, as the server's folder.
    [[nodiscard]] QString serverBase() const { return serverRoot() + QStringLiteral("/htdocs"); }

    // Starts a server with options on the server folder (options.root is set here); a failure is
    // the test's failure, with the server's reason.
    bool startServer(TestFtpServer::Options options, QString *error);
    // Or, for a case whose server keeps the default options, takes the suite's server of that kind
    // with its folder emptied.
    bool useSuiteServer(SuiteFtpServers &servers, TestFtpServer::Kind kind, QString *error);
    [[nodiscard]] TestFtpServer &server() { return mServer ? *mServer : *mSuiteServer; }
    void stopServer() { mServer.reset(); }

    // Points the session at the site and the server: remote base folder "htdocs", the server's
    // account, passive mode, differential mode and a site address. The test adds or changes the
    // rest before it runs the session.
    void configure(classUpload &session) const;

    // The server's files below the base folder, and what they should be after a publication of
    // the site as it is now.
    [[nodiscard]] QMap<QString, QByteArray> serverFiles() const;
    [[nodiscard]] QMap<QString, QByteArray> expectedOnServer() const;

private:
    IsolatedUserFolders mFolders;
    QTemporaryDir mSite;
    QTemporaryDir mServerRoot;
    std::unique_ptr<TestFtpServer> mServer;
    TestFtpServer *mSuiteServer = nullptr;
};
