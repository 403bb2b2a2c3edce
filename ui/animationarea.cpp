#include "animationarea.h"

#include <QFileInfo>
#include <QMovie>
#include <QPainter>

AnimationArea::AnimationArea(QWidget *parent) : QWidget(parent) {}

bool AnimationArea::open(const QString &clipPath)
{
    delete mMovie;
    mMovie = nullptr;
    mWanted = false;
    // QMovie on a missing file would keep retrying to read it; a clip that is not there is simply
    // not shown.
    if (!QFileInfo(clipPath).isFile())
        return false;
    auto *movie = new QMovie(clipPath, QByteArray(), this);
    if (!movie->isValid()) {
        delete movie;
        return false;
    }
    mMovie = movie;
    connect(mMovie, &QMovie::frameChanged, this, [this] { update(); });
    return true;
}

void AnimationArea::play()
{
    if (!mMovie)
        return;
    mWanted = true;
    mMovie->start();
}

bool AnimationArea::isPlaying() const
{
    return mMovie && mMovie->state() == QMovie::Running;
}

void AnimationArea::paintEvent(QPaintEvent *)
{
    if (!mMovie)
        return;
    const QImage frame = mMovie->currentImage();
    if (frame.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize shown = frame.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target((width() - shown.width()) / 2, (height() - shown.height()) / 2,
                       shown.width(), shown.height());
    painter.drawImage(target, frame);
}

// While the panel that holds the area is hidden nobody sees the clip, so it does not need to be
// decoded; it goes on where it stopped when the panel comes back.
void AnimationArea::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (mMovie && mWanted && mMovie->state() == QMovie::Paused)
        mMovie->setPaused(false);
}

void AnimationArea::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (mMovie && mMovie->state() == QMovie::Running)
        mMovie->setPaused(true);
}
