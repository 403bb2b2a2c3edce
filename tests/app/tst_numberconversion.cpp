#include "numberconversion.h"
#include "roundhalfeven.h"

#include <QTest>
#include <clocale>

class TestNumberConversion : public QObject
{
    Q_OBJECT

private slots:
    void number_data();
    void number();
    void wholeNumber_data();
    void wholeNumber();
    void truth_data();
    void truth();
    void decimalPointIgnoresLocale();
    void roundHalfEven_data();
    void roundHalfEven();
};

void TestNumberConversion::number_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<double>("expected");

    QTest::newRow("empty") << "" << true << 0.0;
    QTest::newRow("word") << "nein" << true << 0.0;
    QTest::newRow("True-is-a-word") << "True" << true << 0.0;
    QTest::newRow("integer") << "21" << true << 21.0;
    QTest::newRow("negative") << "-1" << true << -1.0;
    QTest::newRow("plus-sign") << "+7" << true << 7.0;
    QTest::newRow("double-sign") << "--1" << true << 0.0;
    QTest::newRow("fraction") << "0.5" << true << 0.5;
    QTest::newRow("leading-point") << ".5" << true << 0.5;
    QTest::newRow("negative-leading-point") << "-.25" << true << -0.25;
    QTest::newRow("trailing-point") << "5." << true << 5.0;
    QTest::newRow("lone-point") << "." << true << 0.0;
    QTest::newRow("leading-blank") << " 1" << true << 1.0;
    QTest::newRow("blanks-inside") << "1 2 3" << true << 123.0;
    QTest::newRow("tab-and-linefeed") << "\t-\n3" << true << -3.0;
    QTest::newRow("carriage-return-stops") << "1\r2" << true << 1.0;
    QTest::newRow("stops-at-letter") << "12abc" << true << 12.0;
    QTest::newRow("comma-is-no-separator") << "1,5" << true << 1.0;
    QTest::newRow("second-point-stops") << "1.2.3" << true << 1.2;
    QTest::newRow("exponent-E") << "1E3" << true << 1000.0;
    QTest::newRow("exponent-D") << "1D3" << true << 1000.0;
    QTest::newRow("exponent-lower") << "2.5e2" << true << 250.0;
    QTest::newRow("exponent-negative") << "1e-2" << true << 0.01;
    QTest::newRow("exponent-plus") << "2E+2" << true << 200.0;
    QTest::newRow("exponent-without-digits") << "1e" << true << 1.0;
    QTest::newRow("exponent-sign-only") << "1e+" << true << 1.0;
    QTest::newRow("exponent-blank-inside") << "1 e 2" << true << 100.0;
    QTest::newRow("hex") << "&H10" << true << 16.0;
    QTest::newRow("hex-lower") << "&hff" << true << 255.0;
    QTest::newRow("hex-stops") << "&H1G" << true << 1.0;
    QTest::newRow("hex-empty") << "&H" << true << 0.0;
    QTest::newRow("hex-large") << "&HFFFFFFFF" << true << 4294967295.0;
    QTest::newRow("octal") << "&O17" << true << 15.0;
    QTest::newRow("octal-stops-at-8") << "&O78" << true << 7.0;
    QTest::newRow("ampersand-alone") << "&" << true << 0.0;
    QTest::newRow("too-large") << "1e400" << false << 0.0;
    QTest::newRow("too-small-is-zero") << "1e-400" << true << 0.0;
}

void TestNumberConversion::number()
{
    QFETCH(QString, text);
    QFETCH(bool, fits);
    QFETCH(double, expected);
    const auto value = NumberFromText(text);
    QCOMPARE(value.has_value(), fits);
    if (fits)
        QCOMPARE(*value, expected);
}

void TestNumberConversion::wholeNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("expected");

    QTest::newRow("half-down-to-even-0") << "0.5" << true << 0;
    QTest::newRow("half-up-to-even-2") << "1.5" << true << 2;
    QTest::newRow("half-down-to-even-2") << "2.5" << true << 2;
    QTest::newRow("half-up-to-even-4") << "3.5" << true << 4;
    QTest::newRow("negative-half") << "-0.5" << true << 0;
    QTest::newRow("negative-one-and-half") << "-1.5" << true << -2;
    QTest::newRow("negative-two-and-half") << "-2.5" << true << -2;
    QTest::newRow("below-half") << "0.4" << true << 0;
    QTest::newRow("above-half") << "0.6" << true << 1;
    QTest::newRow("port") << "21" << true << 21;
    QTest::newRow("high-port") << "40000" << true << 40000;
    QTest::newRow("hex") << "&H15" << true << 21;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("max-plus-one") << "2147483648" << false << 0;
    QTest::newRow("min-minus-one") << "-2147483649" << false << 0;
    QTest::newRow("rounds-over-max") << "2147483647.5" << false << 0;
    QTest::newRow("rounds-to-max") << "2147483646.5" << true << 2147483646;
    QTest::newRow("hex-over-max") << "&HFFFFFFFF" << false << 0;
    QTest::newRow("exponent-over-max") << "1e10" << false << 0;
    QTest::newRow("double-overflow") << "1e400" << false << 0;
    QTest::newRow("word") << "zwei" << true << 0;
}

void TestNumberConversion::wholeNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, fits);
    QFETCH(int, expected);
    const auto value = WholeNumberFromText(text);
    QCOMPARE(value.has_value(), fits);
    if (fits)
        QCOMPARE(*value, expected);
}

void TestNumberConversion::truth_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("one") << "1" << true;
    QTest::newRow("minus-one") << "-1" << true;
    QTest::newRow("two") << "2" << true;
    QTest::newRow("half") << "0.5" << true;
    QTest::newRow("leading-blank") << " 1" << true;
    QTest::newRow("zero") << "0" << false;
    QTest::newRow("zero-point-zero") << "0.0" << false;
    QTest::newRow("negative-zero") << "-0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("nein") << "nein" << false;
    QTest::newRow("True") << "True" << false;
}

void TestNumberConversion::truth()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(TruthFromText(text), std::optional<bool>(expected));
}

void TestNumberConversion::decimalPointIgnoresLocale()
{
    // Whatever locale the process runs in, "." stays the decimal separator and "," ends the number.
    const char *previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name) == nullptr)
            continue;
        QCOMPARE(NumberFromText(QStringLiteral("1.5")), std::optional<double>(1.5));
        QCOMPARE(NumberFromText(QStringLiteral("1,5")), std::optional<double>(1.0));
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
}

void TestNumberConversion::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");
    QTest::newRow("0.5") << 0.5 << 0.0;
    QTest::newRow("1.5") << 1.5 << 2.0;
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("-3.5") << -3.5 << -4.0;
    QTest::newRow("2.4999") << 2.4999 << 2.0;
    QTest::newRow("86399.5") << 86399.5 << 86400.0;
}

void TestNumberConversion::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(double, expected);
    QCOMPARE(RoundHalfEven(value), expected);
}

QTEST_GUILESS_MAIN(TestNumberConversion)
#include "tst_numberconversion.moc"
