#pragma once

#include <QString>
#include <QStringList>

// One randomized faulted publication through the real program, everything drawn from its seed:
// a site of random folders and files, a first healthy publication, random changes by the user,
// and then one run against a server with one fault at a random point (a reply, garbage, a broken
// or stalled transfer, a restart, a changed or vanished local file, the program killed), now and
// then striking twice in a row, now and then on a server that does not tell case apart. The
// run is held to the same promise as the fault table: it ends with success or an ordinary
// failure, never with an unexpected error; it lost no live file; a success left no site file
// missing or stale; and the next ordinary run repairs everything, byte for byte.
struct SoakRun
{
    quint32 seed = 0;
    QString fault;       // the server's --fault option, as given
    bool struck = false; // the fault met its command in the run (an N beyond the run's does not)
    int status = -1;     // the faulted run's exit status; -1 when killed
    QString failure;     // empty when the promise held; otherwise what broke it
};

// program: the parcelup binary.
[[nodiscard]] SoakRun RunSoakCase(const QString &program, quint32 seed);
