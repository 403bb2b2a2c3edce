#include "programexit.h"

#include <QCoreApplication>

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
    // Also ends the event loop when the request comes while it runs.
    QCoreApplication::exit(status);
}

std::optional<int> RequestedProgramExit()
{
    return requested();
}
