#include "picturebox.h"

#include <QPainter>
#include <QStyle>

PictureBox::PictureBox(QSize pictureSize, QWidget *parent)
    : QWidget(parent), mPictureSize(pictureSize)
{}

void PictureBox::setPicture(const QIcon &picture)
{
    mPicture = picture;
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    if (mPicture.isNull())
        return;
    QPainter painter(this);
    // QIcon picks the file that matches the painter's pixel density, so a 2x screen gets the 2x
    // drawing instead of an enlarged 1x one.
    mPicture.paint(&painter,
                   QStyle::alignedRect(layoutDirection(), Qt::AlignCenter, mPictureSize, rect()));
}
