#include "classupload.h"
#include "contentdigest.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "ftpresult.h"
#include "pathhelpers.h"
#include "stringtable.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <algorithm>

namespace {

// A broken transfer of a file this large is continued from what the server holds; a smaller one
// costs less to send again than the SIZE that would find out where it stopped.
constexpr qint64 kContinueFrom = 1000 * 1000;

// Temporary names begin with "." so that web servers neither list nor serve them, and carry a
// random part so that nobody guesses one while it is being written.
const QString kTemporaryPrefix = QStringLiteral(".parcelup-");

QString newTemporaryName()
{
    QRandomGenerator *random = QRandomGenerator::global();
    return kTemporaryPrefix + QString::number(random->generate64(), 16).rightJustified(16, u'0');
}

// Only names of the shape this program makes are ever deleted as leftovers: a note in the store
// that names anything else (a damaged or foreign store) deletes nothing.
bool isTemporaryName(const QString &name)
{
    if (name.size() != kTemporaryPrefix.size() + 16 || !name.startsWith(kTemporaryPrefix))
        return false;
    return std::all_of(name.begin() + kTemporaryPrefix.size(), name.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
    });
}

// A server that takes no file of that name: 553 (name not allowed), or 550 (no access to it), as
// servers answer names that begin with ".". A full disk (552) or "try again" (4xx) is no reason to
// give temporary names up.
bool refusesTheName(qint16 result)
{
    return FtpResult::replyCode(result) == 550 || FtpResult::replyCode(result) == 553;
}

QString storeKey(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

AsyncStep<std::optional<qint16>>
classUpload::ReplacementRequestOn(int connection, QString realName,
                                  std::function<void(FtpControl &)> &start)
{
    const RequestOutcome outcome = co_await Request(connection, start);
    switch (outcome.ending()) {
    case RequestOutcome::Ending::NotStarted:
        RecordFailure(MessageId::FileNotUploaded, realName);
        co_return std::nullopt;
    case RequestOutcome::Ending::Interrupted:
        co_return std::nullopt; // the cancellation's or the time-out's message stands
    case RequestOutcome::Ending::Completed:
        break;
    }
    if (IsOwnAbort(outcome))
        co_return std::nullopt;
    co_return outcome.result();
}

bool classUpload::ReplacesLiveFile(const QString &sitePath, const QString &localFile)
{
    // Live here: its last upload went to this destination, or the server's own upload log (read
    // by the clean-up) names it.
    const PathAndFileName parts = SplitPathAndFileName(sitePath);
    const QString folderLine =
        parts.DirName.isEmpty() ? QStringLiteral("\\") : parts.DirName + QLatin1Char('\\');
    return mCleanUp.mNamedByLogs.contains(folderLine + parts.FileName) ||
           markers().lastUpload(localFile).has_value();
}

AsyncStep<bool> classUpload::PublishFileOn(int connection, QString localFile, QString folder,
                                           QString realName, bool replacing, QString via)
{
    FtpControl &component = ftpHost().component(connection);
    // A file written while it is on its way reaches the server without its last change, or as a
    // mix of old and new; the run must not call that published. It is sent again, and a file that
    // never holds still is reported like one that could not be sent.
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        // Taken before the transfer, so that a write during it leaves the file marked.
        const std::optional<FileIdentity> identity = ChangeMarkerStore::readIdentity(localFile);

        // 1. The name it goes to, and how much of it the server holds from a broken transfer.
        Placement place = co_await ChoosePlacementOn(connection, localFile, folder, via, realName,
                                                     replacing, identity);
        if (!Outcome())
            co_return false;
        // 2. The name on the disk before the first byte goes, so no run leaves a file behind
        // that the next one does not know of.
        place = RecordPlacement(localFile, place, identity);

        // 3. Stored, or continued. The digest of the bytes as they are sent, kept with the
        // marker: no second read. Shared with the component, which may outlive this step when
        // the run is cancelled.
        auto sent = std::make_shared<ContentDigest>();
        Step step = co_await TransferOn(connection, localFile, place, sent);
        // A server that will not continue (REST, STOR or APPE refused) gets the whole file.
        if (step == Step::Refused && place.offset > 0) {
            place.offset = 0;
            sent = std::make_shared<ContentDigest>();
            step = co_await TransferOn(connection, localFile, place, sent);
        }
        if (step == Step::Refused && place.temporary() && refusesTheName(component.result())) {
            sent = std::make_shared<ContentDigest>();
            const QString refusal =
                QStringLiteral("STOR %1").arg(FtpResult::replyCode(component.result()));
            step = co_await FallBackToDirectOn(connection, localFile, place, refusal, sent);
            place.storedName = realName;
            place.offset = 0;
        }
        if (!place.via.isEmpty() && !mLanes.pathsProven) {
            // The first file by its path says whether the server takes paths at all. One that
            // does not refuses it for good (550, 553, 501), under its temporary name and its own
            // alike; the connections then walk into the folders, and this file goes again from
            // its own.
            if (step == Step::Refused && FtpResult::isPermanentRefusal(component.result())) {
                if (mLanes.byPath)
                    DebugNote(ResourceString(
                        MessageId::PathsRefused,
                        {QStringLiteral("STOR %1").arg(FtpResult::replyCode(component.result()))}));
                mLanes.byPath = false;
                co_return false;
            }
            mLanes.pathsProven = step == Step::Done;
        }
        if (step == Step::Refused)
            RecordFault(connection, MessageId::FileNotUploaded, realName);
        if (step != Step::Done || !Outcome())
            co_return false; // stays marked; a temporary one is continued or deleted next time

        // 4. Still the file that was sent.
        const std::optional<FileIdentity> now = ChangeMarkerStore::readIdentity(localFile);
        // Gone since: what was sent was the file as it was; the next run deletes it on the server.
        if (identity && now && !ChangeMarkerStore::sameState(*identity, *now)) {
            if (attempt == attempts) {
                RecordFailure(MessageId::FileNotUploaded, realName);
                co_return false;
            }
            DebugNote(ResourceString(MessageId::FileChangedDuringUpload, {realName}));
            continue;
        }

        if (place.temporary()) {
            // 5. Whole on the server, as far as the server can tell.
            if (co_await VerifyStoredSizeOn(connection, place, identity ? identity->size : -1) !=
                Step::Done)
                co_return false;
            // 6. In place, in one step that visitors see as the old file, then the new.
            if (co_await PutInPlaceOn(connection, localFile, place) != Step::Done)
                co_return false;
        }

        // 7. Published. A digest only of the whole file as it was when the transfer started: a
        // continued transfer saw only its end, and its marker gets none: hashing the part sent
        // before would mean reading up to the whole file again; without a digest the file is
        // at worst sent once more after a rewrite with the same bytes.
        if (identity)
            markers().clearMarker(localFile, *identity,
                                  sent->bytesAdded() == identity->size ? sent->finish()
                                                                       : QByteArray());
        else
            markers().forgetPending(localFile);
        co_return Outcome().isDone();
    }
}

