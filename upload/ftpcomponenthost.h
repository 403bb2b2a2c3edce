#pragma once

#include "connectionwait.h"

#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class FtpControl;

// The FTP components of the run, one per connection, each with what the session waits for on it,
// and the one-second watchdog timer, wired straight to the session that owns them: completion,
// debug text and activity of each component, and every tick of the timer, each to its handler with
// the connection's index. The faces of the program only show what happens here; none of them holds
// a component or a timer.
//
// The first component (index 0) is the run's own connection: log-in, folders, clean-up. Further
// ones are added while the files are uploaded over several connections at once.
//
// The timer ticks from the moment the host exists, which is the first time the session needs the
// component: when start-up hands it the first setting.
class FtpComponentHost
{
public:
    struct Handlers
    {
        std::function<void(int connection)> completed;
        std::function<void(int connection, const QString &)> debugMessage;
        std::function<void(int connection)> activity;
        std::function<void()> watchDogTick;
    };

    FtpComponentHost(std::unique_ptr<FtpControl> component, Handlers handlers);
    ~FtpComponentHost();

    FtpComponentHost(const FtpComponentHost &) = delete;
    FtpComponentHost &operator=(const FtpComponentHost &) = delete;

    [[nodiscard]] FtpControl &component(int connection = 0)
    {
        return *mConnections.at(connection)->component;
    }
    [[nodiscard]] ConnectionWait &wait(int connection = 0)
    {
        return mConnections.at(connection)->wait;
    }
    [[nodiscard]] int connectionCount() const { return static_cast<int>(mConnections.size()); }
    // Adds a connection with its own component, wired like the first; returns its index.
    int addComponent(std::unique_ptr<FtpControl> component);
    // Closes and removes every connection but the first.
    void removeFurtherComponents();

    // The run switches the watchdog on at its start and off at its end. A running timer keeps its
    // rhythm: starting it again would postpone the next tick.
    void setWatchDogEnabled(bool enabled);
    [[nodiscard]] bool isWatchDogEnabled() const { return mWatchDogTimer.isActive(); }

    // Tests tick the watchdog themselves, or faster than once a second.
    [[nodiscard]] QTimer &watchDogTimer() { return mWatchDogTimer; }

private:
    struct Connection
    {
        std::unique_ptr<FtpControl> component;
        ConnectionWait wait;
    };
    void wire(int index);

    Handlers mHandlers;
    std::vector<std::unique_ptr<Connection>> mConnections;
    QTimer mWatchDogTimer;
};
