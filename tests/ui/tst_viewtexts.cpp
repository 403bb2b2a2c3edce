#include "stringtable.h"
#include "viewtexts.h"

#include <QLocale>
#include <QTest>

Q_DECLARE_METATYPE(UserMessage)
Q_DECLARE_METATYPE(std::optional<qint32>)
Q_DECLARE_METATYPE(PreviewAction)

// The texts the faces make of the session's events. They must be exactly what the run showed when
// the session still wrote them itself: scripts read the preview lines, and users know the messages.
class TestViewTexts : public QObject
{
    Q_OBJECT

private slots:
    // The program's users see the figures the German way.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

    void message_data();
    void message();
    void fillPlaceholders_data();
    void fillPlaceholders();
    void remainingTime_data();
    void remainingTime();
    void progressPercent();
    void summary();
    void previewLine_data();
    void previewLine();
    void massDeletionQuestion();
    void everyFileActionHasItsCaption();
};

void TestViewTexts::message_data()
{
    QTest::addColumn<UserMessage>("message");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no-arguments") << UserMessage{MessageId::LogonFailed, {}}
                                  << "Benutzername/Kennwort falsch.";
    QTest::newRow("host") << UserMessage{MessageId::ConnectionFailed, {QStringLiteral("ftp.a.de")}}
                          << "Die Verbindung zum FTP-Server \"ftp.a.de\" konnte nicht hergestellt "
                             "werden.";
    // A name is put in once and never read again for placeholders.
    QTest::newRow("placeholder-inside-a-name")
        << UserMessage{MessageId::FileNotUploaded, {QStringLiteral("a%1b%2.html")}}
        << "Die Datei \"a%1b%2.html\" konnte nicht auf den FTP-Server übertragen werden.";
    QTest::newRow("count-grouped-names-as-they-are")
        << UserMessage{MessageId::NamesNotPublished,
                       {LocalizedCount{1234}, QStringLiteral("\"x%1\", \"y\"")}}
        << "1.234 Dateien wurden nicht veröffentlicht, weil ihre Namen nicht übertragen werden "
           "können: \"x%1\", \"y\"";
    // The refused clean-up has always given its numbers as bare digits.
    QTest::newRow("bare-digits")
        << UserMessage{MessageId::MassDeletionRefused, {qint64(4123), qint64(4500)}}
        << "Auf dem Server wurde nichts gelöscht: Es wären 4123 von 4500 Dateien gelöscht worden. "
           "Wenn das gewollt ist, starten Sie Parcelup mit --allow-mass-delete.";
    QTest::newRow("preview-summary-counts")
        << UserMessage{MessageId::PreviewSummary,
                       {LocalizedCount{12345}, LocalizedCount{1234567}, LocalizedCount{0},
                        LocalizedCount{2}}}
        << "Vorschau: 12.345 Dateien (1.234.567 KB) würden übertragen, 0 Dateien und 2 Ordner "
           "gelöscht. Auf dem Server wurde nichts geändert.";
    // A placeholder without its argument stays as it is rather than vanishing.
    QTest::newRow("missing-argument")
        << UserMessage{MessageId::FolderNotCreated, {}}
        << "Der Ordner \"%1\" konnte auf dem FTP-Server nicht angelegt werden.";
}

void TestViewTexts::message()
{
    QFETCH(UserMessage, message);
    QFETCH(QString, expected);
    QCOMPARE(ViewTexts::message(message), expected);
}

// One pass over the text: what a value holds is never filled in again.
void TestViewTexts::fillPlaceholders_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("expected");
    QTest::newRow("message-2001")
        << "Die Datei \"%1\" konnte nicht auf den FTP-Server übertragen werden."
        << QStringList{"index.html"}
        << "Die Datei \"index.html\" konnte nicht auf den FTP-Server übertragen werden.";
    QTest::newRow("twice") << "%1 und %1" << QStringList{"x"} << "x und x";
    QTest::newRow("none") << "Abbruch durch den Benutzer." << QStringList{"x"}
                          << "Abbruch durch den Benutzer.";
    QTest::newRow("value-holds-the-next-placeholder")
        << "Der Ordner \"%1\" kann nicht angelegt werden: %2" << QStringList{"/tmp/50%2", "voll"}
        << "Der Ordner \"/tmp/50%2\" kann nicht angelegt werden: voll";
    QTest::newRow("value-is-its-placeholder") << "%1-%1" << QStringList{"%1"} << "%1-%1";
    QTest::newRow("empty-value") << "a%1b" << QStringList{""} << "ab";
    QTest::newRow("no-value-for-it") << "%1 von %2" << QStringList{"3"} << "3 von %2";
}

void TestViewTexts::fillPlaceholders()
{
    QFETCH(QString, text);
    QFETCH(QStringList, values);
    QFETCH(QString, expected);
    QCOMPARE(FillPlaceholders(text, values), expected);
}

