#pragma once

#include <QString>

// Opens a document or web address with the desktop's default application. A bare address such as
// "www.example.de" is taken as a web address. Returns 1 when the desktop accepted it, 0 otherwise;
// the only caller, the window's "show" button, ignores it. It needs the desktop's GUI services, so
// it belongs to the window and not to the helpers that the terminal face links.
int OpenDocument(const QString &document);
