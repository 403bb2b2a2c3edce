// The window's own handlers: its buttons, the keys, closing and first showing.
#include "formftpprogress.h"
#include "opendocument.h"
#include "programexit.h"
#include "windowcaptions.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

void FormFTPProgress::cancelRun()
{
    // The title changes first, so the user sees at once that the click was taken, while the run
    // may still need a moment to wind down.
    setWindowTitle(WindowCaptions::cancellingTitle());
    mControl.cancel();
}

void FormFTPProgress::closeEvent(QCloseEvent *event)
{
    // Closing the window, by whatever means, cancels a run that is still working; the run stops
    // at its next test, in its own wait. The close itself is never refused.
    mControl.cancel();
    event->accept();
    // After the run the program ends with the window, and its exit status says how the run went, so
    // a script that started it can tell.
    if (mResultStatus)
        RequestProgramExit(*mResultStatus);
}

void FormFTPProgress::closeAndEndProgram()
{
    close();
    RequestProgramExit(mResultStatus.value_or(0));
}

void FormFTPProgress::showPublishedSite()
{
    // The desktop's answer does not matter: a browser that does not start has its own message.
    (void)OpenDocument(mControl.siteAddress());
}

bool FormFTPProgress::pressIfAvailable(QPushButton *button)
{
    if (!button || !button->isEnabled() || !button->isVisibleTo(this))
        return false;
    button->click();
    return true;
}

void FormFTPProgress::keyPressEvent(QKeyEvent *event)
{
    // Key presses arrive here when the focused control has no use for them. Escape presses the
    // cancel button of the moment and Enter the default button, as in a dialog.
    if (event->matches(QKeySequence::Cancel)) {
        pressIfAvailable(mCancelButton);
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        pressIfAvailable(mCmdShow);
        return;
    }
    QWidget::keyPressEvent(event);
}

void FormFTPProgress::showEvent(QShowEvent *event)
{
    // Centred on the screen the first time only; afterwards the window stays where the user put
    // it. Done before the window is mapped, so it never appears elsewhere first.
    if (!mPlacedOnScreen && !event->spontaneous()) {
        mPlacedOnScreen = true;
        if (const QScreen *where = screen())
            setGeometry(QStyle::alignedRect(layoutDirection(), Qt::AlignCenter, size(),
                                            where->availableGeometry()));
    }
    QWidget::showEvent(event);
}