AsyncStep<classUpload::Placement>
classUpload::ChoosePlacementOn(int connection, QString localFile, QString folder, QString via,
                               QString realName, bool replacing,
                               std::optional<FileIdentity> identity)
{
    Placement place{folder, realName, realName, 0, via};
    if (folder.isEmpty() || !identity)
        co_return place;
    const bool temporary = replacing && !markers().uploadsDirectly();
    const std::optional<PendingUpload> pending = markers().pendingUpload(localFile);
    if (pending && pending->folder == folder) {
        // The transfer a broken run left is taken up again under its name; as long as the local
        // file is the one it started with, from where it stopped. A file that was on its way
        // under its own name is that broken transfer by now, whatever stood there before.
        const bool unchanged = pending->identity == *identity &&
                               identity->changedNs != ChangeMarkerStore::kUnsettledChangeTime &&
                               identity->size >= kContinueFrom;
        const bool direct = pending->storedName == realName;
        if ((direct && unchanged) || (temporary ? isTemporaryName(pending->storedName) : direct)) {
            place.storedName = pending->storedName;
            if (unchanged)
                place.offset = co_await ContinuableBytesOn(connection, place, identity->size);
            co_return place;
        }
    }
    if (temporary)
        place.storedName = newTemporaryName();
    co_return place;
}

