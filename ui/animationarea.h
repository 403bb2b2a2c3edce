#pragma once

#include <QWidget>

class QMovie;

// The animation control: plays a clip file in a loop, scaled into its area. The clip may be drawn
// at a multiple of the area's size, which keeps it sharp on dense screens. The animation is
// decoration only: a missing or unreadable clip leaves the area empty.
class AnimationArea : public QWidget
{
    Q_OBJECT

public:
    explicit AnimationArea(QWidget *parent);

    // Opens the clip; its format is recognised from the content, not the file name. Returns false
    // when the file cannot be played.
    bool open(const QString &clipPath);
    void play();
    [[nodiscard]] bool isPlaying() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QMovie *mMovie = nullptr;
    bool mWanted = false;
};
