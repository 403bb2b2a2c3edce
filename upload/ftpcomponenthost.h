#pragma once

#include <QTimer>
#include <functional>
#include <memory>

class FtpControl;

// The FTP component of the run and the one-second watchdog timer, wired straight to the session
// that owns them: completion, debug text and activity of the component, and every tick of the
// timer, each to its handler. The faces of the program only show what happens here; none of them
// holds a component or a timer.
//
// The timer ticks from the moment the host exists, which is the first time the session needs the
// component: when start-up hands it the first setting.
class FtpComponentHost
{
public:
    struct Handlers
    {
        std::function<void()> completed;
        std::function<void(const QString &)> debugMessage;
        std::function<void()> activity;
        std::function<void()> watchDogTick;
    };

    FtpComponentHost(std::unique_ptr<FtpControl> component, Handlers handlers);
    ~FtpComponentHost();

    FtpComponentHost(const FtpComponentHost &) = delete;
    FtpComponentHost &operator=(const FtpComponentHost &) = delete;

    [[nodiscard]] FtpControl &component() { return *mComponent; }

    // The run switches the watchdog on at its start and off at its end. A running timer keeps its
    // rhythm: starting it again would postpone the next tick.
    void setWatchDogEnabled(bool enabled);
    [[nodiscard]] bool isWatchDogEnabled() const { return mWatchDogTimer.isActive(); }

    // Tests tick the watchdog themselves, or faster than once a second.
    [[nodiscard]] QTimer &watchDogTimer() { return mWatchDogTimer; }

private:
    std::unique_ptr<FtpControl> mComponent;
    QTimer mWatchDogTimer;
};
