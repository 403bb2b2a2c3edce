#include "ftperror.h"
#include "ftpharness.h"
#include "ftpresult.h"

#include <QDir>
#include <QFileInfo>

// The single-command requests against real servers, and the rules every request follows: one at
// a time, no line breaks, Result and CurrentDirectory unchanged until the request completes.
class TestFtpCommands : public QObject
{
    Q_OBJECT

    static void prepareRoot(const FtpHarness &h)
    {
        QDir root(h.serverRoot.path());
        root.mkpath(QStringLiteral("docs"));
        root.mkpath(QStringLiteral("empty"));
        QVERIFY(WriteTestFile(h.serverPath(QStringLiteral("old.txt")), 10));
    }

private slots:
    void command_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("verb");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("existsAfter");
        const struct
        {
            const char *row;
            const char *verb;
            const char *name;
            int expected;
            bool existsAfter;
        } cases[] = {
            {"cwd-existing", "CWD", "docs", 0, true},
            {"cwd-missing", "CWD", "nothing", 20550, false},
            {"mkd-new", "MKD", "fresh", 0, true},
            {"mkd-existing", "MKD", "docs", 20550, true},
            {"dele-existing", "DELE", "old.txt", 0, false},
            {"dele-missing", "DELE", "nothing.txt", 20550, false},
            {"dele-folder", "DELE", "docs", 20550, true},
            {"rmd-empty", "RMD", "empty", 0, false},
            {"rmd-missing", "RMD", "nothing", 20550, false},
        };
        for (const auto kind : TestFtpServer::kinds()) {
            for (const auto &c : cases) {
                QTest::addRow("%s-%s", qPrintable(TestFtpServer::kindName(kind)), c.row)
                    << int(kind) << c.verb << c.name << c.expected << c.existsAfter;
            }
        }
    }
    void command()
    {
        QFETCH(int, kind);
        QFETCH(QString, verb);
        QFETCH(QString, name);
        QFETCH(int, expected);
        QFETCH(bool, existsAfter);

        FtpHarness h;
        prepareRoot(h);
        START_FTP_SERVER(h, ServerOptions(kind));
        QCOMPARE(h.connectAndWait(), 0);

        if (verb == QLatin1String("CWD"))
            h.ftp.ChangeDirectory(name);
        else if (verb == QLatin1String("MKD"))
            h.ftp.CreateDirectory(name);
        else if (verb == QLatin1String("DELE"))
            h.ftp.DeleteFile(name);
        else
            h.ftp.RemoveDirectory(name);
        QCOMPARE(h.waitForCompletion(), expected);
        QCOMPARE(int(h.ftp.result()), expected);
        QCOMPARE(QFileInfo::exists(h.serverPath(name)), existsAfter);

        // The folder the server now reports: the new one after a successful CWD only.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        const bool changed = verb == QLatin1String("CWD") && expected == 0;
        QCOMPARE(h.ftp.currentDirectory(),
                 changed ? QStringLiteral("/") + name : QStringLiteral("/"));
    }

    // Requests whose answer is more than success: a rename onto a free or a taken name (replaced,
    // or refused by a server that keeps existing names) and refused at either step, which
    // refusedCommand() tells; SIZE of a file, a missing one, or on a server without SIZE.
    void renameAndSize_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("request"); // "RENAME from to" or "SIZE name"
        QTest::addColumn<QString>("fault");   // "keeps-names", or a --fault for the server
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("refused");
        // Rows without a fault run on every kind of server, the others on the fault server.
        const struct
        {
            const char *row, *request, *fault;
            int expected;
            const char *refused;
        } cases[] = {
            {"onto-nothing", "RENAME new.txt fresh.txt", "", 0, ""},
            {"onto-existing", "RENAME new.txt old.txt", "", 0, ""},
            {"missing-source", "RENAME nothing.txt old.txt", "", 20550, "RNFR"},
            {"size", "SIZE new.txt", "", 0, ""},
            {"size-missing", "SIZE nothing.txt", "", 20550, "SIZE"},
            {"size-folder", "SIZE docs", "", 20550, "SIZE"},
            {"keeping-names", "RENAME new.txt old.txt", "keeps-names", 20550, "RNTO"},
            {"no-renames", "RENAME new.txt fresh.txt", "RNFR=reply 502 No.", 20502, "RNFR"},
            {"no-size", "SIZE new.txt", "SIZE=reply 500 Not understood.", 20500, "SIZE"},
        };
        for (const auto kind : TestFtpServer::kinds()) {
            for (const auto &c : cases) {
                if (*c.fault && kind != TestFtpServer::Kind::Pyftpdlib)
                    continue;
                QTest::addRow("%s-%s", qPrintable(TestFtpServer::kindName(kind)), c.row)
                    << int(kind) << c.request << c.fault << c.expected << c.refused;
            }
        }
    }
    void renameAndSize()
    {
        QFETCH(int, kind);
        QFETCH(QString, request);
        QFETCH(QString, fault);
        QFETCH(int, expected);
        QFETCH(QString, refused);
        const QStringList words = request.split(QLatin1Char(' '));

        FtpHarness h;
        prepareRoot(h);
        QVERIFY(WriteTestFile(h.serverPath(QStringLiteral("new.txt")), 20, 2));
        const QByteArray moving = Sha256OfFile(h.serverPath(words.at(1)));
        const QByteArray before = Sha256OfFile(h.serverPath(words.last()));
        TestFtpServer::Options options = ServerOptions(kind);
        options.refuseRenameOntoExisting = fault == QLatin1String("keeps-names");
        if (fault.contains(QLatin1Char('=')))
            options.faults = QStringList{fault};
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(), 0);

        if (words.first() == QLatin1String("SIZE"))
            h.ftp.QueryFileSize(words.at(1));
        else
            h.ftp.RenameFile(words.at(1), words.at(2));
        QCOMPARE(h.waitForCompletion(), expected);
        QCOMPARE(h.ftp.refusedCommand(), refused);
        if (words.first() == QLatin1String("SIZE")) {
            QCOMPARE(h.ftp.fileSize(), qint64(expected ? -1 : 20));
            return;
        }
        QCOMPARE(Sha256OfFile(h.serverPath(words.at(2))), expected ? before : moving);
        QCOMPARE(QFileInfo::exists(h.serverPath(words.at(1))), expected && !moving.isEmpty());
        // A refused RNFR is not followed by an RNTO the server would take as out of turn.
        QCOMPARE(h.debug.join(QString()).contains(QLatin1String("RNTO")),
                 refused != QLatin1String("RNFR"));
    }

    // FEAT: learnt at log-in for a bare host, where QueryFeatures then sends nothing; asked once
    // when the log-in did not (ftp://).
    void features_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("scheme");
        for (const auto kind : TestFtpServer::kinds()) {
            const QByteArray name = TestFtpServer::kindName(kind).toLatin1();
            QTest::addRow("%s-bare-host", name.data()) << int(kind) << "";
            QTest::addRow("%s-plain-ftp", name.data()) << int(kind) << "ftp://";
        }
    }
    void features()
    {
        QFETCH(int, kind);
        QFETCH(QString, scheme);
        FtpHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.commandLog = h.localPath(QStringLiteral("commands.log"));
        START_FTP_SERVER(h, options);
        h.pointAtServer(true);
        h.ftp.setHost(scheme + h.server.host());
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.ftp.features().has_value(), scheme.isEmpty());
        h.ftp.QueryFeatures();
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY(h.ftp.features() && h.ftp.features()->size && h.ftp.features()->restStream);
        h.ftp.Disconnect();
        QString error;
        const auto commands = h.server.receivedCommands(&error);
        QVERIFY2(commands, qPrintable(error));
        QCOMPARE(commands->count(QStringLiteral("FEAT")), 1);
    }

    void nestedFolders_data() { TestFtpServer::addKindRows(); }
    void nestedFolders()
    {
        QFETCH(int, kind);
        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(kind));
        QCOMPARE(h.connectAndWait(), 0);
        const QString name = QStringLiteral("Ordner mit Leerzeichen und Ümlaut");
        for (int depth = 0; depth < 2; ++depth) {
            h.ftp.CreateDirectory(name);
            QCOMPARE(h.waitForCompletion(), 0);
            h.ftp.ChangeDirectory(name);
            QCOMPARE(h.waitForCompletion(), 0);
        }
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.ftp.currentDirectory(), QStringLiteral("/") + name + QStringLiteral("/") + name);
        QVERIFY(QFileInfo(h.serverPath(name + QStringLiteral("/") + name)).isDir());

        h.ftp.ChangeDirectory(QStringLiteral(".."));
        QCOMPARE(h.waitForCompletion(), 0);
        h.ftp.RemoveDirectory(name);
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY(!QFileInfo::exists(h.serverPath(name + QStringLiteral("/") + name)));
    }

    void lineBreakRefused_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("argument");
        for (const char *request : {"USER", "PASS", "CWD", "MKD", "DELE", "RMD", "RETR", "STOR",
                                    "RNFR", "RNTO", "SIZE", "APPE"}) {
            QTest::addRow("%s-cr-lf", request) << request << "a\r\nDELE b";
            QTest::addRow("%s-lf", request) << request << "a\nb";
            QTest::addRow("%s-cr", request) << request << "a\rb";
        }
    }
    void lineBreakRefused()
    {
        QFETCH(QString, request);
        QFETCH(QString, argument);
        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(int(TestFtpServer::Kind::Pyftpdlib)));
        QCOMPARE(h.connectAndWait(), 0);
        QVERIFY(WriteTestFile(h.localPath(QStringLiteral("f")), 3));
        QTRY_VERIFY(!h.debug.isEmpty());
        const qsizetype transcript = h.debug.size();

        bool refused = false;
        try {
            if (request == QLatin1String("USER")) {
                h.ftp.setUserName(argument);
                h.ftp.Connect();
            } else if (request == QLatin1String("PASS")) {
                h.ftp.setPassword(argument);
                h.ftp.Connect();
            } else if (request == QLatin1String("CWD"))
                h.ftp.ChangeDirectory(argument);
            else if (request == QLatin1String("MKD"))
                h.ftp.CreateDirectory(argument);
            else if (request == QLatin1String("DELE"))
                h.ftp.DeleteFile(argument);
            else if (request == QLatin1String("RMD"))
                h.ftp.RemoveDirectory(argument);
            else if (request == QLatin1String("RETR"))
                h.ftp.GetFile(argument, h.localPath(QStringLiteral("g")));
            else if (request == QLatin1String("RNFR"))
                h.ftp.RenameFile(argument, QStringLiteral("b"));
            else if (request == QLatin1String("RNTO"))
                h.ftp.RenameFile(QStringLiteral("b"), argument);
            else if (request == QLatin1String("SIZE"))
                h.ftp.QueryFileSize(argument);
            else if (request == QLatin1String("APPE"))
                h.ftp.PutFileFrom(h.localPath(QStringLiteral("f")), argument, 1);
            else
                h.ftp.PutFile(h.localPath(QStringLiteral("f")), argument);
        } catch (const FtpError &error) {
            refused = true;
            QCOMPARE(error.number(), int(FtpResult::InvalidArgument));
        }
        QVERIFY(refused);
        QVERIFY(!h.ftp.isBusy());

        // Nothing was sent, nothing completes, and the connection works as before.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.completions.size(), 2);
        // (The component's own remarks, such as what the log-in established, start with "# ".)
        const QStringList sent =
            h.debug.mid(transcript).filter(QRegularExpression(QStringLiteral("^[^#]")));
        QCOMPARE(sent.first(), QStringLiteral("PWD\r\n"));
    }

    // A folder query answered by the server, one request in between, and the same query again:
    // the second one goes over the wire only when the request in between could have moved the
    // server elsewhere. The answer is the server's either way.
    void knownFolder_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("between");
        QTest::addColumn<QString>("folderAfter");
        QTest::addColumn<bool>("askedAgain");
        const struct
        {
            const char *row;
            const char *between;
            const char *folderAfter;
            bool askedAgain;
        } cases[] = {
            {"nothing", "", "/docs", false},
            {"mkd", "MKD fresh", "/docs", false},
            {"dele", "DELE old.txt", "/docs", false},
            {"stor", "STOR new.txt", "/docs", false},
            {"retr", "RETR old.txt", "/docs", false},
            {"cwd", "CWD deeper", "/docs/deeper", true},
            {"cwd-up", "CWD ..", "/", true},
            {"cwd-refused", "CWD nothing", "/docs", true},
            {"mkd-refused", "MKD deeper", "/docs", true},
            {"dele-refused", "DELE nothing.txt", "/docs", true},
            {"stor-refused", "STOR nothing/new.txt", "/docs", true},
            {"retr-refused", "RETR nothing.txt", "/docs", true},
            {"rmd", "RMD empty", "/docs", true},
            {"reconnect", "CONNECT", "/", true},
            {"size", "SIZE old.txt", "/docs", false},
            {"rename", "RENAME old.txt renamed.txt", "/docs", false},
            {"rename-elsewhere", "RENAME deeper ../moved", "/docs", true},
        };
        for (const auto kind : TestFtpServer::kinds()) {
            for (const auto &c : cases) {
                QTest::addRow("%s-%s", qPrintable(TestFtpServer::kindName(kind)), c.row)
                    << int(kind) << c.between << c.folderAfter << c.askedAgain;
            }
        }
    }
    void knownFolder()
    {
        QFETCH(int, kind);
        QFETCH(QString, between);
        QFETCH(QString, folderAfter);
        QFETCH(bool, askedAgain);

        FtpHarness h;
        QDir root(h.serverRoot.path());
        root.mkpath(QStringLiteral("docs/deeper"));
        root.mkpath(QStringLiteral("docs/empty"));
        QVERIFY(WriteTestFile(h.serverPath(QStringLiteral("docs/old.txt")), 10));
        QVERIFY(WriteTestFile(h.localPath(QStringLiteral("new.txt")), 1000));
        TestFtpServer::Options options = ServerOptions(kind);
        options.commandLog = h.localPath(QStringLiteral("commands.log"));
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(), 0);
        h.ftp.ChangeDirectory(QStringLiteral("docs"));
        QCOMPARE(h.waitForCompletion(), 0);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.ftp.currentDirectory(), QStringLiteral("/docs"));

        const QString verb = between.section(QLatin1Char(' '), 0, 0);
        const QString argument = between.section(QLatin1Char(' '), 1);
        if (verb == QLatin1String("CONNECT"))
            h.ftp.Connect();
        else if (verb == QLatin1String("CWD"))
            h.ftp.ChangeDirectory(argument);
        else if (verb == QLatin1String("MKD"))
            h.ftp.CreateDirectory(argument);
        else if (verb == QLatin1String("DELE"))
            h.ftp.DeleteFile(argument);
        else if (verb == QLatin1String("RMD"))
            h.ftp.RemoveDirectory(argument);
        else if (verb == QLatin1String("STOR"))
            h.ftp.PutFile(h.localPath(QStringLiteral("new.txt")), argument);
        else if (verb == QLatin1String("RETR"))
            h.ftp.GetFile(argument, h.localPath(QStringLiteral("copy.txt")));
        else if (verb == QLatin1String("SIZE"))
            h.ftp.QueryFileSize(argument);
        else if (verb == QLatin1String("RENAME"))
            h.ftp.RenameFile(argument.section(QLatin1Char(' '), 0, 0),
                             argument.section(QLatin1Char(' '), 1));
        if (!verb.isEmpty()) {
            const int result = h.waitForCompletion();
            QCOMPARE(result == 0, !between.contains(QLatin1String("nothing")) &&
                                      between != QLatin1String("MKD deeper"));
        }

        // What the component knows without asking is exactly what the query answers from memory.
        QCOMPARE(h.ftp.knownCurrentDirectory(),
                 askedAgain ? std::nullopt : std::optional(folderAfter));
        const qsizetype transcript = h.debug.size();
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.ftp.knownCurrentDirectory(), std::nullopt); // a request is under way
        QVERIFY(h.ftp.isBusy());
        QCOMPARE(h.completions.size() - h.taken, 0); // never inside the call
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.ftp.currentDirectory(), folderAfter);
        QCOMPARE(h.completions.last().at(0).toInt(),
                 int(FtpControl::Request::QueryCurrentDirectory));
        const QStringList said = h.debug.mid(transcript);
        QCOMPARE(said.contains(QStringLiteral("PWD\r\n")), askedAgain);
        QCOMPARE(said.filter(QStringLiteral("# PWD not sent")).size(), askedAgain ? 0 : 1);

        // The server's side: what really crossed the wire.
        h.ftp.Disconnect();
        QString error;
        const auto commands = h.server.receivedCommands(&error);
        QVERIFY2(commands, qPrintable(error));
        QCOMPARE(commands->count(QStringLiteral("PWD")), askedAgain ? 2 : 1);
    }

    // A folder query that fails names no folder: not the answer to the one before, which the
    // change of folder since made wrong, and no folder "still known" for the next query.
    void failedFolderQueryNamesNoFolder_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("refused") << "PWD#2=reply 550 Not now.";
        QTest::newRow("answer-without-folder") << "PWD#2=reply 257 \"/elsewhere";
    }
    void failedFolderQueryNamesNoFolder()
    {
        QFETCH(QString, fault);
        FtpHarness h;
        QDir(h.serverRoot.path()).mkpath(QStringLiteral("docs"));
        TestFtpServer::Options options;
        options.faults = {fault};
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(), 0);
        // PWD, CWD docs, the PWD that fails, PWD.
        for (const bool fails : {false, false, true, false}) {
            if (h.taken == 2)
                h.ftp.ChangeDirectory(QStringLiteral("docs"));
            else
                h.ftp.QueryCurrentDirectory();
            QCOMPARE(h.waitForCompletion() != 0, fails);
            if (fails)
                QCOMPARE(h.ftp.currentDirectory(), QString());
        }
        QCOMPARE(h.ftp.currentDirectory(), QStringLiteral("/docs"));
    }

    // A slow server keeps each request pending long enough to look at the component meanwhile.
    void pendingRequest_data() { TestFtpServer::addKindRows(); }
    void pendingRequest()
    {
        QFETCH(int, kind);
        FtpHarness h;
        QDir(h.serverRoot.path()).mkpath(QStringLiteral("docs"));
        TestFtpServer::Options options = ServerOptions(kind);
        if (options.kind == TestFtpServer::Kind::Pyftpdlib)
            options.delaySeconds = 0.3;
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(), 0);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);

        h.ftp.ChangeDirectory(QStringLiteral("docs"));
        QVERIFY(h.ftp.isBusy());
        for (int i = 0; i < 2; ++i) {
            bool refused = false;
            try {
                if (i == 0)
                    h.ftp.QueryCurrentDirectory();
                else
                    h.ftp.Connect();
            } catch (const FtpError &error) {
                refused = true;
                QCOMPARE(error.number(), int(FtpResult::RequestPending));
            }
            QVERIFY(refused);
        }
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.completions.size(), 3);

        // While the next one is pending, Result and CurrentDirectory still describe the last.
        h.ftp.ChangeDirectory(QStringLiteral("nothing"));
        QCOMPARE(h.waitForCompletion(), 20550);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.ftp.result(), qint16(20550));
        QCOMPARE(h.ftp.currentDirectory(), QStringLiteral("/"));
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.ftp.currentDirectory(), QStringLiteral("/docs"));
    }

    // What the session relies on when the user cancels: Result read right after Abort still
    // says how the previous request went; the aborted one completes once, later, non-zero.
    void abortPendingCommand_data() { TestFtpServer::addKindRows(); }
    void abortPendingCommand()
    {
        QFETCH(int, kind);
        FtpHarness h;
        QDir(h.serverRoot.path()).mkpath(QStringLiteral("docs"));
        TestFtpServer::Options options = ServerOptions(kind);
        if (options.kind == TestFtpServer::Kind::Pyftpdlib)
            options.delaySeconds = 0.3;
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(), 0);

        h.ftp.CreateDirectory(QStringLiteral("made-before-abort"));
        h.ftp.Abort();
        QCOMPARE(h.ftp.result(), qint16(0));
        QCOMPARE(h.completions.size(), 1);
        QCOMPARE(h.waitForCompletion(), int(FtpResult::Aborted));

        // The dialogue stayed in step: the next answers belong to the next requests.
        h.ftp.ChangeDirectory(QStringLiteral("docs"));
        QCOMPARE(h.waitForCompletion(), 0);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.ftp.currentDirectory(), QStringLiteral("/docs"));
        QCOMPARE(h.completions.size(), 4);
    }

    void abortLogin()
    {
        FtpHarness h;
        TestFtpServer::Options options = ServerOptions(int(TestFtpServer::Kind::Pyftpdlib));
        options.delaySeconds = 0.5;
        START_FTP_SERVER(h, options);
        h.pointAtServer(true);
        h.ftp.Connect();
        h.ftp.Abort();
        QCOMPARE(h.waitForCompletion(), int(FtpResult::Aborted));
        QVERIFY(!h.ftp.isConnected());
        QCOMPARE(h.completions.size(), 1);
    }

    // A server that stops answering ends the request with Timeout instead of leaving it pending;
    // an aborted request waits for it only briefly, and ends as aborted.
    void silentServer_data()
    {
        QTest::addColumn<bool>("abort");
        QTest::newRow("waiting") << false;
        QTest::newRow("aborted") << true;
    }
    void silentServer()
    {
        QFETCH(bool, abort);
        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(int(TestFtpServer::Kind::Pyftpdlib)));
        QCOMPARE(h.connectAndWait(), 0);
        // Stopped, not killed: the connection stays open and nothing answers.
        QVERIFY(h.server.suspend());
        FtpTimeouts timeouts;
        timeouts.idle = std::chrono::milliseconds(abort ? 60000 : 1500);
        timeouts.afterAbort = std::chrono::milliseconds(1000);
        h.ftp.setTimeouts(timeouts);
        h.ftp.QueryCurrentDirectory();
        if (abort)
            h.ftp.Abort();
        QCOMPARE(h.waitForCompletion(10000), int(abort ? FtpResult::Aborted : FtpResult::Timeout));
        QVERIFY(!h.ftp.isConnected());
        h.server.resume();
    }

    void withoutConnection_data()
    {
        QTest::addColumn<int>("request");
        for (int request = int(FtpControl::Request::QueryCurrentDirectory);
             request <= int(FtpControl::Request::PutFile); ++request)
            QTest::addRow("%s", QMetaEnum::fromType<FtpControl::Request>().valueToKey(request))
                << request;
    }
    void withoutConnection()
    {
        QFETCH(int, request);
        FtpHarness h;
        QVERIFY(WriteTestFile(h.localPath(QStringLiteral("f")), 3));
        switch (FtpControl::Request(request)) {
        case FtpControl::Request::QueryCurrentDirectory:
            h.ftp.QueryCurrentDirectory();
            break;
        case FtpControl::Request::ChangeDirectory:
            h.ftp.ChangeDirectory(QStringLiteral("x"));
            break;
        case FtpControl::Request::CreateDirectory:
            h.ftp.CreateDirectory(QStringLiteral("x"));
            break;
        case FtpControl::Request::DeleteFile:
            h.ftp.DeleteFile(QStringLiteral("x"));
            break;
        case FtpControl::Request::RemoveDirectory:
            h.ftp.RemoveDirectory(QStringLiteral("x"));
            break;
        case FtpControl::Request::GetFile:
            h.ftp.GetFile(QStringLiteral("x"), h.localPath(QStringLiteral("g")));
            break;
        default:
            h.ftp.PutFile(h.localPath(QStringLiteral("f")), QStringLiteral("x"));
            break;
        }
        QVERIFY(h.ftp.isBusy());
        QCOMPARE(h.completions.size(), 0);
        QCOMPARE(h.waitForCompletion(), int(FtpResult::NotConnected));
        QCOMPARE(h.completions.last().at(0).toInt(), request);
        QVERIFY(!QFileInfo::exists(h.localPath(QStringLiteral("g"))));
    }

    void unreadableLocalFile()
    {
        FtpHarness h;
        bool refused = false;
        try {
            h.ftp.PutFile(h.localPath(QStringLiteral("missing")), QStringLiteral("x"));
        } catch (const FtpError &error) {
            refused = true;
            QCOMPARE(error.number(), int(FtpResult::LocalFileUnreadable));
        }
        QVERIFY(refused);
        QVERIFY(!h.ftp.isBusy());
        // Nothing completes for it: the next request's completion is the first.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), int(FtpResult::NotConnected));
        QCOMPARE(h.completions.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestFtpCommands)
#include "tst_ftpcommands.moc"
