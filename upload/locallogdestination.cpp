#include "locallogdestination.h"

#include "privatefolder.h"
#include "programerror.h"
#include "replacefile.h"
#include "systemhelpers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QList>

namespace {

const QString kRecordName = QStringLiteral("upload-log-destinations");
// Far more site folders than anyone publishes from; the oldest lines go first.
constexpr qsizetype kMostSites = 200;

QByteArray siteKey(const QString &siteFolder)
{
    return QCryptographicHash::hash(QDir::cleanPath(siteFolder).toUtf8(),
                                    QCryptographicHash::Sha256)
        .toHex();
}

QByteArray recordLine(const QString &siteFolder, const QByteArray &log, const QString &destination)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(destination.toUtf8());
    hash.addData(QByteArrayView("\n", 1));
    hash.addData(log);
    return siteKey(siteFolder) + ' ' + hash.result().toHex();
}

QList<QByteArray> recordLines()
{
    QFile record(StateFolderPath() + kRecordName);
    if (!record.open(QIODevice::ReadOnly))
        return {};
    return record.readAll().split('\n');
}

} // namespace

bool LocalLogWasWrittenFor(const QString &siteFolder, const QByteArray &log,
                           const QString &destination)
{
    return recordLines().contains(recordLine(siteFolder, log, destination));
}

void RecordLocalLogDestination(const QString &siteFolder, const QByteArray &log,
                               const QString &destination)
{
    const QByteArray site = siteKey(siteFolder) + ' ';
    QByteArray content = recordLine(siteFolder, log, destination) + '\n';
    qsizetype kept = 1;
    for (const QByteArray &line : recordLines()) {
        if (!line.isEmpty() && !line.startsWith(site) && kept++ < kMostSites)
            content += line + '\n';
    }
    try {
        ReplaceFileContents(GetStateFolder() + kRecordName, content);
    } catch (const ProgramError &) {
    }
}
