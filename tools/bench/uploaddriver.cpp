// Uploads one file through the real upload session, the way the program does, but without a
// window: the session hosts the FTP component and the watchdog timer as in the program, and the
// view shows nothing. Used to measure what waiting for a slow server costs.
//
//   parcelup_uploaddriver --host 127.0.0.1:2121 --user tester --password secret --file site.bin
//                         [--active]
//
// Exits with 0 when the session reports success, 1 when the run was aborted, 2 on bad arguments.

#include "classupload.h"
#include "uploadview.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

// The smallest view: nothing to show.
class SilentView : public UploadView
{
public:
    void runStarted() override {}
    void stepStarted(RunStep) override {}
    void stepEnded(RunStep, bool) override {}
    void fileStarted(FileAction, const QString &) override {}
    void progressed(qint64, qint64, std::optional<qint32>) override {}
    void runSummarised(const RunSummary &) override {}
    void runEnded(const RunResult &) override {}
    void runCancelled() override {}
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Uploads one file through the upload session."));
    parser.addHelpOption();
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("FTP server"),
                                  QStringLiteral("host"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("user name"),
                                  QStringLiteral("name"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("password"),
                                      QStringLiteral("password"));
    const QCommandLineOption file(QStringLiteral("file"), QStringLiteral("file to upload"),
                                  QStringLiteral("path"));
    const QCommandLineOption active(QStringLiteral("active"), QStringLiteral("use active mode"));
    parser.addOptions({host, user, password, file, active});
    parser.process(application);
    if (!parser.isSet(host) || !parser.isSet(user) || !parser.isSet(file)) {
        std::fputs("--host, --user and --file are needed\n", stderr);
        return 2;
    }
    const QFileInfo source(parser.value(file));
    if (!source.isFile()) {
        std::fputs("--file must name a file\n", stderr);
        return 2;
    }

    // Like the program, the session runs before any event loop is started: it waits by
    // processing events itself.
    SilentView view;
    classUpload::setViewProvider([&view](RunControl &) -> UploadView & { return view; });
    classUpload &session = classUpload::instance();
    session.FTPHost(parser.value(host));
    session.FTPLogonName(parser.value(user));
    session.FTPLogonPassword(parser.value(password));
    session.FTPDisablePasv(!parser.isSet(active));
    session.LocalBaseDir(source.absolutePath());
    session.RemoteBaseDir(QString());

    session.FTPConnect();
    if (!session.FTPAborted())
        session.SetRemoteBaseDir();
    if (!session.FTPAborted())
        session.FTPUploadFile(source.fileName().toLower(), source.fileName());
    const bool failed = session.FTPAborted();
    if (!failed)
        session.FTPDisconnect();
    session.releaseFtpComponent();
    classUpload::setViewProvider(nullptr);
    std::fputs(failed ? "upload failed\n" : "upload done\n", stderr);
    return failed ? 1 : 0;
}
