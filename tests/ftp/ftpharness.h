#pragma once

#include "ftpcontrol.h"
#include "testftpserver.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// What the end-to-end tests of the FTP component share: a server in a temporary root folder, a
// component pointed at it, and recorders for its three signals.
struct FtpHarness
{
    QTemporaryDir serverRoot;
    QTemporaryDir localFolder;
    // The component's per-user files (certificates, hosts that spoke TLS), away from the user's
    // own: a server on a reused port must not meet what an earlier run remembered.
    QTemporaryDir userState;
    TestFtpServer server;
    FtpControl ftp;
    QSignalSpy completions{&ftp, &FtpControl::OperationComplete};
    QSignalSpy activity{&ftp, &FtpControl::Activity};
    QStringList debug;

    FtpHarness()
    {
        ftp.setCertificateStorePath(userState.filePath(QStringLiteral("known-certificates")));
        QObject::connect(&ftp, &FtpControl::DebugMessage, &ftp,
                         [this](const QString &text) { debug.append(text); });
    }

    // A failed test shows the dialogue that led to it (every test does with
    // PARCELUP_SHOW_DIALOGUE=1 in the environment).
    ~FtpHarness()
    {
        if (QTest::currentTestFailed() || qEnvironmentVariableIsSet("PARCELUP_SHOW_DIALOGUE"))
            qWarning("Dialogue:\n%s", qPrintable(debug.join(QString())));
    }
    FtpHarness(const FtpHarness &) = delete;
    FtpHarness &operator=(const FtpHarness &) = delete;

    [[nodiscard]] bool startServer(TestFtpServer::Options options, QString *error)
    {
        if (options.root.isEmpty())
            options.root = serverRoot.path();
        return server.start(options, error);
    }

    void pointAtServer(bool passive)
    {
        ftp.setHost(server.host());
        ftp.setUserName(server.user());
        ftp.setPassword(server.password());
        ftp.setPassive(passive);
    }

    // Waits for the next OperationComplete not yet taken and returns its result, or -1 when none
    // came in time.
    [[nodiscard]] int waitForCompletion(int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (completions.size() <= taken) {
            if (deadline.hasExpired() ||
                !completions.wait(static_cast<int>(deadline.remainingTime())))
                break;
        }
        if (completions.size() <= taken)
            return -1;
        return completions.at(taken++).at(1).toInt();
    }
    qsizetype taken = 0;

    // Connect and wait; the result.
    [[nodiscard]] int connectAndWait(bool passive = true)
    {
        pointAtServer(passive);
        ftp.Connect();
        return waitForCompletion();
    }

    [[nodiscard]] QString serverPath(const QString &name) const
    {
        return serverRoot.filePath(name);
    }
    [[nodiscard]] QString localPath(const QString &name) const
    {
        return localFolder.filePath(name);
    }
};

// Options for a server of the kind in a test row's "kind" column.
inline TestFtpServer::Options ServerOptions(int kind)
{
    TestFtpServer::Options options;
    options.kind = TestFtpServer::Kind(kind);
    return options;
}

// A file of the given size with content that differs from byte to byte and from block to block,
// written piece by piece so that large files cost no memory.
inline bool WriteTestFile(const QString &path, qint64 size, quint32 seed = 1)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1 << 16, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (qint64 written = 0; written < size;) {
        for (char &byte : block) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<char>(state >> 24);
        }
        const qint64 piece = std::min<qint64>(block.size(), size - written);
        if (file.write(block.constData(), piece) != piece)
            return false;
        written += piece;
    }
    return true;
}

inline QByteArray Sha256OfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

// Starts the server or fails the test with the reason.
#define START_FTP_SERVER(harness, options)                                                         \
    do {                                                                                           \
        QString startError;                                                                        \
        QVERIFY2((harness).startServer((options), &startError), qPrintable(startError));           \
    } while (false)
