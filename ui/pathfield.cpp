#include "pathfield.h"

#include "textfit.h"

#include <QEvent>
#include <QFocusEvent>
#include <QTextDocument>
#include <cmath>

namespace {

// Little room around the text: two lines of the usual dialog font only just fit the field's
// height as the window was laid out.
constexpr int kDocumentMargin = 1;
constexpr int kSideMargin = 2;

} // namespace

PathField::PathField(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setFocusPolicy(Qt::ClickFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
    setUndoRedoEnabled(false);
    // The lines are broken here, where the shortening is decided, not again by the editor.
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document()->setDocumentMargin(kDocumentMargin);
    setViewportMargins(kSideMargin, 0, kSideMargin, 0);
    useFaceColour();
}

void PathField::setPath(const QString &path)
{
    mPath = path;
    showPath();
}

void PathField::showPath()
{
    // Worked out from the field's own geometry, which is known even before the window is shown;
    // the viewport gets its size only then.
    const QMargins margins = viewportMargins();
    const QRect area = contentsRect().marginsRemoved(margins);
    const QFontMetricsF metrics(font());
    // One pixel less than the viewport: the editor keeps a cursor's width free at the right.
    const qreal width = area.width() - 2.0 * kDocumentMargin - 1.0;
    const int lines = std::max(
        1, int(std::floor((area.height() - 2.0 * kDocumentMargin) / metrics.lineSpacing())));
    const FittedText fitted = FitTextToLines(mPath, font(), width, lines, ElideAt::Start);
    setPlainText(fitted.lines.join(QLatin1Char('\n')));
    setToolTip(mPath);
    setAccessibleDescription(mPath);
}

void PathField::focusInEvent(QFocusEvent *event)
{
    if (mFocusRecipient && mFocusRecipient->isVisible() && mFocusRecipient->isEnabled()) {
        mFocusRecipient->setFocus(event->reason());
        return;
    }
    QPlainTextEdit::focusInEvent(event);
}

void PathField::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    showPath();
}

void PathField::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        showPath();
    else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        useFaceColour();
}

void PathField::useFaceColour()
{
    QPalette colours = palette();
    bool changed = false;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QBrush face = colours.brush(group, QPalette::Window);
        if (colours.brush(group, QPalette::Base) != face) {
            colours.setBrush(group, QPalette::Base, face);
            changed = true;
        }
    }
    // Setting the palette raises another PaletteChange; the comparison above ends the round trip.
    if (changed)
        setPalette(colours);
}
