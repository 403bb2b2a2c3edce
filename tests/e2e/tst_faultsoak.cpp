#include "faultsoak.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>

// The randomized soak: runs with a random fault at a random point, each followed by the repair
// run and the check of the promise (see RunSoakCase). Bounded by a number of runs and by time;
// tools/dev/soak.sh runs it for longer. Environment:
//   PARCELUP_SOAK_SEED     the first run's seed (default: from the clock); run i has seed + i
//   PARCELUP_SOAK_RUNS     how many runs (default 30)
//   PARCELUP_SOAK_SECONDS  stop starting runs after this long (default 90; 0: no limit)
//   PARCELUP_SOAK_FAULTS   stop once this many faults struck (default 0: no such limit)
// A failure prints its seed; PARCELUP_SOAK_SEED=<seed> PARCELUP_SOAK_RUNS=1 replays it.
class TestFaultSoak : public QObject
{
    Q_OBJECT

private slots:
    void promiseHoldsUnderRandomFaults();
};

namespace {

qint64 fromEnvironment(const char *name, qint64 fallback)
{
    bool ok = false;
    const qint64 value = qEnvironmentVariable(name).toLongLong(&ok);
    return ok ? value : fallback;
}

} // namespace

void TestFaultSoak::promiseHoldsUnderRandomFaults()
{
    const auto firstSeed = static_cast<quint32>(
        fromEnvironment("PARCELUP_SOAK_SEED", QDateTime::currentMSecsSinceEpoch() % 1000000));
    const qint64 runs = fromEnvironment("PARCELUP_SOAK_RUNS", 30);
    const qint64 seconds = fromEnvironment("PARCELUP_SOAK_SECONDS", 90);
    const qint64 enoughFaults = fromEnvironment("PARCELUP_SOAK_FAULTS", 0);

    QElapsedTimer clock;
    clock.start();
    qint64 done = 0;
    qint64 struck = 0;
    QStringList failures;
    for (qint64 i = 0; i < runs; ++i) {
        if ((seconds > 0 && clock.elapsed() > seconds * 1000) ||
            (enoughFaults > 0 && struck >= enoughFaults))
            break;
        const SoakRun run = RunSoakCase(QStringLiteral(PARCELUP_BINARY), firstSeed + quint32(i));
        ++done;
        if (run.struck)
            ++struck;
        if (!run.failure.isEmpty()) {
            failures << QString::number(run.seed);
            qWarning().noquote() << QStringLiteral("soak seed %1, fault %2: %3")
                                        .arg(run.seed)
                                        .arg(run.fault, run.failure);
        }
    }
    qInfo().noquote() << QStringLiteral("soak: %1 runs from seed %2, %3 faults injected, %4 "
                                        "invariant failures, %5 s")
                             .arg(done)
                             .arg(firstSeed)
                             .arg(struck)
                             .arg(failures.size())
                             .arg(clock.elapsed() / 1000);
    QVERIFY2(failures.isEmpty(),
             qPrintable(QStringLiteral("the promise broke for seeds ") + failures.join(u' ')));
}

QTEST_GUILESS_MAIN(TestFaultSoak)
#include "tst_faultsoak.moc"
