#include "ftpcomponenthost.h"

#include "ftpcontrol.h"

FtpComponentHost::FtpComponentHost(std::unique_ptr<FtpControl> component, Handlers handlers)
    : mHandlers(std::move(handlers))
{
    component->setObjectName(QStringLiteral("ftpcontrol"));
    addComponent(std::move(component));
    mWatchDogTimer.setObjectName(QStringLiteral("WatchDogTimer"));
    mWatchDogTimer.setInterval(1000);
    QObject::connect(&mWatchDogTimer, &QTimer::timeout, &mWatchDogTimer,
                     [this] { mHandlers.watchDogTick(); });
    mWatchDogTimer.start();
}

// The timer, declared last, goes first: a tick never finds a component half destroyed.
FtpComponentHost::~FtpComponentHost() = default;

int FtpComponentHost::addComponent(std::unique_ptr<FtpControl> component)
{
    auto connection = std::make_unique<Connection>();
    connection->component = std::move(component);
    mConnections.push_back(std::move(connection));
    const int index = static_cast<int>(mConnections.size()) - 1;
    wire(index);
    return index;
}

void FtpComponentHost::wire(int index)
{
    Connection &connection = *mConnections.at(index);
    FtpControl *component = connection.component.get();
    ConnectionWait *wait = &connection.wait;
    // The component is the context object, so no handler runs once it is gone.
    QObject::connect(component, &FtpControl::OperationComplete, component,
                     [this, index, wait](int, int result, const QString &text, quint64 number) {
                         wait->completed(number, result, text);
                         mHandlers.completed(index);
                     });
    QObject::connect(component, &FtpControl::DebugMessage, component,
                     [this, index](const QString &text) { mHandlers.debugMessage(index, text); });
    QObject::connect(component, &FtpControl::Activity, component,
                     [this, index] { mHandlers.activity(index); });
}

void FtpComponentHost::removeFurtherComponents()
{
    while (mConnections.size() > 1) {
        mConnections.back()->component->Disconnect();
        mConnections.pop_back();
    }
}

void FtpComponentHost::setWatchDogEnabled(bool enabled)
{
    if (!enabled)
        mWatchDogTimer.stop();
    else if (!mWatchDogTimer.isActive())
        mWatchDogTimer.start();
}
