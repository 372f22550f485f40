#pragma once

#include "directory/found.h"
#include "directory/schema_map.h"
#include "platform/error.h"

#include <QByteArray>
#include <QList>

#include <ldap.h>

namespace directory {

// The URLs of a reference or referral, each with what it may hold.
void addReferences(char **urls, QList<Reference> &references);

// A size, time or administrative limit of the server ended the request; the
// tree names the setting to raise, which depends on the server's kind.
class LimitExceeded : public platform::Error {
public:
    LimitExceeded(int code, const QString &message) : Error(message), resultCode(code) {}
    int resultCode;
};

// The result of an operation: raises for a refusal; for a search, returns
// the next page's cookie (empty after the last page). A search given
// `referrals` takes a referral as its end, with its URLs.
QByteArray checkResult(LDAP *ld, LDAPMessage *result, const QString &what, QList<Reference> *referrals = nullptr);

// The server setting that a limit of `resultCode` comes from.
QString limitSetting(ServerKind kind, int resultCode);

} // namespace directory
