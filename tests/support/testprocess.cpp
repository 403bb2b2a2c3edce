#include "testprocess.h"

#include <QProcess>
#include <QTcpServer>

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
