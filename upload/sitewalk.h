#pragma once

#include <QString>
#include <functional>

// One file of the site, as the walk hands it on.
struct SiteFile
{
    QString path;       // relative to the site folder, as the program names it: "bilder\logo.gif"
    QString localPath;  // the same with the real names on disk: "Bilder\Logo.gif"
    QString name;       // the lower-case bare name: "logo.gif"
    QString nativePath; // the file-system path that opens it
};

// What the walk does at each folder and file.
struct SiteWalkSteps
{
    // Called for a folder once everything below it has been walked, with its relative path as the
    // caller spelled it ("\" for the site folder).
    std::function<void(const QString &folderPath)> folderDone;
    // Called for each file directly in that folder, after folderDone, in enumeration order.
    std::function<void(const SiteFile &file)> file;
    // Optional. Called for each regular file and folder directly in that folder whose name cannot
    // be published, after folderDone and before the files, with its path as the user is shown it:
    // relative to the site folder, real names, "/" between them, a folder with a trailing "/"
    // ("Bilder/caf\xE9.jpg", "preise\2024/"). Nothing below such a folder is walked.
    std::function<void(const QString &shownPath)> unpublishable = nullptr;
};

// Walks the folder tree below siteFolder from mySubDir ("\" or empty for the site folder itself,
// otherwise a relative path whose names are matched without regard to case). Each folder's
// subfolders come first, each with everything below it, then the folder itself, then its files,
// all in the order of ListLocalFolder. A folder that leads back to one of the folders it lies in
// (through a symbolic link) is left out, so the walk always ends.
//
// Raises ProgramError for a folder that cannot be listed or a mySubDir that does not exist.
void WalkSiteFolder(const QString &siteFolder, const QString &mySubDir, const SiteWalkSteps &steps);
