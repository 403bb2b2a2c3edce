#pragma once

#include <functional>

// Ctrl+C and SIGTERM cancel the run exactly as the cancel button does; a second Ctrl+C ends the
// program at once. The signal handler only writes a byte into a pipe; the cancellation itself runs
// on the event loop the next time the run processes events, where it is safe to touch the session.
void CancelOnInterrupt(std::function<void()> cancel);
