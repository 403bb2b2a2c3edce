#pragma once

#include <QString>
#include <QStringList>

// The one spelling under which the component's state files know a host, so that another spelling
// of the same name or address finds what was remembered under the first. Otherwise a host that is
// refused in plain FTP, or whose certificate is pinned, would be a stranger again as "127.1",
// "[::ffff:127.0.0.1]", "FTP.Example.", or in its IDNA form.
//
//   names      lower case, without the trailing dots of a fully qualified name, international
//              names in their ASCII (IDNA) form;
//   IPv4       dotted decimal, whatever form the resolver takes as a number ("127.1",
//              "0x7f.0.0.1", "2130706433"), also when written as an IPv4-mapped IPv6 address;
//   IPv6       the compressed form without brackets and without a zone.
[[nodiscard]] QString FtpHostKey(const QString &host);

// The keys of an endpoint that the state files consult and record: the host as the settings spell
// it and, for a connection made straight to it, the address it was reached at. A name may have
// several addresses, and another spelling may be that address itself: recording the address as
// well keeps a respelling from slipping past what was remembered for the name. The address is
// never a key on its own for a name: the name may point elsewhere tomorrow, and then the name's
// own entry still decides. Duplicates are left out.
[[nodiscard]] QStringList FtpHostKeys(const QString &host, const QString &reachedAddress);
