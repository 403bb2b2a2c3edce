#include "sessionpublication.h"

#include "classupload.h"
#include "sessionaccess.h"
#include "sitefixture.h"

#include <QFile>
#include <filesystem>

SessionPublication::SessionPublication()
{
    // Removed by its bytes instead (see the destructor).
    mSite.setAutoRemove(false);
    SiteFixture::write(site(), SiteFixture::sampleSite());
}

SessionPublication::~SessionPublication()
{
    classUploadTestAccess::closeDebugLog();
    mServer.reset();
    // QTemporaryDir cannot remove names that are not UTF-8, which some cases write.
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(site()).toStdString(), ignored);
}

bool SessionPublication::useSuiteServer(SuiteFtpServers &servers, TestFtpServer::Kind kind,
                                        QString *error)
{
    mSuiteServer = servers.freshServer(kind, error);
    return mSuiteServer != nullptr;
}

bool SessionPublication::startServer(TestFtpServer::Options options, QString *error)
{
    options.root = serverRoot();
    mServer = std::make_unique<TestFtpServer>();
    return mServer->start(options, error);
}

void SessionPublication::configure(classUpload &session) const
{
    session.LocalBaseDir(site());
    session.RemoteBaseDir(QStringLiteral("htdocs"));
    session.RemoteURL(QStringLiteral("http://www.example.de/"));
    const TestFtpServer &server = mServer ? *mServer : *mSuiteServer;
    session.FTPHost(server.host());
    session.FTPLogonName(server.user());
    session.FTPLogonPassword(server.password());
    session.FTPDisablePasv(true);
    session.FTPDifferentialMode(true);
}

QMap<QString, QByteArray> SessionPublication::serverFiles() const
{
    return SiteFixture::read(serverBase());
}

QMap<QString, QByteArray> SessionPublication::expectedOnServer() const
{
    return SiteFixture::expectedOnServer(SiteFixture::read(site()));
}
