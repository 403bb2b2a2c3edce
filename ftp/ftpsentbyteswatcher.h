#pragma once

#include <QByteArrayView>
#include <functional>

// Sees the bytes of an upload on their way to the server: every piece of the local file, in
// order, as it is read to be sent. A caller that wants to know what it uploaded (a digest of the
// content, a count) learns it this way without reading the file a second time. Only a transfer
// that succeeded has shown the whole file; one that failed may have shown any part of it.
using FtpSentBytesWatcher = std::function<void(QByteArrayView piece)>;
