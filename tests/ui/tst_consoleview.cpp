#include "consoleview.h"
#include "programexit.h"
#include "sessionaccess.h"

#include <QLocale>
#include <QTest>
#include <cstdio>

namespace {

// Captures what the view writes through a real FILE stream.
class CapturedOutput
{
public:
    CapturedOutput() { mStream = open_memstream(&mBuffer, &mSize); }
    ~CapturedOutput()
    {
        std::fclose(mStream);
        std::free(mBuffer);
    }
    std::FILE *stream() const { return mStream; }
    QString text()
    {
        std::fflush(mStream);
        return QString::fromUtf8(mBuffer, qsizetype(mSize));
    }

private:
    std::FILE *mStream = nullptr;
    char *mBuffer = nullptr;
    size_t mSize = 0;
};

// Drives the view with the events a successful run of two files reports, in the run's order.
void successfulRun(ConsoleView &view)
{
    view.runStarted();
    view.stepEnded(RunStep::Prepare, true);
    view.stepStarted(RunStep::Connect);
    view.stepEnded(RunStep::Connect, true);
    view.stepStarted(RunStep::Transfer);
    view.fileStarted(FileAction::Uploading, QStringLiteral("/htdocs/index.html"));
    view.progressed(405, 1000, 10);
    view.fileStarted(FileAction::Uploading, QStringLiteral("/htdocs/vellumixftplog.log"));
    view.progressed(1000, 1000, 0);
    view.runSummarised({2, 5000, 3, 1.25});
    view.runEnded({RunOutcome::Succeeded, {MessageId::UploadSucceeded, {}}, true});
}

const QStringList kPlainLines{
    "  0 % Restdauer wird ermittelt",
    "▸ Ermittle zu übertragende Dateien",
    "✓ Ermittle zu übertragende Dateien",
    "▸ Verbinde mit Server",
    "✓ Verbinde mit Server",
    "▸ Dateiübertragung",
    "Übertrage Datei: /htdocs/index.html",
    " 40 % Restdauer: 10 Sekunden",
    "Übertrage Datei: /htdocs/vellumixftplog.log",
    "100 % Restdauer: beinahe fertig",
    "Zusammenfassung:",
    "Gesamtdauer: 3 Sekunden",
    "Übertragen: 2 Dateien (5 KB)",
    "Geschwindigkeit: 1,25 KB/Sekunde",
    "✓ Übertragung fehlerfrei abgeschlossen.",
};

} // namespace

class TestConsoleView : public QObject
{
    Q_OBJECT

private slots:
    // The figures are written the German way, as the program's users see them.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void init() { classUploadTestAccess::fresh(); }
    void plainOutputIsOneLinePerChange();
    void asciiMarkersWithoutUtf8();
    void terminalRedrawsProgressInPlace();
    void failureGivesStatusOne();
    void cancelGivesStatusTwo();
};

void TestConsoleView::plainOutputIsOneLinePerChange()
{
    CapturedOutput out;
    ConsoleView view({out.stream(), false, true});
    successfulRun(view);
    const QString text = out.text();
    QCOMPARE(text, kPlainLines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    for (const QChar c : text)
        QVERIFY2(c == QLatin1Char('\n') || c.category() != QChar::Other_Control,
                 "control character in a log");
    QCOMPARE(view.exitStatus(), 0);
    QCOMPARE(RequestedProgramExit(), std::optional<int>(0));
}

void TestConsoleView::asciiMarkersWithoutUtf8()
{
    CapturedOutput out;
    ConsoleView view({out.stream(), false, false});
    successfulRun(view);
    const QStringList lines = out.text().split(QLatin1Char('\n'));
    QCOMPARE(lines.at(1), QStringLiteral("> Ermittle zu übertragende Dateien"));
    QCOMPARE(lines.at(2), QStringLiteral("+ Ermittle zu übertragende Dateien"));
    QCOMPARE(lines.at(14), QStringLiteral("+ Übertragung fehlerfrei abgeschlossen."));
}

void TestConsoleView::terminalRedrawsProgressInPlace()
{
    CapturedOutput out;
    ConsoleView view({out.stream(), true, true});
    successfulRun(view);
    const QString text = out.text();
    // The progress line is drawn with a carriage return and erase, never with its own line feed...
    QVERIFY(text.contains(QStringLiteral("\r\x1b[K 40 % Restdauer: 10 Sekunden")));
    QVERIFY(!text.contains(QStringLiteral("Restdauer: 10 Sekunden\n")));
    // ...and it is erased before a normal line is written, then drawn again below it.
    QVERIFY(text.contains(
        QStringLiteral("\r\x1b[KÜbertrage Datei: /htdocs/vellumixftplog.log\n\r\x1b[K 40 %")));
    // What remains visible, once every carriage return has done its work, is the plain lines.
    QStringList visible;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString last = line.split(QStringLiteral("\r\x1b[K")).last();
        if (!last.isEmpty())
            visible << last;
    }
    QCOMPARE(visible.last(), QStringLiteral("✓ Übertragung fehlerfrei abgeschlossen."));
    QVERIFY(visible.contains(QStringLiteral("Gesamtdauer: 3 Sekunden")));
}

void TestConsoleView::failureGivesStatusOne()
{
    CapturedOutput out;
    ConsoleView view({out.stream(), false, true});
    view.runSummarised({0, 0, 0, 0});
    view.runEnded({RunOutcome::Failed, {MessageId::LogonFailed, {}}, false});
    QVERIFY(out.text().endsWith(QStringLiteral("✗ Benutzername/Kennwort falsch.\n")));
    QCOMPARE(view.exitStatus(), 1);
}

void TestConsoleView::cancelGivesStatusTwo()
{
    CapturedOutput out;
    ConsoleView view({out.stream(), false, true});
    view.cancel();
    view.cancel();
    view.runCancelled();
    QCOMPARE(out.text(), QStringLiteral("Wird abgebrochen\n"));
    QCOMPARE(view.exitStatus(), 2);
    QCOMPARE(RequestedProgramExit(), std::optional<int>(2));
}

QTEST_GUILESS_MAIN(TestConsoleView)
#include "tst_consoleview.moc"
