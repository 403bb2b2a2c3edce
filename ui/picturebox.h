#pragma once

#include <QIcon>
#include <QWidget>

// A picture control: shows one picture at its natural size, centred in the control and drawn for
// the screen's pixel density. It is empty until it is given a picture.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    PictureBox(QSize pictureSize, QWidget *parent);

    void setPicture(const QIcon &picture);
    [[nodiscard]] const QIcon &picture() const { return mPicture; }
    [[nodiscard]] QSize pictureSize() const { return mPictureSize; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSize mPictureSize;
    QIcon mPicture;
};
