#include "viewtexts.h"

#include "formatremainingtime.h"
#include "ftpcertificatecheck.h"
#include "stringtable.h"

#include <QLocale>

namespace ViewTexts {

QString remainingTimeUnknown()
{
    return ResourceString(MessageId::RemainingTimeUnknown);
}

QString remainingTime(std::optional<qint32> secondsLeft)
{
    if (!secondsLeft)
        return QString();
    if (*secondsLeft == 0)
        return ResourceString(MessageId::RemainingTimePrefix) +
               ResourceString(MessageId::AlmostDone);
    return ResourceString(MessageId::RemainingTimePrefix) + FormatRemainingTime(*secondsLeft);
}

std::optional<float> progressPercent(qint64 bytesDone, qint64 bytesTotal)
{
    if (bytesTotal == 0)
        return std::nullopt;
    return static_cast<float>(double(bytesDone) / double(bytesTotal) * 100.0);
}

QString retryPending(qint32 secondsLeft)
{
    return ResourceString(MessageId::RetryPending, {QString::number(secondsLeft)});
}

QString fileActionCaption(FileAction action)
{
    switch (action) {
    case FileAction::Reading:
        return ResourceString(MessageId::ReadingFile);
    case FileAction::DeletingFile:
        return ResourceString(MessageId::DeletingFile);
    case FileAction::DeletingFolder:
        return ResourceString(MessageId::DeletingFolder);
    case FileAction::Uploading:
        break;
    }
    return ResourceString(MessageId::UploadingFile);
}

QString transferred(const RunSummary &summary)
{
    const QLocale locale;
    // Kilobytes are 1000 bytes, cut off rather than rounded.
    return locale.toString(summary.filesDone) + ResourceString(MessageId::FilesCountSuffix) +
           locale.toString(summary.bytesDone / 1000) + ResourceString(MessageId::KilobytesSuffix);
}

QString duration(const RunSummary &summary)
{
    return FormatRemainingTime(summary.elapsedSeconds);
}

QString speed(const RunSummary &summary)
{
    return QLocale().toString(summary.kilobytesPerSecond, 'f', 2) +
           ResourceString(MessageId::KilobytesPerSecondSuffix);
}

namespace {

// "dd.MM.yyyy" in the user's time zone, as German texts write a date.
QString date(const QDateTime &when)
{
    return when.toLocalTime().toString(QStringLiteral("dd.MM.yyyy"));
}

// "AB:CD:..." in two lines of sixteen bytes each.
QString fingerprintLines(const QByteArray &fingerprint)
{
    const QString readable = FtpCertificateCheck::readable(fingerprint);
    const qsizetype half = (readable.size() + 1) / 2;
    return readable.left(half - 1) + QLatin1Char('\n') + readable.mid(half);
}

} // namespace

QString message(const UserMessage &message)
{
    const QString text = MessageText(message.id, message.arguments);
    const QString why = detail(message);
    return why.isEmpty() ? text : text + QLatin1Char(' ') + why;
}

QString detail(const UserMessage &message)
{
    if (message.detailId == MessageId::None)
        return QString();
    return MessageText(message.detailId, message.detailArguments);
}

QString previewLine(PreviewAction action, const QString &remotePath, qint64 bytes)
{
    // Filled in one pass: a name such as "100%1.html" must reach the line as it is, where chained
    // arg() calls would fill its "%1" with the next argument.
    switch (action) {
    case PreviewAction::Upload:
        return message({MessageId::PreviewUpload, {remotePath, bytes}});
    case PreviewAction::DeleteFile:
        return message({MessageId::PreviewDeleteFile, {remotePath}});
    case PreviewAction::DeleteFolder:
        break;
    }
    return message({MessageId::PreviewDeleteFolder, {remotePath}});
}

QString massDeletionQuestion(qint64 filesToDelete, qint64 filesListed)
{
    return message({MessageId::MassDeletionQuestion, {filesToDelete, filesListed}});
}

QString certificateQuestion(const ChangedCertificate &certificate)
{
    const FtpCertificateSummary &presented = certificate.presented;
    const QStringList lines{
        MessageText(MessageId::CertificateQuestion, {certificate.host}),
        QString(),
        ResourceString(MessageId::CertificateQuestionNew),
        fingerprintLines(presented.fingerprint),
        ResourceString(MessageId::CertificateQuestionTrusted),
        fingerprintLines(certificate.trustedFingerprint),
        QString(),
        MessageText(MessageId::CertificateQuestionSubject, {presented.subject}),
        MessageText(MessageId::CertificateQuestionIssuer, {presented.issuer}),
        MessageText(MessageId::CertificateQuestionValidity,
                    {date(presented.validFrom), date(presented.validUntil)}),
        QString(),
        ResourceString(MessageId::CertificateQuestionAdvice),
    };
    return lines.join(QLatin1Char('\n'));
}

} // namespace ViewTexts
