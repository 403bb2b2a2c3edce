#include "windowpictures.h"

#include <QGuiApplication>
#include <QMovie>
#include <QTest>

namespace {

int colourDistance(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

} // namespace

class TestWindowPictures : public QObject
{
    Q_OBJECT

private slots:
    void imageList_data();
    void imageList();
    void unknownNumbersAreEmpty();
    void globeAndProgramIcon();
    void clipPlaysInALoopAtTwiceTheAreaSize();
};

void TestWindowPictures::imageList_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<qreal>("density");
    for (const qreal density : {1.0, 2.0}) {
        const char *suffix = density == 1.0 ? "1x" : "2x";
        QTest::addRow("running-triangle-%s", suffix) << 1 << QColor(0, 0, 128) << density;
        QTest::addRow("done-check-%s", suffix) << 2 << QColor(0, 128, 0) << density;
        QTest::addRow("failed-cross-%s", suffix) << 3 << QColor(128, 0, 0) << density;
    }
}

void TestWindowPictures::imageList()
{
    QFETCH(int, number);
    QFETCH(QColor, colour);
    QFETCH(qreal, density);
    const QImage image = ImageListPicture(number)
                             .pixmap(QSize(kImageListPictureSize, kImageListPictureSize), density)
                             .toImage();
    // Drawn for the density, not scaled up from the small one.
    QCOMPARE(image.size(), QSize(10, 10) * density);
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
    int marked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            QVERIFY2(pixel == QColor(Qt::white) || density > 1.0 || pixel == colour,
                     "a 1x marker has two colours only");
            if (colourDistance(pixel, colour) < 40)
                ++marked;
        }
    QVERIFY(marked >= 12 * density * density);
}

void TestWindowPictures::unknownNumbersAreEmpty()
{
    QVERIFY(ImageListPicture(0).isNull());
    QVERIFY(ImageListPicture(4).isNull());
}

void TestWindowPictures::globeAndProgramIcon()
{
    for (const qreal density : {1.0, 2.0}) {
        const QImage globe = GlobePicture().pixmap(QSize(32, 32), density).toImage();
        QCOMPARE(globe.size(), QSize(32, 32) * density);
        QCOMPARE(globe.pixelColor(0, 0).alpha(), 0); // round, on a transparent background
        // Mostly sea: blue outweighs red in the ball as a whole.
        int blue = 0;
        int opaque = 0;
        for (int y = 0; y < globe.height(); ++y)
            for (int x = 0; x < globe.width(); ++x) {
                const QColor pixel = globe.pixelColor(x, y);
                opaque += pixel.alpha() == 255;
                blue += pixel.alpha() == 255 && pixel.blue() > pixel.red() + 40;
            }
        QVERIFY(opaque > globe.width() * globe.height() / 2);
        QVERIFY(blue > opaque / 2);
    }
    const QList<QSize> sizes = ProgramIcon().availableSizes();
    for (const int size : {16, 32, 48, 256})
        QVERIFY(sizes.contains(QSize(size, size)));
    QVERIFY(!ProgramIcon().pixmap(QSize(32, 32)).isNull());
}

void TestWindowPictures::clipPlaysInALoopAtTwiceTheAreaSize()
{
    QMovie clip(qEnvironmentVariable("PARCELUP_SOURCE_DIR") + QStringLiteral("/resources/ftp.dat"));
    QVERIFY(clip.isValid());
    // The name says nothing about the format; Qt has to recognise it from the content.
    QCOMPARE(clip.format(), QByteArray("gif"));
    QVERIFY(clip.frameCount() > 10);
    QCOMPARE(clip.loopCount(), -1); // for ever
    for (int frame = 0; frame < clip.frameCount(); ++frame) {
        QVERIFY(clip.jumpToFrame(frame));
        const QImage image = clip.currentImage();
        QCOMPARE(image.size(), QSize(546, 82));
        // Transparent where nothing is drawn, so the window's own colour shows through.
        QCOMPARE(image.pixelColor(image.width() - 1, 0).alpha(), 0);
        QCOMPARE(image.pixelColor(image.width() / 2, image.height() - 1).alpha(), 0);
    }
}

QTEST_MAIN(TestWindowPictures)
#include "tst_windowpictures.moc"
