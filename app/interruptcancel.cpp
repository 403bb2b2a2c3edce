#include "interruptcancel.h"

#include "commandline.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gPipe[2] = {-1, -1};
volatile std::sig_atomic_t gInterrupts = 0;

void onSignal(int)
{
    // The second interrupt means "now": no clean-up, which is what the user asked for.
    if (gInterrupts != 0)
        ::_exit(ExitCancelled);
    gInterrupts = 1;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(gPipe[1], &byte, 1);
}

} // namespace

void CancelOnInterrupt(std::function<void()> cancel)
{
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier =
        new QSocketNotifier(gPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [cancel = std::move(cancel)] {
        char buffer[16];
        while (::read(gPipe[0], buffer, sizeof buffer) > 0) {
        }
        cancel();
    });

    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}
