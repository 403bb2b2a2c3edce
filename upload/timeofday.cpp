#include "timeofday.h"

#include <QTime>

namespace {
std::function<double()> &timeSource()
{
    static std::function<double()> source;
    return source;
}
} // namespace

double TimeOfDay()
{
    if (const auto &source = timeSource())
        return source();
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

void SetTimeOfDaySource(std::function<double()> source)
{
    timeSource() = std::move(source);
}

double ElapsedSince(double start, double now)
{
    // Only a run that crossed midnight goes back by many hours. A start time rounded to the whole
    // second can lie up to half a second after "now"; that is no day, just a very short run.
    double elapsed = now - start;
    if (elapsed < -43200.0)
        elapsed += 86400.0;
    return elapsed;
}
