#include "classupload.h"
#include "pathhelpers.h"
#include "publishablename.h"
#include "stringtable.h"

#include <algorithm>

// Files and folders that the site holds but whose names cannot be published (not UTF-8, or with
// "\", CR or LF) are never left out in silence: the run uploads everything else and then fails
// with a message that names them.

void classUpload::NoteUnpublishable(const QString &shownPath)
{
    if (mUnpublishable.mSeen.contains(shownPath))
        return;
    mUnpublishable.mSeen.insert(shownPath);
    mUnpublishable.mPaths.append(shownPath);
}

void classUpload::LogUnpublishable()
{
    for (const QString &path : std::as_const(mUnpublishable.mPaths))
        DebugNote(ResourceString(MessageId::NameNotPublishedNote, {path}));
}

StepOutcome classUpload::RecordUnpublishable()
{
    if (mUnpublishable.mPaths.isEmpty())
        return StepOutcome::done();
    // The list's default limits keep the message within the three lines of the window's result.
    // A folder's shown path ends with "/"; a folder is not called a file.
    const QString names = QuotedNameList(mUnpublishable.mPaths);
    const bool anyFolder =
        std::any_of(mUnpublishable.mPaths.cbegin(), mUnpublishable.mPaths.cend(),
                    [](const QString &path) { return path.endsWith(QLatin1Char('/')); });
    if (mUnpublishable.mPaths.size() == 1)
        return RecordFailure(
            anyFolder ? MessageId::OneFolderNotPublished : MessageId::OneNameNotPublished, names);
    return RecordFailure(
        anyFolder ? MessageId::NamesWithFoldersNotPublished : MessageId::NamesNotPublished,
        QList<MessageArgument>{LocalizedCount{mUnpublishable.mPaths.size()}, names});
}
