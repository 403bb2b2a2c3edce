#pragma once

#include <QtGlobal>

// Whether one more connection pays for its log-in. A log-in costs the host a password check, often
// a tenth of a second of its processor, and takes a few round trips. On a far server a single file
// takes longer than that, and every further connection pays many times over. On a server a few
// milliseconds away, a thousand small files are done in about the time three more log-ins take,
// and those log-ins only slow the connections already at work.
struct LanePace
{
    qint64 filesLeft = 0;    // files no connection has taken yet
    qint64 filesSent = 0;    // by the connections at work, since they started
    qint64 elapsedMs = 0;    // since they started
    qint64 lastLogInMs = -1; // the last further log-in; -1 before there was one

    // The files left would keep a further connection busy for this many times its log-in.
    static constexpr qint64 LogInsOfWorkLeft = 10;

    // How long the files left take at this pace, the newest connection counted only for the time
    // it has been at work: an estimate on the slow side, so on the side of one more connection.
    [[nodiscard]] qint64 msLeft() const
    {
        return filesSent > 0 ? filesLeft * qMax<qint64>(elapsedMs, 1) / filesSent : -1;
    }
    // Yes while there is no pace to judge by: before the first further log-in, or the first file.
    [[nodiscard]] bool oneMoreLogInPays() const
    {
        return lastLogInMs < 0 || filesSent == 0 ||
               msLeft() >= LogInsOfWorkLeft * qMax<qint64>(lastLogInMs, 1);
    }
};