void TestViewTexts::remainingTime_data()
{
    QTest::addColumn<std::optional<qint32>>("secondsLeft");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no-estimate-yet") << std::optional<qint32>() << QString();
    QTest::newRow("almost-done") << std::optional<qint32>(0) << "Restdauer: beinahe fertig";
    QTest::newRow("seconds") << std::optional<qint32>(30) << "Restdauer: 30 Sekunden";
    QTest::newRow("minutes") << std::optional<qint32>(3590) << "Restdauer: 59 Minuten 50 Sekunden";
    QTest::newRow("whole-minute") << std::optional<qint32>(60) << "Restdauer: 1 Minute ";
}

void TestViewTexts::remainingTime()
{
    QFETCH(std::optional<qint32>, secondsLeft);
    QFETCH(QString, expected);
    QCOMPARE(ViewTexts::remainingTime(secondsLeft), expected);
    QCOMPARE(ViewTexts::remainingTimeUnknown(), QStringLiteral("Restdauer wird ermittelt"));
}

void TestViewTexts::progressPercent()
{
    // Nothing to send: the bar keeps what it showed.
    QCOMPARE(ViewTexts::progressPercent(0, 0), std::optional<float>());
    QCOMPARE(ViewTexts::progressPercent(405, 1000), std::optional<float>(40.5f));
    // Files that grew after the scan may take it past 100; the faces hold it at the end.
    QCOMPARE(ViewTexts::progressPercent(3, 2), std::optional<float>(150.0f));
    // Sites beyond 2 GiB.
    QCOMPARE(ViewTexts::progressPercent(qint64(3) << 31, qint64(6) << 31),
             std::optional<float>(50.0f));
}

void TestViewTexts::summary()
{
    const RunSummary summary{1234, 123456789, 3725, 12345.5};
    QCOMPARE(ViewTexts::transferred(summary), QStringLiteral("1.234 Dateien (123.456 KB)"));
    QCOMPARE(ViewTexts::duration(summary), QStringLiteral("62 Minuten 5 Sekunden"));
    QCOMPARE(ViewTexts::speed(summary), QStringLiteral("12.345,50 KB/Sekunde"));
    // Kilobytes are 1000 bytes, cut off.
    QCOMPARE(ViewTexts::transferred({1, 1999, 0, 0}), QStringLiteral("1 Dateien (1 KB)"));
    QCOMPARE(ViewTexts::duration({0, 0, 0, 0}), QStringLiteral("unter 1 Sekunde"));
}

void TestViewTexts::previewLine_data()
{
    QTest::addColumn<PreviewAction>("action");
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("expected");
    // Sizes are bare digits, so that a script can read them, even in a German locale.
    QTest::newRow("upload") << PreviewAction::Upload << "/htdocs/a.html" << qint64(123456)
                            << "Würde übertragen: /htdocs/a.html (123456 Bytes)";
    QTest::newRow("upload-beyond-2-gib")
        << PreviewAction::Upload << "/htdocs/film.mp4" << qint64(5000000000)
        << "Würde übertragen: /htdocs/film.mp4 (5000000000 Bytes)";
    QTest::newRow("delete-file") << PreviewAction::DeleteFile << "/htdocs/alt.html" << qint64(0)
                                 << "Würde löschen: /htdocs/alt.html";
    QTest::newRow("delete-folder") << PreviewAction::DeleteFolder << "/htdocs/alt/" << qint64(0)
                                   << "Würde Ordner löschen: /htdocs/alt/";
    // Scripts parse these lines: a placeholder in a name is part of the name.
    QTest::newRow("upload-name-with-%1")
        << PreviewAction::Upload << "/htdocs/100%1.html" << qint64(7)
        << "Würde übertragen: /htdocs/100%1.html (7 Bytes)";
    QTest::newRow("delete-name-with-%2") << PreviewAction::DeleteFile << "/htdocs/%2%1.html"
                                         << qint64(0) << "Würde löschen: /htdocs/%2%1.html";
}

void TestViewTexts::previewLine()
{
    QFETCH(PreviewAction, action);
    QFETCH(QString, path);
    QFETCH(qint64, bytes);
    QFETCH(QString, expected);
    QCOMPARE(ViewTexts::previewLine(action, path, bytes), expected);
}

void TestViewTexts::massDeletionQuestion()
{
    QCOMPARE(ViewTexts::massDeletionQuestion(4123, 4500),
             ResourceString(MessageId::MassDeletionQuestion)
                 .replace(QStringLiteral("%1"), QStringLiteral("4123"))
                 .replace(QStringLiteral("%2"), QStringLiteral("4500")));
}

void TestViewTexts::everyFileActionHasItsCaption()
{
    QCOMPARE(ViewTexts::fileActionCaption(FileAction::Reading), QStringLiteral("Lese Datei:"));
    QCOMPARE(ViewTexts::fileActionCaption(FileAction::DeletingFile),
             QStringLiteral("Lösche Datei:"));
    QCOMPARE(ViewTexts::fileActionCaption(FileAction::DeletingFolder),
             QStringLiteral("Lösche Ordner:"));
    QCOMPARE(ViewTexts::fileActionCaption(FileAction::Uploading),
             QStringLiteral("Übertrage Datei:"));
}

QTEST_GUILESS_MAIN(TestViewTexts)
#include "tst_viewtexts.moc"
