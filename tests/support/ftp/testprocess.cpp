#include "testprocess.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <unistd.h>

QString TestSourceDirectory()
{
    const QByteArray fromEnvironment = qgetenv("PARCELUP_SOURCE_DIR");
    if (!fromEnvironment.isEmpty())
        return QString::fromLocal8Bit(fromEnvironment);
    return QStringLiteral(PARCELUP_TEST_SOURCE_DIR);
}

bool RunToCompletion(const QString &program, const QStringList &arguments, const QByteArray &input,
                     QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        *error = program + QStringLiteral(": ") + process.errorString();
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) +
                 QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

quint16 FreePort(const QHostAddress &address)
{
    QTcpServer probe;
    if (!probe.listen(address, 0))
        return 0;
    return probe.serverPort();
}

std::unique_ptr<QProcess> StartPortReportingHelper(const QStringList &arguments, quint16 *port,
                                                   QString *error)
{
    return StartPortReportingServer(QStringLiteral("/usr/bin/python3"), arguments, port, error);
}

std::unique_ptr<QProcess> StartPortReportingServer(const QString &program,
                                                   const QStringList &arguments, quint16 *port,
                                                   QString *error)
{
    constexpr int startDeadlineMs = 20000;
    *port = 0;
    const QString name = arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
    auto process = std::make_unique<QProcess>();
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    if (!process->waitForStarted(startDeadlineMs)) {
        *error = program + QStringLiteral(" did not start: ") + process->errorString();
        return nullptr;
    }
    QDeadlineTimer deadline(startDeadlineMs);
    while (!process->canReadLine()) {
        if (process->state() != QProcess::Running || deadline.hasExpired() ||
            !process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            if (process->canReadLine())
                break;
            // How it went tells a missing package (an exit, with Python's complaint above) from a
            // slow start or a lost wake-up (still running).
            QString how;
            if (process->state() != QProcess::NotRunning)
                how = QStringLiteral("still running, %1 ms before the deadline: %2")
                          .arg(deadline.remainingTime())
                          .arg(process->errorString());
            else if (process->exitStatus() == QProcess::CrashExit)
                how = QStringLiteral("ended by a signal");
            else
                how = QStringLiteral("exited with status %1").arg(process->exitCode());
            *error = name + QStringLiteral(" printed no port (%1; is what it needs "
                                           "installed?)")
                                .arg(how);
            return nullptr;
        }
    }
    const QByteArray line = process->readLine().trimmed();
    *port = line.startsWith("PORT ") ? static_cast<quint16>(line.mid(5).toUInt()) : 0;
    if (*port == 0) {
        *error = name + QStringLiteral(" printed \"%1\"").arg(QString::fromLocal8Bit(line));
        return process; // running: the caller stops it as any other
    }
    return process;
}
