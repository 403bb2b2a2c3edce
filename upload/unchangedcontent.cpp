#include "classupload.h"
#include "contentdigest.h"
#include "pathhelpers.h"
#include "stringtable.h"
#include "uploadorder.h"

#include <QCoreApplication>

// Whether a file must go to the server. Site generators write every page on each build: the times
// change, often the inode too, the bytes mostly do not. The identity answers first and reads
// nothing: unchanged means not sent. Only a file that has the size it was uploaded with and a new
// identity is read, once, and its digest compared with that of the bytes uploaded (taken while
// they were sent, see FTPPutFile). A different size is a change without reading.
//
// Markers from a version that kept no digests are not compared: such a file is uploaded once when
// its identity changed, and has its digest from then on. Reading the unchanged files to give them
// digests would cost a read of the whole site on the first run after the update, for a saving only
// on the next rebuild.

namespace {

const QString kUploadLogName = UploadLogName();

} // namespace

bool classUpload::NeedsUpload(const QString &sitePath, const QString &nativePath,
                              const FileIdentity &identity)
{
    // The upload log goes with every run, whatever it holds: on the server it records that the
    // run completed, and the next run's clean-up reads it there.
    if (sitePath == kUploadLogName)
        return true;
    // Changed within the current tick of the file clock: it may be written again unseen while it
    // is read, so its content proves nothing yet (see ChangeMarkerStore::readIdentity).
    if (identity.changedNs == ChangeMarkerStore::kUnsettledChangeTime)
        return true;
    const std::optional<PublishedFile> last = markers().lastUpload(nativePath);
    if (!last)
        return true;
    if (last->identity == identity)
        return false;
    if (last->identity.size != identity.size || last->digest.isEmpty())
        return true;

    ++mContentCheck.filesRead;
    ContentDigest digest;
    const bool read = digest.addFile(nativePath);
    // Written while it was read: what was read is not the file as it is now.
    const std::optional<FileIdentity> after = ChangeMarkerStore::readIdentity(nativePath);
    if (!read || digest.bytesAdded() != identity.size || !after ||
        !ChangeMarkerStore::sameState(identity, *after) || digest.finish() != last->digest)
        return true;
    ++mContentCheck.filesUnchanged;
    mContentCheck.renewed.append({nativePath, identity});
    return false;
}

void classUpload::FinishContentCheck()
{
    // A preview changes no marker.
    if (!mSettings.mPreviewOnly)
        markers().renewIdentities(mContentCheck.renewed);
    if (mContentCheck.filesRead > 0)
        DebugNote(ResourceString(MessageId::UnchangedContentSkipped,
                                 {QString::number(mContentCheck.filesUnchanged),
                                  QString::number(mContentCheck.filesRead)}));
    mContentCheck = ContentCheck{};
}

StepOutcome classUpload::KeepChangedFiles()
{
    QList<UploadItem> changed;
    double totalBytes = 0;
    for (const UploadItem &item : std::as_const(mQueue.mUploadList)) {
        const std::optional<FileIdentity> identity =
            ChangeMarkerStore::readIdentity(item.NativePath);
        const qint32 readBefore = mContentCheck.filesRead;
        // A file gone since the scan stays on the list; its upload then says what became of it.
        const bool needed = !identity || NeedsUpload(item.Path, item.NativePath, *identity);
        if (mContentCheck.filesRead != readBefore) {
            // Reading a large site takes a while: the window repaints and can be cancelled, and
            // the reading is progress for the watchdog.
            ResetWatchDog();
            QCoreApplication::processEvents();
        }
        if (needed) {
            changed.append(item);
            totalBytes += static_cast<double>(item.Size);
        }
        // Cancelled while the window had its turn: what was read so far is kept.
        if (!Outcome())
            break;
    }
    FinishContentCheck();
    mQueue.mUploadList = changed;
    mQueue.mUploadCount = static_cast<qint32>(changed.size());
    mQueue.mTotalBytes = totalBytes;
    return Outcome();
}
