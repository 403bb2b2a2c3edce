#include "opendocument.h"

#include <QDesktopServices>
#include <QUrl>

int OpenDocument(const QString &document)
{
    // fromUserInput turns "www.example.de" into an http address and an existing local path into a
    // file address, which is what the desktop's "open" action expects.
    const QUrl url = QUrl::fromUserInput(document);
    if (!url.isValid())
        return 0;
    return QDesktopServices::openUrl(url) ? 1 : 0;
}
