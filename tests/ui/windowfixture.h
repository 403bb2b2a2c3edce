#pragma once

#include "classupload.h"
#include "formftpprogress.h"
#include "ftpcontrol.h"
#include "sessionaccess.h"

#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

// An FTP component whose requests never complete on their own, so a test can keep a wait of the
// session pending, and which records what the window asked of it.
class ScriptedFtp : public FtpControl
{
public:
    QStringList calls;
    std::function<void()> onAbort;

    void Connect() override { calls << QStringLiteral("Connect"); }
    // One scripted connection: the run uploads over it alone.
    std::unique_ptr<FtpControl> makeFurtherConnection() const override { return nullptr; }
    void Abort() override
    {
        calls << QStringLiteral("Abort");
        if (onAbort)
            onAbort();
    }
};

// A fresh session with the scripted component and a fresh window for each test case, the window
// installed as the session's view, as start-up does.
struct WindowFixture
{
    QPointer<FormFTPProgress> window;
    ScriptedFtp *ftp = nullptr;

    void create(const QString &clipPath = QString())
    {
        classUploadTestAccess::fresh();
        auto component = std::make_unique<ScriptedFtp>();
        ftp = component.get();
        classUpload::instance().useFtpComponent(std::move(component));
        window = new FormFTPProgress(classUpload::instance().control(), clipPath);
        classUpload::setViewProvider([this](RunControl &) -> UploadView & { return *window; });
    }

    void destroy()
    {
        classUpload::setViewProvider(nullptr);
        delete window.data();
        ftp = nullptr;
    }

    template <typename T> T *control(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
};
