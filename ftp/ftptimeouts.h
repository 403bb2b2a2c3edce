#pragma once

#include <chrono>

// How long the component waits before it gives up on a silent server. The defaults suit real
// servers; tests shorten them to exercise the time-outs without waiting minutes.
struct FtpTimeouts
{
    // A request ends with FtpResult::Timeout when nothing happens for this long: no reply, no byte
    // on the data connection. Longer than the session's own 60-second watchdog, which therefore
    // normally decides first.
    std::chrono::milliseconds idle{90'000};
    // In active mode, how long the server's data connection may take to arrive before the
    // transfer is retried in passive mode.
    std::chrono::milliseconds activeDataConnection{10'000};
    // After Abort, how long the server may take to answer what is still outstanding before the
    // connection is closed instead.
    std::chrono::milliseconds afterAbort{10'000};
};
