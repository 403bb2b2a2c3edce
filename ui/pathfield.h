#pragma once

#include <QPlainTextEdit>
#include <QPointer>

// The text field that shows the remote path of the file or folder being handled: read-only, as
// many lines as its height holds (two with the usual fonts), on the dialog's face colour, and not
// part of the Tab chain. A path longer than the lines hold loses its beginning, marked by "…", so
// the file name at its end stays in view; the whole path is in the tool tip.
//
// The field never keeps the keyboard focus: when it receives it, by a click or otherwise, it
// passes it on to its focus recipient.
class PathField : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit PathField(QWidget *parent);

    void setPath(const QString &path);
    [[nodiscard]] QString path() const { return mPath; }
    // The text as shown, with the line breaks and the "…" of a shortened path.
    [[nodiscard]] QString shownText() const { return toPlainText(); }

    void setFocusRecipient(QWidget *recipient) { mFocusRecipient = recipient; }

protected:
    void focusInEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showPath();
    void useFaceColour();

    QString mPath;
    QPointer<QWidget> mFocusRecipient;
};
