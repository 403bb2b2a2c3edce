#include "publishablename.h"

#include <QTest>

// Which names on disk can be published, and how those that cannot are shown to the user.
class TestPublishableName : public QObject
{
    Q_OBJECT

private slots:
    void names_data();
    void names();
    void shortenedInTheMiddle_data();
    void shortenedInTheMiddle();
    void quotedList_data();
    void quotedList();
};

void TestPublishableName::names_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("publishable");
    QTest::addColumn<QString>("shown");

    QTest::newRow("ascii") << QByteArray("index.html") << true << "index.html";
    QTest::newRow("utf8-umlauts") << QByteArray("gr\xC3\xBC\xC3\x9F"
                                                "e.html")
                                  << true << "grüße.html";
    QTest::newRow("utf8-outside-basic-plane")
        << QByteArray("\xF0\x9F\x98\x80.png") << true << QString::fromUtf8("\xF0\x9F\x98\x80.png");
    // Valid, but the text conversion drops it: the name would not open the file again, and an
    // invisible character must not make it look like "index.html".
    QTest::newRow("leading-byte-order-mark")
        << QByteArray("\xEF\xBB\xBFindex.html") << false << "\\xEF\\xBB\\xBFindex.html";
    QTest::newRow("utf8-replacement-character")
        << QByteArray("\xEF\xBF\xBD.html") << true << QString::fromUtf8("\xEF\xBF\xBD.html");
    QTest::newRow("latin1-e-acute") << QByteArray("caf\xE9.html") << false << "caf\\xE9.html";
    QTest::newRow("latin1-all-hex-upper-case") << QByteArray("\xAB\xFF") << false << "\\xAB\\xFF";
    QTest::newRow("valid-and-invalid-mixed") << QByteArray("\xC3\xA9\xE9") << false << "é\\xE9";
    QTest::newRow("sequence-cut-short") << QByteArray("a\xE2\x82") << false << "a\\xE2\\x82";
    QTest::newRow("lone-continuation-byte") << QByteArray("\x80x") << false << "\\x80x";
    QTest::newRow("overlong-slash") << QByteArray("\xC0\xAF") << false << "\\xC0\\xAF";
    QTest::newRow("overlong-three-bytes")
        << QByteArray("\xE0\x80\xAF") << false << "\\xE0\\x80\\xAF";
    QTest::newRow("encoded-surrogate") << QByteArray("\xED\xA0\x80") << false << "\\xED\\xA0\\x80";
    QTest::newRow("beyond-unicode")
        << QByteArray("\xF4\x90\x80\x80") << false << "\\xF4\\x90\\x80\\x80";
    QTest::newRow("backslash-kept")
        << QByteArray("preise\\2024.html") << false << "preise\\2024.html";
    QTest::newRow("carriage-return") << QByteArray("a\rb") << false << "a\\rb";
    QTest::newRow("line-feed") << QByteArray("a\nb") << false << "a\\nb";
    QTest::newRow("line-feed-and-invalid-byte") << QByteArray("\n\xE9") << false << "\\n\\xE9";
}

void TestPublishableName::names()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, publishable);
    QFETCH(QString, shown);

    QCOMPARE(IsPublishableName(raw), publishable);
    QCOMPARE(ShowableName(raw), shown);
}

void TestPublishableName::shortenedInTheMiddle_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<QString>("shortened");

    QTest::newRow("short-stays") << "index.html" << 10 << "index.html";
    QTest::newRow("one-too-long") << "index.html!" << 10 << "inde…html!";
    QTest::newRow("halves") << "veranstaltungen/sommerfest.jpg" << 15 << "veranst…est.jpg";
    QTest::newRow("end-keeps-the-larger-half")
        << "veranstaltungen/sommerfest.jpg" << 16 << "veranst…fest.jpg";
    // An escape is shown as four characters and counted so, but never cut apart; what the start
    // cannot use goes to the end.
    QTest::newRow("escape-not-cut") << "ab\\xE9cdefgh" << 8 << "ab…defgh";
    QTest::newRow("escape-kept-whole") << "abc\\xE9defghijkl" << 15 << "abc\\xE9…fghijkl";
    QTest::newRow("line-feed-escape-kept-whole") << "a\\nbcdefgh" << 7 << "a\\n…fgh";
    QTest::newRow("surrogate-pair-is-one-character")
        << QString::fromUtf8("ab\xF0\x9F\x98\x80"
                             "cdefgh")
        << 8 << QString::fromUtf8("ab\xF0\x9F\x98\x80…efgh");
}

void TestPublishableName::shortenedInTheMiddle()
{
    QFETCH(QString, shown);
    QFETCH(int, maxLength);
    QFETCH(QString, shortened);

    const QString result = ShortenInTheMiddle(shown, maxLength);
    QCOMPARE(result, shortened);
    // Never longer than allowed (a surrogate pair is two units but one character).
    QVERIFY(result.size() <= std::max<qsizetype>(shown.size(), maxLength + 1));
}

void TestPublishableName::quotedList_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("list");

    QTest::newRow("one") << QStringList{"caf\\xE9.html"} << "„caf\\xE9.html“";
    QTest::newRow("three-short") << QStringList{"a.html", "b\\c.html", "d/"}
                                 << "„a.html“, „b\\c.html“, „d/“";
    QTest::newRow("more-than-three") << QStringList{"a", "b", "c", "d"} << "„a“, „b“, „c“, …";
    QTest::newRow("long-name-shortened")
        << QStringList{"veranstaltungen/2024/sommerfest-am-see/gruppenfoto-caf\\xE9.jpg"}
        << "„veranstaltungen/202…ppenfoto-caf\\xE9.jpg“";
    // The next names follow only while the list stays one line of the window's message.
    QTest::newRow("second-name-too-long-for-the-line")
        << QStringList{"archiv/bilder/sommerfest-caf\\xE9.jpg", "archiv/gr\\xFC\\xDF"
                                                                "e.html"}
        << "„archiv/bilder/sommerfest-caf\\xE9.jpg“, …";
    QTest::newRow("second-fits-third-does-not")
        << QStringList{"bilder/caf\\xE9.jpg", "bilder/m\\xE4rz.jpg", "bilder/x.jpg"}
        << "„bilder/caf\\xE9.jpg“, „bilder/m\\xE4rz.jpg“, …";
}

void TestPublishableName::quotedList()
{
    QFETCH(QStringList, paths);
    QFETCH(QString, list);

    QCOMPARE(QuotedNameList(paths), list);
    const NameListLimits limits;
    QVERIFY(list.size() <= std::max(limits.totalLength, limits.nameLength + 5));
}

QTEST_GUILESS_MAIN(TestPublishableName)
#include "tst_publishablename.moc"
