#pragma once

#include <QLabel>

// A label for a message of several lines: the text is broken at blanks (inside a word only when
// the word alone is too wide) into as many lines as the label's height holds. A message that needs
// more loses its end, marked by "…", instead of being cut off at the label's edge; the whole
// message is in the tool tip and the accessible name.
class MessageLabel : public QLabel
{
    Q_OBJECT

public:
    explicit MessageLabel(QWidget *parent);

    void setMessage(const QString &message);
    [[nodiscard]] QString message() const { return mMessage; }
    [[nodiscard]] bool isShortened() const { return mShortened; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showMessage();

    QString mMessage;
    bool mShortened = false;
};