AsyncStep<qint64> classUpload::ContinuableBytesOn(int connection, Placement place, qint64 localSize)
{
    FtpControl &component = ftpHost().component(connection);
    std::function<void(FtpControl &)> start = [&place](FtpControl &ftp) {
        ftp.QueryFileSize(place.remote(place.storedName));
    };
    const std::optional<qint16> result =
        co_await ReplacementRequestOn(connection, place.realName, start);
    if (!result || *result != 0) {
        // Not there (550), or a server without SIZE: sent from the start.
        if (result)
            RecordIfConnectionLost(connection);
        co_return 0;
    }
    const qint64 held = component.fileSize();
    if (held <= 0 || held >= localSize)
        co_return 0;
    DebugNote(ResourceString(MessageId::UploadContinued,
                             {JoinRemotePath(place.folder, place.realName), QString::number(held),
                              QString::number(localSize)}));
    co_return held;
}

classUpload::Placement classUpload::RecordPlacement(const QString &localFile, Placement place,
                                                    const std::optional<FileIdentity> &identity)
{
    // A direct transfer is recorded only when it is large enough to be continued.
    if (!identity || (!place.temporary() && identity->size < kContinueFrom))
        return place;
    if (markers().recordPending(localFile, {place.folder, place.storedName, *identity}))
        return place;
    // The temporary name an earlier attempt recorded is known already; only its identity is
    // old, and that never lets a transfer be continued.
    const std::optional<PendingUpload> noted = markers().pendingUpload(localFile);
    if (place.temporary() && noted && noted->folder == place.folder &&
        noted->storedName == place.storedName) {
        place.offset = 0;
        return place;
    }
    // Unrecorded, a temporary file of a broken transfer would stay on the server for good.
    if (place.temporary()) {
        DebugNote(ResourceString(MessageId::TemporaryNameNotRecorded, {place.realName}));
        place.storedName = place.realName;
        place.offset = 0;
    }
    return place;
}

AsyncStep<classUpload::Step> classUpload::TransferOn(int connection, QString localFile,
                                                     Placement place,
                                                     std::shared_ptr<ContentDigest> sent)
{
    std::function<void(FtpControl &)> start = [&localFile, &place, sent](FtpControl &ftp) {
        const auto watch = [sent](QByteArrayView piece) { sent->add(piece); };
        if (place.offset > 0)
            ftp.PutFileFrom(localFile, place.remote(place.storedName), place.offset, watch);
        else
            ftp.PutFile(localFile, place.remote(place.storedName), watch);
    };
    const std::optional<qint16> result =
        co_await ReplacementRequestOn(connection, place.realName, start);
    if (!result)
        co_return Step::Failed; // the cancellation's or the time-out's message stands
    if (*result == 0)
        co_return Step::Done;
    if (FtpResult::isRefusal(*result))
        co_return Step::Refused;
    RecordFault(connection, MessageId::FileNotUploaded, place.realName);
    co_return Step::Failed;
}

AsyncStep<classUpload::Step> classUpload::VerifyStoredSizeOn(int connection, Placement place,
                                                             qint64 localSize)
{
    FtpControl &component = ftpHost().component(connection);
    std::function<void(FtpControl &)> start = [&place](FtpControl &ftp) {
        ftp.QueryFileSize(place.remote(place.storedName));
    };
    const std::optional<qint16> result =
        co_await ReplacementRequestOn(connection, place.realName, start);
    if (!result)
        co_return Step::Failed;
    // A server without SIZE cannot tell; the transfer's own reply is all there is.
    if (*result != 0)
        co_return RecordIfConnectionLost(connection) ? Step::Failed : Step::Done;
    if (localSize < 0 || component.fileSize() == localSize)
        co_return Step::Done;
    DebugNote(ResourceString(MessageId::StoredSizeDiffers,
                             {JoinRemotePath(place.folder, place.realName),
                              QString::number(component.fileSize()), QString::number(localSize)}));
    RecordFailure(MessageId::FileNotUploaded, place.realName);
    co_return Step::Failed;
}

