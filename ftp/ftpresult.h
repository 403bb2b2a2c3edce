#pragma once

#include <QtGlobal>

// Outcome numbers of FtpControl::result(). 0 is success. A negative reply of the server is reported
// as ReplyBase + its three-digit code (530 at log-in gives 20530), so callers can tell "the server
// said no" from failures that happened on our side of the connection, which use the small numbers
// below.
namespace FtpResult {
enum Code : qint16 {
    Success = 0,
    NameLookupFailed = 1,    // the host name could not be resolved
    ConnectionRefused = 2,   // nothing listens on the host's port
    ConnectionLost = 3,      // the control or data connection broke off
    Timeout = 4,             // the server did not answer in time
    TlsFailure = 5,          // handshake failed, certificate unusable, or TLS required but missing
    LocalFileUnreadable = 6, // PutFile: the local file could not be opened or read
    LocalFileUnwritable = 7, // GetFile: the local file could not be created or written
    ProtocolViolation = 8,   // the server's reply could not be understood
    Aborted = 9,             // Abort() ended the request
    ProxyFailure = 10,       // the SOCKS5, HTTP or FTP proxy refused or could not be reached
    DataConnectionFailed = 11, // no data connection could be opened in either mode
    NotConnected = 12,         // a request that needs a log-in was started without one
    // Connect: the server's certificate does not verify and is not the one trusted before; what
    // the user needs to judge it is in FtpControl::tlsRefusal().
    CertificateChanged = 15,
    // Only as FtpError numbers, never as a result: the request could not be started.
    RequestPending = 13,  // another request has not completed yet
    InvalidArgument = 14, // an argument holds a line break
    // GetFile: the file went beyond the download limit (FtpControl::setDownloadLimit); the
    // transfer was given up there and nothing of it was kept.
    DownloadTooLarge = 16,
    ReplyBase = 20000,
};

// The server's three-digit reply code within a result; 0 for a result of our side.
constexpr int replyCode(qint16 result)
{
    return result >= ReplyBase ? result - ReplyBase : 0;
}
// "Not now": a 4xx reply. Asking again later may well succeed.
constexpr bool isTransientRefusal(qint16 result)
{
    return replyCode(result) >= 400 && replyCode(result) < 500;
}
// "No, and asking again will not help": a 5xx reply.
constexpr bool isPermanentRefusal(qint16 result)
{
    return replyCode(result) >= 500 && replyCode(result) < 600;
}
// The server said no, as opposed to a failure on our side.
constexpr bool isRefusal(qint16 result)
{
    return isTransientRefusal(result) || isPermanentRefusal(result);
}
} // namespace FtpResult
