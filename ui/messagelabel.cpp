#include "messagelabel.h"

#include "textfit.h"

#include <QEvent>
#include <cmath>

MessageLabel::MessageLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    // Top-aligned so that a short message starts level with the marker beside it.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void MessageLabel::setMessage(const QString &message)
{
    mMessage = message;
    showMessage();
}

void MessageLabel::showMessage()
{
    const QRect area = contentsRect();
    const QFontMetricsF metrics(font());
    const int lines = std::max(1, int(std::floor(area.height() / metrics.lineSpacing())));
    const FittedText fitted = FitTextToLines(mMessage, font(), area.width(), lines, ElideAt::End);
    mShortened = fitted.shortened;
    setText(fitted.lines.join(QLatin1Char('\n')));
    setToolTip(mShortened ? mMessage : QString());
    setAccessibleName(mMessage);
}

void MessageLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    showMessage();
}

void MessageLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        showMessage();
}
