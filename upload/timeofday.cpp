#include "timeofday.h"

#include <QTime>

double TimeOfDay()
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

double ElapsedSince(double start, double now)
{
    double elapsed = now - start;
    if (elapsed < 0)
        elapsed += 86400.0;
    return elapsed;
}
