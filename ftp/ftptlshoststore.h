#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The hosts that completed a log-in over TLS: one "host port" line each, in a small text file
// that only its owner may read or change (folder 0700, file 0600), next to the certificates
// trusted on first use. Lines starting with "#" are comments; forgetting a host means deleting its
// line. Hosts are compared by their FtpHostKey, so that no other spelling of a remembered host gets
// the password in clear text.
//
// It is what keeps opportunistic TLS from being stripped: a bare host that spoke TLS once must do
// so again, because a server that suddenly offers no TLS, refuses AUTH TLS or fails the handshake
// is what someone between the user and the server would show to get the password in clear text.
// A host is added only after a whole log-in over TLS, so a server that agrees to TLS and then
// cannot finish it is never remembered by mistake.
class FtpTlsHostStore
{
public:
    // $XDG_STATE_HOME/vellumix/parcelup/tls-hosts, by default ~/.local/state/vellumix/parcelup/.
    [[nodiscard]] static QString defaultPath();
    // The store in the same folder as the certificate store at certificateStorePath, so that
    // whoever moves one (a test, a second profile) moves both.
    [[nodiscard]] static QString pathBeside(const QString &certificateStorePath);

    explicit FtpTlsHostStore(QString path);

    [[nodiscard]] QString path() const { return mPath; }

    // Whether host and port completed a TLS log-in before. A store that does not exist knows no
    // host; one that exists but cannot be read gives nothing and sets error, and the caller must
    // then assume the worst.
    [[nodiscard]] std::optional<bool> contains(const QString &host, quint16 port,
                                               QString *error) const;
    // The same for the keys of one endpoint (FtpHostKeys): known when any of them is.
    [[nodiscard]] std::optional<bool> contains(const QStringList &hosts, quint16 port,
                                               QString *error) const;
    // Adds host and port unless they are known already (then the file is not touched).
    [[nodiscard]] bool remember(const QString &host, quint16 port, QString *error);
    // The same for every key of one endpoint, in one write.
    [[nodiscard]] bool remember(const QStringList &hosts, quint16 port, QString *error);

    // "host port" as stored, with the host's FtpHostKey, like the certificate store.
    [[nodiscard]] static QString key(const QString &host, quint16 port);

private:
    QString mPath;
};
