#pragma once

#include "directory/found.h"
#include "directory/ldap/ldap_connection.h"
#include "directory/ldap/ldap_entry.h"
#include "directory/ldap/ldap_result.h"
#include "directory/ldap_owners.h"
#include "platform/error.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <array>
#include <cstdio> // ldif.h, through ldap_owners.h, wants FILE
#include <exception>
#include <functional>
#include <memory>

#include <ldap.h>

namespace directory {

// One search; paged (RFC 2696) where many entries may come, so that it
// passes the server's size limit. Each page is a request of its own, with its
// own deadline.
class PagedSearch : public std::enable_shared_from_this<PagedSearch> {
public:
    static constexpr int kPageSize = 1000;

    // A server is taken to page without end when its last kPageWindow pages
    // brought fewer than kLeastNewPerWindow entries the search had not had yet:
    // one new entry now and then must not keep it going. A repeated cookie
    // proves nothing (389 and Samba send the same one on every page), nor does an
    // empty page (Active Directory sends them while it looks through objects
    // that do not match), nor a few of them in a row.
    static constexpr int kPageWindow = 100;
    static constexpr int kLeastNewPerWindow = 10;

    using Take = std::function<void(Entry &entry)>; // may raise: ends the search
    using End = std::function<void(std::exception_ptr failure, const QList<Reference> &references)>;

    PagedSearch(LdapConnection &connection, const QString &baseDn, int scope, const QString &filter,
                QByteArray attribute, bool paged, Take take, End end, QByteArray identity = {})
        : m_connection(connection), m_baseDn(baseDn.toUtf8()), m_scope(scope), m_filter(filter.toUtf8()),
          m_attribute(std::move(attribute)), m_identity(std::move(identity)), m_paged(paged),
          m_what(QStringLiteral("Suche in %1").arg(baseDn)), m_take(std::move(take)), m_end(std::move(end))
    {
    }

    [[nodiscard]] bool paged() const { return m_paged; }

    // Sends the first request; a failure to send ends the search.
    void begin()
    {
        try {
            sendPage();
        } catch (...) {
            finish(std::current_exception());
        }
    }

    void setEnd(End end) { m_end = std::move(end); }

    void finish(std::exception_ptr failure)
    {
        if (End end = std::exchange(m_end, nullptr))
            end(failure, m_references);
    }

    // Ends the search now and tells the server to drop it, so that the
    // connection's next request is answered at once.
    void cancel(std::exception_ptr why)
    {
        m_connection.abandon(m_messageId);
        finish(why);
    }

private:
    // Whether the entry's DN is new to this search, by a hash of it: a
    // collision only makes a page look less new than it is, and it would
    // take a whole page of them, many pages in a row, to end a search.
    void noteDn(QByteArrayView dn)
    {
        if (++m_entries > m_connection.settings().maxEntries)
            throw platform::Error(QStringLiteral("%1 abgebrochen: mehr als %2 Einträge (maxentries= in der Konfiguration)")
                                      .arg(m_what).arg(m_connection.settings().maxEntries));
        if (!m_paged)
            return;
        const auto hash = static_cast<quint32>(qHash(dn, 0));
        if (!m_seenDns.contains(hash)) {
            m_seenDns.insert(hash);
            ++m_newOnPage;
        }
    }

    // Raises when the pages so far bring too little that is new.
    void notePage()
    {
        m_newInWindow += m_newOnPage - std::exchange(m_newPerPage[m_pages % kPageWindow], m_newOnPage);
        ++m_pages;
        if (m_pages >= kPageWindow && m_newInWindow < kLeastNewPerWindow)
            throw platform::Error(QStringLiteral("%1 abgebrochen: der Server liefert Seite um Seite ohne neue Einträge "
                                                 "(%2 neue in den letzten %3 Seiten)").arg(m_what).arg(m_newInWindow).arg(kPageWindow));
    }

    void sendPage()
    {
        m_newOnPage = 0;
        auto self = shared_from_this();
        m_messageId = m_connection.send(m_what, [this](LDAP *ld, int *id) { return sendOn(ld, id); },
                                        [self](LDAP *ld, LDAPMessage *message, std::exception_ptr failure) {
                                            self->take(ld, message, failure);
                                        });
    }

    int sendOn(LDAP *ld, int *id)
    {
        berval cookie{static_cast<ber_len_t>(m_cookie.size()), m_cookie.data()};
        LDAPControl *raw = nullptr;
        if (m_paged) {
            const int rc = ldap_create_page_control(ld, kPageSize, m_cookie.isEmpty() ? nullptr : &cookie, 0, &raw);
            if (rc != LDAP_SUCCESS)
                return rc;
        }
        const ldap_owners::Owned<LDAPControl> page(raw);
        LDAPControl *controls[] = {page.get(), nullptr};
        char *attributes[] = {m_attribute.isEmpty() ? const_cast<char *>(LDAP_NO_ATTRS) : m_attribute.data(),
                              m_identity.isEmpty() ? nullptr : m_identity.data(), nullptr};
        timeval limit{m_connection.settings().timeoutSeconds, 0}; // the server's share of the deadline
        return ldap_search_ext(ld, m_baseDn.constData(), m_scope, m_filter.constData(), attributes, 0, controls,
                               nullptr, &limit, 0, id);
    }

    void take(LDAP *ld, LDAPMessage *message, std::exception_ptr failure)
    {
        if (failure)
            return finish(failure);
        try {
            switch (ldap_msgtype(message)) {
            case LDAP_RES_SEARCH_ENTRY: {
                Entry entry(ld, message);
                noteDn(entry.dn());
                m_take(entry);
                break;
            }
            case LDAP_RES_SEARCH_RESULT: {
                const QByteArray next = checkResult(ld, message, m_what, &m_references);
                if (next.isEmpty())
                    return finish(nullptr);
                notePage();
                m_cookie = next;
                sendPage();
                break;
            }
            case LDAP_RES_SEARCH_REFERENCE: { // not followed, but never passed over in silence
                char **urls = nullptr;
                if (ldap_parse_reference(ld, message, &urls, nullptr, 0) == LDAP_SUCCESS) {
                    addReferences(urls, m_references);
                    ber_memvfree(reinterpret_cast<void **>(urls));
                }
                break;
            }
            default:
                break;
            }
        } catch (...) {
            m_connection.abandon(m_messageId); // the rest of the page is of no use
            finish(std::current_exception());
        }
    }

    LdapConnection &m_connection;
    QByteArray m_baseDn;
    int m_scope;
    QByteArray m_filter;
    QByteArray m_attribute;
    QByteArray m_identity; // the entry's identity attribute, asked for beside m_attribute
    bool m_paged;
    QString m_what;
    Take m_take;
    End m_end;
    QByteArray m_cookie;
    int m_messageId = -1;
    QSet<quint32> m_seenDns;
    QList<Reference> m_references;
    qint64 m_entries = 0; // repeated ones too: they take memory all the same
    int m_newOnPage = 0;
    std::array<int, kPageWindow> m_newPerPage{};
    int m_newInWindow = 0;
    qint64 m_pages = 0;
};

} // namespace directory
