#include "programexit.h"

#include <QCoreApplication>
#include <QThread>

namespace {
std::optional<int> &requested()
{
    static std::optional<int> status;
    return status;
}
} // namespace

void RequestProgramExit(int status)
{
    requested() = status;
    // Also ends the event loop when the request comes while it runs. Before the loop has started,
    // telling it to quit would make the next event loop of the process (a message box) return at
    // once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(status);
}

std::optional<int> RequestedProgramExit()
{
    return requested();
}
