#include "directory/ldap/ldap_result.h"

#include "directory/ldap/ldap_connection.h"
#include "directory/ldap_owners.h"

#include <QScopeGuard>

#include <cstdio> // ldif.h, through ldap_owners.h, wants FILE

namespace directory {

// The URLs of a reference or referral, each with what it may hold. Active
// Directory refers from a domain's root to its DNS zones and configuration,
// which hold no users.
void addReferences(char **urls, QList<Reference> &references)
{
    for (char **url = urls; url && *url; ++url) {
        Reference reference{QString::fromUtf8(*url), true};
        LDAPURLDesc *raw = nullptr;
        if (ldap_url_parse(*url, &raw) == LDAP_URL_SUCCESS) {
            const ldap_owners::Owned<LDAPURLDesc> parsed(raw);
            const QString first = QString::fromUtf8(parsed->lud_dn ? parsed->lud_dn : "").section(QLatin1Char(','), 0, 0);
            for (const char *noUsers : {"DC=DomainDnsZones", "DC=ForestDnsZones", "CN=Configuration"})
                reference.mayHoldUsers = reference.mayHoldUsers && first.compare(QLatin1String(noUsers), Qt::CaseInsensitive) != 0;
        }
        references.append(reference);
    }
}

// The result of an operation: raises for a refusal; for a search, returns
// the next page's cookie (empty after the last page). A search given
// `referrals` takes a referral as its end, with its URLs.
QByteArray checkResult(LDAP *ld, LDAPMessage *result, const QString &what, QList<Reference> *referrals)
{
    int rc = LDAP_SUCCESS;
    char *matched = nullptr;
    char *diagnostic = nullptr;
    char **urls = nullptr;
    LDAPControl **controls = nullptr;
    const int parsed = ldap_parse_result(ld, result, &rc, &matched, &diagnostic, &urls, &controls, 0);
    const ldap_owners::Text matchedOwner(matched), diagnosticOwner(diagnostic);
    const auto freeUrls = qScopeGuard([urls] { ber_memvfree(reinterpret_cast<void **>(urls)); });
    const ldap_owners::Owned<LDAPControl *> controlsOwner(controls);
    if (parsed != LDAP_SUCCESS)
        throw ldapError(ld, parsed, what);
    if (rc == LDAP_REFERRAL && referrals) {
        addReferences(urls, *referrals);
        return {};
    }
    if (rc == LDAP_SIZELIMIT_EXCEEDED || rc == LDAP_TIMELIMIT_EXCEEDED || rc == LDAP_ADMINLIMIT_EXCEEDED)
        throw LimitExceeded(rc, ldapError(ld, rc, what, diagnostic ? diagnostic : "", matched).message());
    if (rc != LDAP_SUCCESS)
        throw ldapError(ld, rc, what, diagnostic ? diagnostic : "", matched);
    QByteArray cookie;
    if (LDAPControl *page = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr)) {
        ber_int_t estimate = 0;
        berval next{0, nullptr};
        const int pageRc = ldap_parse_pageresponse_control(ld, page, &estimate, &next);
        const auto release = qScopeGuard([&next] { ber_memfree(next.bv_val); });
        if (pageRc != LDAP_SUCCESS)
            throw ldapError(ld, pageRc, what);
        cookie = QByteArray(next.bv_val, static_cast<qsizetype>(next.bv_len));
    }
    return cookie;
}

// The server setting that a limit of `resultCode` comes from.
QString limitSetting(ServerKind kind, int resultCode)
{
    switch (kind) {
    case ServerKind::Ds389:
        if (resultCode == LDAP_ADMINLIMIT_EXCEEDED)
            return QStringLiteral("nsslapd-lookthroughlimit (cn=config,cn=ldbm database,cn=plugins,cn=config) oder "
                                  "nsPagedLookThroughLimit am Anmeldeobjekt");
        if (resultCode == LDAP_TIMELIMIT_EXCEEDED)
            return QStringLiteral("nsslapd-timelimit (cn=config) oder nsTimeLimit am Anmeldeobjekt");
        return QStringLiteral("nsslapd-pagedsizelimit (cn=config) oder nsPagedSizeLimit am Anmeldeobjekt");
    case ServerKind::ActiveDirectory:
        if (resultCode == LDAP_TIMELIMIT_EXCEEDED)
            return QStringLiteral("MaxQueryDuration der LDAP-Richtlinie (ntdsutil, lDAPAdminLimits)");
        return QStringLiteral("MaxPageSize und MaxResultSetSize der LDAP-Richtlinie (ntdsutil, lDAPAdminLimits)");
    case ServerKind::EDirectory:
        return QStringLiteral("die Suchgrenzen des LDAP-Server-Objekts (ldapSearchSizeLimit, ldapSearchTimeLimit)");
    case ServerKind::OpenLdap:
        break;
    }
    if (resultCode == LDAP_TIMELIMIT_EXCEEDED)
        return QStringLiteral("limits … time (slapd.conf oder olcLimits)");
    if (resultCode == LDAP_ADMINLIMIT_EXCEEDED)
        return QStringLiteral("limits … size.unchecked (slapd.conf oder olcLimits)");
    return QStringLiteral("limits … size.pr oder size.prtotal (slapd.conf oder olcLimits)");
}

} // namespace directory