AsyncStep<classUpload::Step> classUpload::PutInPlaceOn(int connection, QString localFile,
                                                       Placement place)
{
    FtpControl &component = ftpHost().component(connection);
    std::function<void(FtpControl &)> rename = [&place](FtpControl &ftp) {
        ftp.RenameFile(place.remote(place.storedName), place.remote(place.realName));
    };
    std::optional<qint16> result =
        co_await ReplacementRequestOn(connection, place.realName, rename);
    if (!result)
        co_return Step::Failed;
    if (*result == 0)
        co_return Step::Done;
    const QString refused = component.refusedCommand();
    if (FtpResult::isPermanentRefusal(*result) && refused == QLatin1String("RNTO")) {
        // The old file goes first; between the two the name is missing for a moment, never half
        // there.
        DebugNote(ResourceString(MessageId::RenameOntoExistingRefused,
                                 {JoinRemotePath(place.folder, place.realName)}));
        std::function<void(FtpControl &)> deleteOld = [&place](FtpControl &ftp) {
            ftp.DeleteFile(place.remote(place.realName));
        };
        result = co_await ReplacementRequestOn(connection, place.realName, deleteOld);
        if (result && (*result == 0 || FtpResult::isPermanentRefusal(*result)))
            result = co_await ReplacementRequestOn(connection, place.realName, rename);
        if (!result)
            co_return Step::Failed;
        if (*result == 0)
            co_return Step::Done;
    } else if (FtpResult::isPermanentRefusal(*result) && refused == QLatin1String("RNFR")) {
        const QString refusal = QStringLiteral("RNFR %1").arg(FtpResult::replyCode(*result));
        // The marker takes the digest of the first transfer, which saw the whole file.
        const auto unused = std::make_shared<ContentDigest>();
        const Step direct =
            co_await FallBackToDirectOn(connection, localFile, place, refusal, unused);
        if (direct == Step::Refused)
            RecordFault(connection, MessageId::FileNotUploaded, place.realName);
        if (direct != Step::Done)
            co_return Step::Failed;
        // The temporary file is of no use now.
        std::function<void(FtpControl &)> deleteTemporary = [&place](FtpControl &ftp) {
            ftp.DeleteFile(place.remote(place.storedName));
        };
        result = co_await ReplacementRequestOn(connection, place.realName, deleteTemporary);
        co_return result ? Step::Done : Step::Failed;
    }
    if (!RecordIfConnectionLost(connection))
        RecordFault(connection, MessageId::FileNotUploaded, place.realName);
    co_return Step::Failed;
}

AsyncStep<classUpload::Step> classUpload::FallBackToDirectOn(int connection, QString localFile,
                                                             Placement place, QString refusal,
                                                             std::shared_ptr<ContentDigest> sent)
{
    Placement direct = place;
    direct.storedName = place.realName;
    direct.offset = 0;
    const Step step = co_await TransferOn(connection, localFile, direct, sent);
    if (step != Step::Done)
        co_return step;
    // Only now is it the temporary name that the server minds, not the file or the folder.
    markers().rememberDirectUploads();
    DebugNote(ResourceString(MessageId::DirectUploadsFromNowOn, {refusal}));
    co_return Step::Done;
}

void classUpload::DeleteLeftoverTemporaries()
{
    const bool direct = markers().uploadsDirectly();
    if (direct)
        DebugNote(ResourceString(MessageId::DirectUploadsRemembered));
    QSet<QString> queued;
    for (const UploadItem &item : std::as_const(mQueue.mUploadList))
        queued.insert(storeKey(item.NativePath));

    for (const auto &[path, pending] : markers().pendingUploads()) {
        // A file still to be sent takes its transfer up again.
        if (queued.contains(path) && !direct)
            continue;
        // A file's own name is never deleted here: it is the live file, or a new one that the
        // clean-up deletes once the site no longer holds it.
        if (!isTemporaryName(pending.storedName)) {
            if (!queued.contains(path))
                markers().forgetPending(path);
            continue;
        }
        const QString shown = JoinRemotePath(pending.folder, pending.storedName);
        const FolderWalk walk = WalkTo(pending.folder, false);
        if (!walk.run)
            return;
        if (!walk.entered) {
            // A folder that is gone took the file with it.
            if (UnreachableFolderOutcome(walk) == Deletion::Refused)
                markers().forgetPending(path);
            continue;
        }
        if (!IsCurrentDirectory(pending.folder)) {
            if (!Outcome())
                return;
            continue;
        }
        const Deletion outcome = FTPDeleteFile(pending.storedName);
        if (!Outcome())
            return;
        // Refused for good: not there any more (550), or never to be deleted; not tried again.
        if (outcome == Deletion::Done || outcome == Deletion::Refused)
            markers().forgetPending(path);
        if (outcome == Deletion::Done)
            DebugNote(ResourceString(MessageId::LeftoverDeleted, {shown}));
    }
}
