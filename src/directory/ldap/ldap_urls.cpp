#include "directory/ldap/ldap_urls.h"

#include <cstdio> // ldif.h, through ldap_owners.h, wants FILE

#include "directory/ldap_owners.h"
#include "platform/error.h"

#include <utility>

// libldap's reader of URL lists, as ldap_initialize() itself reads uri=; it
// is exported, though only its private header declares it.
extern "C" int ldap_url_parselist(LDAPURLDesc **ludlist, const char *url);
extern "C" void ldap_free_urllist(LDAPURLDesc *ludlist);

namespace directory {

namespace {

struct UrlList {
    LDAPURLDesc *first = nullptr;
    ~UrlList() { ldap_free_urllist(first); }
};

QString schemeOf(const LDAPURLDesc *url)
{
    return QString::fromUtf8(url->lud_scheme ? url->lud_scheme : "ldap").toLower();
}

int portOf(const LDAPURLDesc *url)
{
    if (url->lud_port > 0)
        return url->lud_port;
    return schemeOf(url) == QLatin1String("ldaps") ? LDAPS_PORT : LDAP_PORT;
}

} // namespace

QStringList ldapUrls(const QString &uri)
{
    UrlList list;
    if (ldap_url_parselist(&list.first, uri.toUtf8().constData()) != LDAP_URL_SUCCESS || !list.first)
        throw platform::Error(QStringLiteral("uri=%1 ist keine Liste von LDAP-URLs").arg(uri));
    if (!list.first->lud_next)
        return {uri.trimmed()};
    QStringList urls;
    for (LDAPURLDesc *url = list.first; url; url = url->lud_next) {
        LDAPURLDesc *next = std::exchange(url->lud_next, nullptr); // one URL, not the rest of the list
        url->lud_scope = LDAP_SCOPE_DEFAULT; // a server, no search: no "??base"
        char *text = ldap_url_desc2str(url);
        url->lud_next = next;
        const ldap_owners::Text owner(text);
        if (!text)
            throw platform::Error(QStringLiteral("uri=%1 ist keine Liste von LDAP-URLs").arg(uri));
        urls.append(QString::fromUtf8(text));
    }
    return urls;
}

QString serverOf(const QString &url)
{
    LDAPURLDesc *raw = nullptr;
    if (ldap_url_parse(url.toUtf8().constData(), &raw) != LDAP_URL_SUCCESS)
        return url;
    const ldap_owners::Owned<LDAPURLDesc> parsed(raw);
    const QString host = QString::fromUtf8(raw->lud_host ? raw->lud_host : "");
    const QString text = QStringLiteral("%1://%2").arg(schemeOf(raw), host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host);
    return raw->lud_port > 0 ? QStringLiteral("%1:%2").arg(text).arg(raw->lud_port) : text;
}

bool sameServer(const QString &a, const QString &b)
{
    LDAPURLDesc *rawA = nullptr;
    LDAPURLDesc *rawB = nullptr;
    const int parsedA = ldap_url_parse(a.toUtf8().constData(), &rawA);
    const int parsedB = ldap_url_parse(b.toUtf8().constData(), &rawB);
    const ldap_owners::Owned<LDAPURLDesc> urlA(rawA), urlB(rawB);
    if (parsedA != LDAP_URL_SUCCESS || parsedB != LDAP_URL_SUCCESS)
        return false;
    return schemeOf(rawA) == schemeOf(rawB)
           && QString::fromUtf8(rawA->lud_host ? rawA->lud_host : "").compare(QString::fromUtf8(rawB->lud_host ? rawB->lud_host : ""), Qt::CaseInsensitive) == 0
           && portOf(rawA) == portOf(rawB);
}

} // namespace directory
