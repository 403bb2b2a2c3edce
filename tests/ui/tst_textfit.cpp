#include "textfit.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTest>

class TestTextFit : public QObject
{
    Q_OBJECT

private slots:
    void fit_data();
    void fit();
    void surrogatePairsStayWhole();
};

namespace {

QFont testFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    return font;
}

} // namespace

void TestTextFit::fit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qreal>("width");
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("elideAt");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("shortened");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("lastLineEnd");

    const int start = int(ElideAt::Start);
    const int end = int(ElideAt::End);
    const QString path = "/kunden/webseiten/mein-verein/aktuelles/2024/bilder/"
                         "sommerfest-am-see-gruppenfoto-gross.jpg";
    const QString message = "Die Verbindung zum FTP-Server \"ftp.mein-webhosting-anbieter.de\" "
                            "konnte nicht hergestellt werden.";

    QTest::newRow("short-stays-one-line")
        << "index.html" << 200.0 << 2 << start << 1 << false << "index.html"
        << "index.html";
    QTest::newRow("empty") << "" << 200.0 << 2 << end << 1 << false << ""
                           << "";
    QTest::newRow("breaks-at-blanks")
        << message << 281.0 << 3 << end << 3 << false << "Die Verbindung zum FTP-Server \"ftp.mein-"
        << "werden.";
    QTest::newRow("message-shortened-at-end")
        << message << 150.0 << 2 << end << 2 << true << "Die Verbindung zum"
        << "…";
    QTest::newRow("path-keeps-file-name") << path << 230.0 << 2 << start << 2 << true << "…"
                                          << "gruppenfoto-gross.jpg";
    QTest::newRow("path-fits-two-lines") << "/htdocs/verein/aktuelles/2024/bilder/sommerfest.jpg"
                                         << 230.0 << 2 << start << 2 << false << "/htdocs/verein/"
                                         << "sommerfest.jpg";
    QTest::newRow("word-longer-than-a-line-is-broken")
        << QString(60, QLatin1Char('x')) << 100.0 << 10 << end << 4 << false << "xxxx"
        << "xxx";
    QTest::newRow("no-lines-means-one")
        << message << 281.0 << 0 << end << 1 << true << "Die Verbindung"
        << "…";
}

void TestTextFit::fit()
{
    QFETCH(QString, text);
    QFETCH(qreal, width);
    QFETCH(int, maxLines);
    QFETCH(int, elideAt);
    QFETCH(int, lines);
    QFETCH(bool, shortened);
    QFETCH(QString, firstLine);
    QFETCH(QString, lastLineEnd);

    const QFont font = testFont();
    const FittedText fitted = FitTextToLines(text, font, width, maxLines, ElideAt(elideAt));

    QCOMPARE(fitted.lines.size(), lines);
    QCOMPARE(fitted.shortened, shortened);
    QVERIFY2(fitted.lines.first().startsWith(firstLine), qPrintable(fitted.lines.first()));
    QVERIFY2(fitted.lines.last().endsWith(lastLineEnd), qPrintable(fitted.lines.last()));
    const QFontMetricsF metrics(font);
    for (const QString &line : fitted.lines)
        QVERIFY2(metrics.horizontalAdvance(line) <= width + 0.5, qPrintable(line));
    if (!shortened)
        QCOMPARE(fitted.lines.join(QString()).remove(' '), QString(text).remove(' '));
}

void TestTextFit::surrogatePairsStayWhole()
{
    // Characters outside the basic plane take two UTF-16 units; a cut between them would leave
    // half a character.
    QString text;
    for (int i = 0; i < 40; ++i)
        text += QString::fromUcs4(U"\U0001F4C4");
    for (const ElideAt side : {ElideAt::Start, ElideAt::End}) {
        const FittedText fitted = FitTextToLines(text, testFont(), 60.0, 1, side);
        QVERIFY(fitted.shortened);
        const QString shown = fitted.lines.join(QString());
        for (qsizetype i = 0; i < shown.size(); ++i) {
            if (shown.at(i).isHighSurrogate())
                QVERIFY(i + 1 < shown.size() && shown.at(++i).isLowSurrogate());
            else
                QVERIFY(!shown.at(i).isLowSurrogate());
        }
    }
}

QTEST_MAIN(TestTextFit)
#include "tst_textfit.moc"
