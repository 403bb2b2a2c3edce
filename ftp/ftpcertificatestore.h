#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The certificates trusted on first use: one SHA-256 fingerprint per server host and port, kept in
// a small text file that only its owner may read or change (folder 0700, file 0600). A line reads
// "host port fingerprint" with the fingerprint in lower-case hex; lines starting with "#" are
// comments. Forgetting a server means deleting its line. Hosts are compared by their FtpHostKey,
// so another spelling of the same host finds its line, also one written by hand.
//
// A server whose certificate verifies against the system's authorities never needs an entry; the
// store is for the many hosting companies whose FTP servers present a self-signed certificate or
// one issued for another name.
class FtpCertificateStore
{
public:
    // The per-user state folder: $XDG_STATE_HOME/vellumix/parcelup/known-certificates, by default
    // ~/.local/state/vellumix/parcelup/known-certificates. Computed here so that the component
    // needs nothing from the rest of the program.
    [[nodiscard]] static QString defaultPath();

    explicit FtpCertificateStore(QString path);

    [[nodiscard]] QString path() const { return mPath; }

    // The fingerprint stored for host and port, if any. A store that cannot be read counts as
    // empty only when it does not exist; otherwise error is set and nothing is returned.
    [[nodiscard]] std::optional<QByteArray> fingerprint(const QString &host, quint16 port,
                                                        QString *error = nullptr) const;
    // The same for the keys of one endpoint (FtpHostKeys): the first that has an entry decides.
    [[nodiscard]] std::optional<QByteArray> fingerprint(const QStringList &hosts, quint16 port,
                                                        QString *error = nullptr) const;
    // Stores the fingerprint for host and port, replacing an earlier one. Written to a temporary
    // file and renamed over the old one, so a crash leaves the old file or the new one.
    [[nodiscard]] bool remember(const QString &host, quint16 port, const QByteArray &fingerprint,
                                QString *error);
    // The same for every key of one endpoint, in one write.
    [[nodiscard]] bool remember(const QStringList &hosts, quint16 port,
                                const QByteArray &fingerprint, QString *error);

    // "host port" with the host's FtpHostKey.
    [[nodiscard]] static QString key(const QString &host, quint16 port);

private:
    QString mPath;
};
