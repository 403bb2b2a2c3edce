#include "ftpcomponenthost.h"

#include "ftpcontrol.h"

FtpComponentHost::FtpComponentHost(std::unique_ptr<FtpControl> component, Handlers handlers)
    : mComponent(std::move(component))
{
    mComponent->setObjectName(QStringLiteral("ftpcontrol"));
    mWatchDogTimer.setObjectName(QStringLiteral("WatchDogTimer"));
    mWatchDogTimer.setInterval(1000);
    // The component and the timer are the context objects, so no handler runs once they are gone.
    QObject::connect(mComponent.get(), &FtpControl::OperationComplete, mComponent.get(),
                     [completed = std::move(handlers.completed)] { completed(); });
    QObject::connect(mComponent.get(), &FtpControl::DebugMessage, mComponent.get(),
                     std::move(handlers.debugMessage));
    QObject::connect(mComponent.get(), &FtpControl::Activity, mComponent.get(),
                     [activity = std::move(handlers.activity)] { activity(); });
    QObject::connect(&mWatchDogTimer, &QTimer::timeout, &mWatchDogTimer,
                     [tick = std::move(handlers.watchDogTick)] { tick(); });
    mWatchDogTimer.start();
}

// The timer, declared last, goes first: a tick never finds the component half destroyed.
FtpComponentHost::~FtpComponentHost() = default;

void FtpComponentHost::setWatchDogEnabled(bool enabled)
{
    if (!enabled)
        mWatchDogTimer.stop();
    else if (!mWatchDogTimer.isActive())
        mWatchDogTimer.start();
}
