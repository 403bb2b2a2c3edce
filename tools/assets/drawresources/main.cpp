// Draws the pictures of the progress window, the program's icon and the frames of the animation
// clip. tools/assets/draw-resources.sh runs it and turns the frames into the clip; the results are
// committed, so a build never needs this program.
#include "drawings.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

namespace {

bool save(const QImage &image, const QString &path)
{
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: %s PICTURE-FOLDER FRAME-FOLDER\n", argv[0]);
        return 2;
    }
    const QDir pictures(arguments.at(1));
    const QDir frames(arguments.at(2));
    if (!QDir().mkpath(pictures.path()) || !QDir().mkpath(frames.path())) {
        std::fprintf(stderr, "cannot create the output folders\n");
        return 1;
    }

    bool ok = true;
    const struct
    {
        StepMark mark;
        const char *name;
    } marks[] = {{StepMark::Running, "step-running"},
                 {StepMark::Done, "step-done"},
                 {StepMark::Failed, "step-failed"}};
    for (const auto &mark : marks) {
        const QString name = QString::fromLatin1(mark.name);
        ok &= save(DrawStepMark(mark.mark, 1), pictures.filePath(name + QStringLiteral(".png")));
        ok &= save(DrawStepMark(mark.mark, 2), pictures.filePath(name + QStringLiteral("@2x.png")));
    }
    ok &= save(DrawGlobe(32), pictures.filePath(QStringLiteral("globe.png")));
    ok &= save(DrawGlobe(64), pictures.filePath(QStringLiteral("globe@2x.png")));
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        ok &= save(DrawProgramIcon(size),
                   pictures.filePath(QStringLiteral("parcelup-%1.png").arg(size)));

    constexpr int frameCount = 48;
    for (int frame = 0; frame < frameCount; ++frame)
        ok &= save(
            DrawAnimationFrame(frame, frameCount, 2),
            frames.filePath(QStringLiteral("frame-%1.png").arg(frame, 2, 10, QLatin1Char('0'))));
    return ok ? 0 : 1;
}
