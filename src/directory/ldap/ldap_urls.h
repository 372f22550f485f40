#pragma once

#include <QString>
#include <QStringList>

namespace directory {

// The servers of a uri= setting, one URL each, in their order; libldap reads
// the list (blanks or commas between the URLs). One URL comes back as it was
// written. Raises for a list libldap cannot read.
QStringList ldapUrls(const QString &uri);

// The server a URL names (scheme, host, port), without the entry a
// referral adds; the URL itself when libldap cannot read it.
QString serverOf(const QString &url);

// Whether two URLs name the same server: scheme, host (letter case ignored)
// and port, a missing port being the scheme's own.
bool sameServer(const QString &a, const QString &b);

} // namespace directory
