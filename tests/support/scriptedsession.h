#pragma once

#include "recordingview.h"
#include "scriptedftp.h"
#include "sessionaccess.h"
#include "userfolders.h"

// A fresh session for one test: per-user folders in a temporary place, a scripted FTP double as
// its component, and a recording view installed as the session's view.
struct ScriptedSession
{
    ScriptedSession()
    {
        classUploadTestAccess::fresh().useFtpComponent(makeFtp(&ftp));
        view.install();
    }
    ~ScriptedSession() { classUploadTestAccess::closeDebugLog(); }

    // The account's web folder on the scripted server, below its home folder.
    static inline const QString BaseFolder = QStringLiteral("/home/u/htdocs");
    // Makes BaseFolder, and the folders above it, exist on the scripted server and the session's
    // remote base folder.
    void publishToBaseFolder()
    {
        classUploadTestAccess::session().RemoteBaseDir(BaseFolder);
        ftp->folders << QStringLiteral("/home") << QStringLiteral("/home/u") << BaseFolder;
    }

    IsolatedUserFolders folders;
    ScriptedFtp *ftp = nullptr;
    RecordingView view;

private:
    static std::unique_ptr<FtpControl> makeFtp(ScriptedFtp **handle)
    {
        auto ftp = std::make_unique<ScriptedFtp>();
        *handle = ftp.get();
        return ftp;
    }
};
