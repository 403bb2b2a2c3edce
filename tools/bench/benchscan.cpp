// Measures the local scan on a generated site: building and writing the upload log and the
// differential scan with every marker clear, and the clean-up's look-ups against the log, with and
// without the index.
//
//   bench-scan create SITE          500 folders, 40 files each
//   bench-scan clear-markers SITE   records every file as uploaded (XDG_STATE_HOME decides where)
//   bench-scan measure SITE         prints the timings
#include "changemarkerstore.h"
#include "linearlog.h"
#include "sessionaccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <cstdio>

namespace {

QTextStream out(stdout);

int create(const QString &site)
{
    // 20 top folders with 24 subfolders each: 500 folders, two levels like a real site.
    const QByteArray page(400, 'x');
    int files = 0;
    for (int top = 0; top < 20; ++top) {
        const QString topFolder =
            site + QStringLiteral("/Bereich%1").arg(top, 2, 10, QLatin1Char('0'));
        QStringList folders{topFolder};
        for (int sub = 0; sub < 24; ++sub)
            folders << topFolder + QStringLiteral("/Seiten%1").arg(sub, 2, 10, QLatin1Char('0'));
        for (const QString &folder : folders) {
            if (!QDir().mkpath(folder))
                return 1;
            for (int i = 0; i < 40; ++i) {
                QFile file(folder +
                           QStringLiteral("/Seite%1.html").arg(i, 2, 10, QLatin1Char('0')));
                if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size())
                    return 1;
                ++files;
            }
        }
    }
    out << "created " << files << " files\n";
    return 0;
}

int clearMarkers(const QString &site)
{
    ChangeMarkerStore store(ChangeMarkerStore::defaultPath());
    int cleared = 0;
    QDirIterator it(site, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        std::optional<FileIdentity> identity = ChangeMarkerStore::readIdentity(path);
        // Files written a moment ago are unsettled until the file-time clock ticks on.
        while (identity && identity->changedNs == ChangeMarkerStore::kUnsettledChangeTime) {
            QThread::msleep(5);
            identity = ChangeMarkerStore::readIdentity(path);
        }
        if (!identity)
            return 1;
        store.clearMarker(path, *identity);
        ++cleared;
    }
    out << "cleared " << cleared << " markers\n";
    return 0;
}

double milliseconds(const QElapsedTimer &timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

int measure(const QString &site)
{
    classUpload &session = classUploadTestAccess::fresh();
    session.LocalBaseDir(site);
    session.FTPDifferentialMode(true);

    QElapsedTimer timer;
    timer.start();
    session.BuildFileLog(QStringLiteral("\\"));
    const double build = milliseconds(timer);
    timer.restart();
    session.WriteFileLog();
    const double write = milliseconds(timer);
    timer.restart();
    session.ScanLocalSubDir(QStringLiteral("\\"));
    const double scan = milliseconds(timer);

    // The clean-up's questions: every file line of a log against the current log list.
    const QStringList log = classUploadTestAccess::state().logList;
    QList<std::pair<QString, QString>> questions;
    QString folderLine;
    for (const QString &line : log) {
        if (line.endsWith(QLatin1Char('\\')))
            folderLine = line;
        else
            questions.append({folderLine, line});
    }
    timer.restart();
    qsizetype found = 0;
    for (const auto &[dir, name] : std::as_const(questions))
        found += session.FileIsInLog(dir, name) ? 1 : 0;
    const double lookups = milliseconds(timer);
    timer.restart();
    qsizetype foundLinear = 0;
    for (const auto &[dir, name] : std::as_const(questions))
        foundLinear += LinearFileIsInLog(log, dir, name) ? 1 : 0;
    const double linear = milliseconds(timer);

    out << "log lines           " << log.size() << "\n"
        << "queued files        " << classUploadTestAccess::state().uploadCount
        << " (all markers clear: only the log)\n"
        << "BuildFileLog        " << QString::number(build, 'f', 1) << " ms\n"
        << "WriteFileLog        " << QString::number(write, 'f', 1) << " ms\n"
        << "ScanLocalSubDir     " << QString::number(scan, 'f', 1) << " ms (differential)\n"
        << "scan total          " << QString::number(build + write + scan, 'f', 1) << " ms\n"
        << "FileIsInLog x" << questions.size() << " " << QString::number(lookups, 'f', 1)
        << " ms (index, " << found << " found)\n"
        << "linear look-ups     " << QString::number(linear, 'f', 1) << " ms (reading the list, "
        << foundLinear << " found)\n";
    return found == questions.size() && foundLinear == found ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: bench-scan create|clear-markers|measure SITE\n", stderr);
        return 2;
    }
    const QString site = QDir(arguments.at(2)).absolutePath();
    const QString mode = arguments.at(1);
    if (mode == QLatin1String("create"))
        return create(site);
    if (mode == QLatin1String("clear-markers"))
        return clearMarkers(site);
    if (mode == QLatin1String("measure"))
        return measure(site);
    return 2;
}
