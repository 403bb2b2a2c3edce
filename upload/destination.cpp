#include "classupload.h"
#include "ftpcontrol.h"
#include "locallogdestination.h"
#include "pathhelpers.h"
#include "stringtable.h"
#include "uploadview.h"

// Where the files of this run land, and which of them have to go there. A change marker says "this
// state of the file is on this destination"; the destination is what decides where files land: the
// host as written in the settings (scheme and port included), the user name, and the remote base
// folder as the log-in resolved it. It is known only after the log-in, so the differential choice
// of files is made here, right after SetRemoteBaseDir, and not during the scan before connecting.

QString classUpload::MarkerDestination()
{
    return ftp().host() + QLatin1Char('\n') + ftp().userName() + QLatin1Char('\n') +
           QLatin1Char('/') + SplitRemotePath(mSettings.mRemoteBaseDir).join(QLatin1Char('/'));
}

void classUpload::ChooseMarkerDestination()
{
    markers().setDestination(MarkerDestination());
    // Asked before this run's log takes the previous one's place in the record.
    mUploadLog.mPreviousLocalLogBelongsHere =
        mUploadLog.mPreviousLocalLog &&
        LocalLogWasWrittenFor(mSettings.mLocalBaseDir, *mUploadLog.mPreviousLocalLog,
                              MarkerDestination());
    RecordLogDestination();
    if (markers().hasUnassigned())
        ClaimUnassignedMarkers();
}

void classUpload::RecordLogDestination()
{
    // A preview leaves the local log as it is, and so its record.
    if (!mSettings.mPreviewOnly)
        RecordLocalLogDestination(mSettings.mLocalBaseDir, UploadLogContent(), MarkerDestination());
}

void classUpload::ClaimUnassignedMarkers()
{
    // A store of an earlier version knew no destinations, and nothing it left says which one its
    // rows belong to. An upload log on the server equal to the local one proves only equal names:
    // a page changed and published to one server only would count as published on every other
    // server whose log lists the same names, and never reach it. So every file goes up once.
    if (mSettings.mPreviewOnly) {
        // A preview answers as the run would, and leaves the store to the run.
        markers().consultUnassigned(false);
        return;
    }
    markers().discardUnassigned();
    DebugNote(ResourceString(MessageId::MarkersDropped));
}
