// What uploading under a temporary name and renaming costs, against uploading straight: the FTP
// component alone uploads the same files twice over one connection, first under their own names,
// then each to a temporary name followed by RNFR and RNTO onto the file the first pass left (a
// replacement, as a republication does). Prints the wall time of both passes and per file.
//
//   parcelup_renamecost --host 127.0.0.1:2121 --user tester --password secret --folder DIR
//
// Every regular file in DIR is uploaded. Exits with 0 when every request succeeded, 1 when one
// failed, 2 on bad arguments. Run through tools/bench/bench-rename.sh.

#include "ftpcontrol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>

namespace {

// Waits for the request just started; its result.
int finished(FtpControl &ftp)
{
    QEventLoop loop;
    int result = -1;
    QObject::connect(&ftp, &FtpControl::OperationComplete, &loop, [&](int, int outcome) {
        result = outcome;
        loop.quit();
    });
    loop.exec();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Straight uploads against temporary name "
                                                    "and rename."));
    parser.addHelpOption();
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("FTP server"),
                                  QStringLiteral("host"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("user name"),
                                  QStringLiteral("name"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("password"),
                                      QStringLiteral("password"));
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("files to upload"),
                                    QStringLiteral("path"));
    parser.addOptions({host, user, password, folder});
    parser.process(application);
    const QDir source(parser.value(folder));
    const QStringList names = source.entryList(QDir::Files, QDir::Name);
    if (!parser.isSet(host) || !parser.isSet(user) || names.isEmpty()) {
        std::fputs("--host, --user and a --folder with files are needed\n", stderr);
        return 2;
    }

    FtpControl ftp;
    ftp.setHost(parser.value(host));
    ftp.setUserName(parser.value(user));
    ftp.setPassword(parser.value(password));
    ftp.setPassive(true);
    ftp.Connect();
    if (finished(ftp) != 0) {
        std::fputs("the log-in failed\n", stderr);
        return 1;
    }

    const auto pass = [&](bool viaTemporary) -> qint64 {
        QElapsedTimer clock;
        clock.start();
        for (const QString &name : names) {
            const QString temporary = QStringLiteral(".") + name + QStringLiteral(".part");
            ftp.PutFile(source.filePath(name), viaTemporary ? temporary : name);
            if (finished(ftp) != 0)
                return -1;
            if (viaTemporary) {
                ftp.RenameFile(temporary, name);
                if (finished(ftp) != 0)
                    return -1;
            }
        }
        return clock.elapsed();
    };
    const qint64 straight = pass(false);
    const qint64 renamed = pass(true);
    ftp.Disconnect();
    if (straight < 0 || renamed < 0) {
        std::fprintf(stderr, "a request failed: result %d (%s)\n", int(ftp.result()),
                     qPrintable(ftp.refusedCommand()));
        return 1;
    }
    const auto count = static_cast<double>(names.size());
    const auto straightMs = static_cast<double>(straight);
    const auto renamedMs = static_cast<double>(renamed);
    std::printf("files %lld\nstraight %.0f ms (%.1f ms per file)\n"
                "temporary-and-rename %.0f ms (%.1f ms per file)\n"
                "rename cost %.1f ms per file (%+.0f %%)\n",
                static_cast<long long>(names.size()), straightMs, straightMs / count, renamedMs,
                renamedMs / count, (renamedMs - straightMs) / count,
                100.0 * (renamedMs - straightMs) / straightMs);
    return 0;
}
