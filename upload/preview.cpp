#include "classupload.h"
#include "pathhelpers.h"
#include "roundhalfeven.h"
#include "uploadorder.h"
#include "uploadview.h"

// The preview of a run (--dry-run). It goes as far as a run goes before its first change on the
// server: the scan, the log-in, the server's old upload log. What the run would then delete is
// listed by the clean-up (FTPDeleteFiles); what it would upload is listed here.

namespace {

const QString kUploadLogName = UploadLogName();

} // namespace

void classUpload::PreviewUploads()
{
    // A real run writes the upload log afresh before the scan, so the log is always among the
    // files it uploads, with the size of the new log; the preview left the old one in place.
    // Unless the server's log could not be read: then it stays, and so would the old local one.
    mQueue.mUploadList.removeIf([](const UploadItem &item) { return item.Path == kUploadLogName; });
    if (!mUploadLog.mServerLogKept) {
        UploadItem log;
        log.Path = kUploadLogName;
        log.LocalPath = kUploadLogName;
        log.NativePath = NativeLocalPath(mSettings.mLocalBaseDir, kUploadLogName);
        log.Size = UploadLogContent().size();
        mQueue.mUploadList.append(log);
    }
    mQueue.mUploadCount = static_cast<qint32>(mQueue.mUploadList.size());
    mQueue.mTotalBytes = 0;
    for (const UploadItem &item : std::as_const(mQueue.mUploadList)) {
        mQueue.mTotalBytes += static_cast<double>(item.Size);
        view().previewEntry(PreviewAction::Upload, RemoteFilePath(item.Path), item.Size);
    }
}

UserMessage classUpload::PreviewSummary() const
{
    const auto kilobytes = static_cast<qint64>(RoundHalfEven(mQueue.mTotalBytes)) / 1000;
    return {MessageId::PreviewSummary,
            {LocalizedCount{mQueue.mUploadCount}, LocalizedCount{kilobytes},
             LocalizedCount{mCleanUp.mPreviewFilesDeleted},
             LocalizedCount{mCleanUp.mPreviewFoldersDeleted}}};
}
