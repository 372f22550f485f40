#include "directory/ldap_tree.h"

#include "directory/dn.h"
#include "directory/full_name.h"
#include "platform/error.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QSocketNotifier>

#include "directory/ldap_owners.h"

#include <csignal>
#include <functional>

#include <fcntl.h>

namespace directory {

namespace {

using LdapPtr = ldap_owners::Owned<LDAP>;
using MessagePtr = ldap_owners::Owned<LDAPMessage>;
using CookiePtr = ldap_owners::Owned<berval>;

constexpr int kPageSize = 500;

// The naming attributes a full-name component may stand for.
constexpr const char *kNamingAttributes[] = {"ou", "cn", "o", "uid", "l", "c", "dc", "st"};

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

bool connectionLost(int rc)
{
    return rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR || rc == LDAP_TIMEOUT;
}

// Every LDAP error is built here: what failed, the result code, the server's
// diagnostic text and the part of the name the server knew.
platform::Error ldapError(LDAP *ld, int rc, const QString &what, const char *diagnostic = nullptr,
                          const char *matched = nullptr)
{
    QString message = QStringLiteral("%1 fehlgeschlagen: %2").arg(what, QString::fromUtf8(ldap_err2string(rc)));
    ldap_owners::Text optionText;
    if (!diagnostic && ld) {
        char *text = nullptr;
        if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) == LDAP_OPT_SUCCESS)
            optionText.reset(text);
        diagnostic = text;
    }
    if (diagnostic && *diagnostic)
        message += QStringLiteral(" (%1)").arg(QString::fromUtf8(diagnostic));
    if (matched && *matched)
        message += QStringLiteral(", bekannt ist %1").arg(QString::fromUtf8(matched));
    return platform::Error(message);
}

QString filterFor(const QString &attribute, const QString &value)
{
    return QStringLiteral("(%1=%2)").arg(attribute, escapeFilterValue(value));
}

QString anyOf(const QStringList &terms)
{
    if (terms.size() == 1)
        return terms.first();
    return QStringLiteral("(|%1)").arg(terms.join(QString()));
}

} // namespace

bool sendsPlainPasswordAbroad(const LdapSettings &settings)
{
    if (settings.bind != LdapSettings::Bind::Simple || settings.startTls || settings.allowPlainPassword)
        return false;
    LDAPURLDesc *raw = nullptr;
    if (ldap_url_parse(utf8(settings.uri).constData(), &raw) != LDAP_URL_SUCCESS)
        return true; // unknown: do not send
    ldap_owners::Owned<LDAPURLDesc> url(raw);
    const QString scheme = QString::fromUtf8(url->lud_scheme).toLower();
    if (scheme == QLatin1String("ldaps") || scheme == QLatin1String("ldapi"))
        return false;
    const QString host = QString::fromUtf8(url->lud_host ? url->lud_host : "").toLower();
    const bool loopback = host == QLatin1String("localhost") || host.startsWith(QLatin1String("127."))
                          || host == QLatin1String("::1") || host == QLatin1String("[::1]");
    return !loopback;
}

struct LdapTree::Impl {
    LdapTree *tree;
    LdapSettings settings;
    SchemaMap schema;
    QString password; // asked for once, kept in memory only
    LdapPtr ld;
    QPointer<QSocketNotifier> notifier;
    QList<Rdn> baseRdns;
    QHash<QString, QString> dnByName; // case-folded full name -> DN

    struct Search {
        QString baseDn;
        int scope = LDAP_SCOPE_SUBTREE;
        QString filter;
        QByteArray attribute; // the LDAP attribute whose values come with each hit, or empty
        int messageId = -1;
        QList<FoundObject> hits;
        SearchDone done;

        void send(Impl &impl, berval *cookie)
        {
            const char *attributes[] = {attribute.isEmpty() ? LDAP_NO_ATTRS : attribute.constData(), nullptr};
            messageId = impl.sendSearch(baseDn, scope, filter, attributes, cookie);
        }
    };
    std::unique_ptr<Search> search;

    Impl(LdapTree *owner, const LdapSettings &s, const SchemaMap &map) : tree(owner), settings(s), schema(map) {}

    ~Impl()
    {
        delete notifier.data();
        if (search) // never leave a caller waiting
            finishSearch(std::make_exception_ptr(platform::Error(QStringLiteral("Verbindung zu %1 geschlossen").arg(settings.uri))));
    }

    // --- connection -------------------------------------------------------

    LDAP *connection()
    {
        if (!ld)
            connect();
        return ld.get();
    }

    void setOption(LDAP *handle, int option, const void *value, const QString &what)
    {
        const int rc = ldap_set_option(handle, option, value);
        if (rc != LDAP_OPT_SUCCESS)
            throw ldapError(handle, rc, what);
    }

    void connect()
    {
        // A server that goes away mid-write must fail the write, not kill the
        // program: libldap writes to the socket without MSG_NOSIGNAL.
        static const bool ignoringSigpipe = (std::signal(SIGPIPE, SIG_IGN), true);
        Q_UNUSED(ignoringSigpipe);
        LDAP *raw = nullptr;
        int rc = ldap_initialize(&raw, utf8(settings.uri).constData());
        if (rc != LDAP_SUCCESS)
            throw ldapError(nullptr, rc, QStringLiteral("Verbindung zu %1").arg(settings.uri));
        LdapPtr handle(raw);

        const QString what = QStringLiteral("Einstellung der Verbindung zu %1").arg(settings.uri);
        const int version = LDAP_VERSION3;
        setOption(raw, LDAP_OPT_PROTOCOL_VERSION, &version, what);
        setOption(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF, what);
        const timeval timeout{settings.timeoutSeconds, 0};
        setOption(raw, LDAP_OPT_NETWORK_TIMEOUT, &timeout, what);
        setOption(raw, LDAP_OPT_TIMEOUT, &timeout, what);
        const int demand = LDAP_OPT_X_TLS_DEMAND;
        setOption(raw, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand, what);
        if (!settings.caFile.isEmpty())
            setOption(raw, LDAP_OPT_X_TLS_CACERTFILE, utf8(settings.caFile).constData(), what);
        const int isServer = 0;
        setOption(raw, LDAP_OPT_X_TLS_NEWCTX, &isServer, what);

        if (settings.startTls) {
            rc = ldap_start_tls_s(raw, nullptr, nullptr);
            if (rc != LDAP_SUCCESS)
                throw ldapError(raw, rc, QStringLiteral("StartTLS mit %1").arg(settings.uri));
        }
        bind(raw);

        // Reads happen from the event loop: a partly arrived message must not block it.
        int fd = -1;
        if (ldap_get_option(raw, LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS || fd < 0)
            throw platform::Error(QStringLiteral("Verbindung zu %1: kein Socket").arg(settings.uri));
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

        ld = std::move(handle);
        notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        notifier->setEnabled(false);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] { readSearchResults(); });
    }

    void bind(LDAP *handle)
    {
        int rc = LDAP_SUCCESS;
        const QString what = QStringLiteral("Anmeldung an %1").arg(settings.uri);
        switch (settings.bind) {
        case LdapSettings::Bind::SaslExternal: {
            // EXTERNAL sends an empty authorization identity: the server takes the
            // identity of the connection (the peer's uid over ldapi, or a TLS certificate).
            char empty[] = "";
            berval none{0, empty}; // present but empty; a null value would send no response at all
            rc = ldap_sasl_bind_s(handle, nullptr, "EXTERNAL", &none, nullptr, nullptr, nullptr);
            break;
        }
        case LdapSettings::Bind::Simple: {
            if (sendsPlainPasswordAbroad(settings))
                throw platform::Error(QStringLiteral("%1 abgelehnt: das Passwort ginge unverschlüsselt über das Netz "
                                                     "(StartTLS, ldaps:// oder allow_plain_password=true)").arg(what));
            QByteArray secret = utf8(password);
            berval credentials{static_cast<ber_len_t>(secret.size()), secret.data()};
            rc = ldap_sasl_bind_s(handle, utf8(settings.bindDn).constData(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                                  nullptr, nullptr);
            break;
        }
        case LdapSettings::Bind::Anonymous: {
            berval none{0, nullptr};
            rc = ldap_sasl_bind_s(handle, "", LDAP_SASL_SIMPLE, &none, nullptr, nullptr, nullptr);
            break;
        }
        }
        if (rc != LDAP_SUCCESS)
            throw ldapError(handle, rc, what);
    }

    void dropConnection()
    {
        if (notifier)
            notifier->deleteLater(); // may be the notifier whose signal runs now
        notifier = nullptr;
        ld.reset();
    }

    // An operation's result code: raises for anything but success, and drops
    // a connection that is gone so the next operation reconnects.
    void check(int rc, const QString &what, const char *diagnostic = nullptr, const char *matched = nullptr)
    {
        if (rc == LDAP_SUCCESS)
            return;
        const platform::Error error = ldapError(ld.get(), rc, what, diagnostic, matched);
        if (connectionLost(rc))
            dropConnection();
        throw error;
    }

    // The error of the last failed call on the connection.
    int lastResultCode()
    {
        int error = LDAP_SERVER_DOWN;
        ldap_get_option(ld.get(), LDAP_OPT_RESULT_CODE, &error);
        return error == LDAP_SUCCESS ? LDAP_SERVER_DOWN : error;
    }

    // Waits for the whole answer to request `id`, at most the timeout.
    MessagePtr awaitAnswer(int id, const QString &what)
    {
        timeval limit{settings.timeoutSeconds, 0};
        LDAPMessage *raw = nullptr;
        const int rc = ldap_result(ld.get(), id, LDAP_MSG_ALL, &limit, &raw);
        MessagePtr answer(raw);
        if (rc == 0) {
            ldap_abandon_ext(ld.get(), id, nullptr, nullptr);
            check(LDAP_TIMEOUT, what);
        }
        if (rc < 0)
            check(lastResultCode(), what);
        return answer;
    }

    // --- names ------------------------------------------------------------

    QString fullNameOf(const QString &dn)
    {
        const std::optional<QList<Rdn>> path = pathBelow(parseDn(dn), baseRdns);
        if (!path)
            throw platform::Error(QStringLiteral("Das Objekt %1 liegt nicht unter %2").arg(dn, settings.baseDn));
        QString name = tree->rootFullName();
        for (const Rdn &rdn : *path) {
            if (!nameable(rdn))
                throw notNameable(dn);
            name += QLatin1Char('\\') + rdn.first().value;
        }
        dnByName.insert(name.toCaseFolded(), dn);
        return name;
    }

    QString dnOf(const QString &fullName)
    {
        const FullName name = FullName::parse(fullName);
        if (name.treeName.compare(tree->name(), Qt::CaseInsensitive) != 0)
            throw notInTree(fullName, tree->name());
        // Start from the deepest part of the name that is known already (every
        // search and listing teaches us the names it returns).
        qsizetype known = name.components.size();
        QString dn;
        for (; known > 0; --known) {
            const QString prefix = FullName{name.treeName, name.components.first(known)}.toString();
            const auto found = dnByName.constFind(prefix.toCaseFolded());
            if (found != dnByName.cend()) {
                dn = *found;
                break;
            }
        }
        if (known == 0)
            dn = settings.baseDn;
        for (qsizetype i = known; i < name.components.size(); ++i)
            dn = childDn(dn, name.components.at(i), fullName);
        return dn;
    }

    // The DN of the child of `parentDn` whose single-valued RDN has `value`.
    QString childDn(const QString &parentDn, const QString &value, const QString &fullName)
    {
        QStringList terms;
        for (const char *attribute : kNamingAttributes)
            terms.append(filterFor(QString::fromLatin1(attribute), value));
        QStringList matches;
        for (const auto &entry : searchNow(parentDn, LDAP_SCOPE_ONELEVEL, anyOf(terms), {}, fullName)) {
            const QList<Rdn> rdns = parseDn(entry.first);
            if (rdns.first().size() == 1 && rdns.first().first().value.compare(value, Qt::CaseInsensitive) == 0)
                matches.append(entry.first);
        }
        if (matches.isEmpty())
            throw objectNotFound(fullName);
        if (matches.size() > 1)
            throw objectAmbiguous(fullName, value);
        fullNameOf(matches.first());
        return matches.first();
    }

    // --- searches -----------------------------------------------------------

    // Sends a request and returns its message id. A request that could not be
    // sent because the connection had gone (the server restarted since the
    // last operation) is sent once more on a new connection: it never reached
    // the server.
    int send(const std::function<int(LDAP *, int *)> &request, const QString &what)
    {
        int id = -1;
        int rc = request(connection(), &id);
        if (rc == LDAP_SERVER_DOWN) {
            dropConnection();
            rc = request(connection(), &id);
        }
        check(rc, what);
        return id;
    }

    int sendSearch(const QString &baseDn, int scope, const QString &filter, const char **attributes, const berval *cookie)
    {
        return send([&](LDAP *handle, int *id) { return sendSearchOn(handle, baseDn, scope, filter, attributes, cookie, id); },
                    QStringLiteral("Suche in %1").arg(baseDn));
    }

    int sendSearchOn(LDAP *handle, const QString &baseDn, int scope, const QString &filter, const char **attributes,
                     const berval *cookie, int *id)
    {
        LDAPControl *raw = nullptr;
        check(ldap_create_page_control(handle, kPageSize, const_cast<berval *>(cookie), 0, &raw),
              QStringLiteral("Suche in %1").arg(baseDn));
        ldap_owners::Owned<LDAPControl> page(raw);
        LDAPControl *controls[] = {page.get(), nullptr};
        timeval limit{settings.timeoutSeconds, 0};
        return ldap_search_ext(handle, utf8(baseDn).constData(), scope, utf8(filter).constData(),
                               const_cast<char **>(attributes), 0, controls, nullptr, &limit, 0, id);
    }

    // The result of an operation: raises for a refusal; for a search, returns
    // the next page's cookie (none after the last page).
    CookiePtr checkResult(LDAPMessage *result, const QString &what)
    {
        int rc = LDAP_SUCCESS;
        char *matched = nullptr;
        char *diagnostic = nullptr;
        LDAPControl **controls = nullptr;
        const int parsed = ldap_parse_result(ld.get(), result, &rc, &matched, &diagnostic, nullptr, &controls, 0);
        ldap_owners::Text matchedOwner(matched), diagnosticOwner(diagnostic);
        ldap_owners::Owned<LDAPControl *> controlsOwner(controls);
        check(parsed, what);
        check(rc, what, diagnostic, matched);
        CookiePtr cookie;
        if (LDAPControl *page = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr)) {
            ber_int_t estimate = 0;
            auto *next = static_cast<berval *>(ber_memcalloc(1, sizeof(berval)));
            cookie.reset(next);
            check(ldap_parse_pageresponse_control(ld.get(), page, &estimate, next), what);
        }
        if (cookie && cookie->bv_len == 0)
            cookie.reset();
        return cookie;
    }

    // A synchronous paged search: DN and object classes of every entry.
    QList<std::pair<QString, QStringList>> searchNow(const QString &baseDn, int scope, const QString &filter,
                                                     const char *attribute, const QString &what)
    {
        const char *attributes[] = {attribute ? attribute : LDAP_NO_ATTRS, nullptr};
        QList<std::pair<QString, QStringList>> entries;
        CookiePtr cookie;
        do {
            const int id = sendSearch(baseDn, scope, filter, attributes, cookie.get());
            const MessagePtr all = awaitAnswer(id, QStringLiteral("Suche nach %1").arg(what));
            for (LDAPMessage *message = ldap_first_message(ld.get(), all.get()); message;
                 message = ldap_next_message(ld.get(), message)) {
                if (ldap_msgtype(message) == LDAP_RES_SEARCH_ENTRY)
                    entries.append({entryDn(message), attribute ? values(message, attribute) : QStringList()});
                else if (ldap_msgtype(message) == LDAP_RES_SEARCH_RESULT)
                    cookie = checkResult(message, QStringLiteral("Suche nach %1").arg(what));
            }
        } while (cookie);
        return entries;
    }

    QString entryDn(LDAPMessage *entry)
    {
        ldap_owners::Text dn(ldap_get_dn(ld.get(), entry));
        return QString::fromUtf8(dn.get());
    }

    QStringList values(LDAPMessage *entry, const char *attribute)
    {
        QStringList result;
        berval **raw = ldap_get_values_len(ld.get(), entry, attribute);
        for (berval **value = raw; value && *value; ++value)
            result.append(QString::fromUtf8((*value)->bv_val, static_cast<qsizetype>((*value)->bv_len)));
        ldap_value_free_len(raw);
        return result;
    }

    void startSearch(const QString &baseFullName, const QString &className, Scope scope, const QString &attribute,
                     SearchDone done)
    {
        if (search)
            throw platform::Error(QStringLiteral("Im Baum %1 läuft bereits eine Suche").arg(tree->name()));
        auto next = std::make_unique<Search>();
        next->baseDn = dnOf(baseFullName);
        next->scope = scope == Scope::Subtree ? LDAP_SCOPE_SUBTREE : LDAP_SCOPE_ONELEVEL;
        next->filter = filterFor(QStringLiteral("objectClass"), schema.objectClass(className));
        next->attribute = attribute.isEmpty() ? QByteArray() : utf8(schema.attribute(attribute));
        next->done = std::move(done);
        next->send(*this, nullptr);
        search = std::move(next);
        notifier->setEnabled(true);
    }

    // Called whenever the socket has data: takes every message that has
    // arrived (TLS may hold several in one record) in one chain, and sends the
    // next page's request at the end of a page.
    void readSearchResults()
    {
        try {
            while (search && ld) {
                timeval zero{0, 0};
                LDAPMessage *raw = nullptr;
                const int rc = ldap_result(ld.get(), search->messageId, LDAP_MSG_RECEIVED, &zero, &raw);
                MessagePtr chain(raw);
                if (rc == 0)
                    return;
                if (rc < 0)
                    check(lastResultCode(), QStringLiteral("Suche in %1").arg(search->baseDn));
                for (LDAPMessage *message = ldap_first_message(ld.get(), chain.get()); message && search;
                     message = ldap_next_message(ld.get(), message)) {
                    switch (ldap_msgtype(message)) {
                    case LDAP_RES_SEARCH_ENTRY: {
                        const QString dn = entryDn(message);
                        search->hits.append({fullNameOf(dn), dn,
                                             search->attribute.isEmpty() ? QStringList() : values(message, search->attribute.constData())});
                        break;
                    }
                    case LDAP_RES_SEARCH_RESULT:
                        if (CookiePtr cookie = checkResult(message, QStringLiteral("Suche in %1").arg(search->baseDn))) {
                            search->send(*this, cookie.get());
                        } else {
                            finishSearch(nullptr);
                        }
                        break;
                    default: // references: referral chasing is off
                        break;
                    }
                }
            }
        } catch (...) {
            finishSearch(std::current_exception());
        }
    }

    void finishSearch(std::exception_ptr failure)
    {
        if (notifier)
            notifier->setEnabled(false);
        const auto finished = std::move(search);
        if (failure)
            finished->done({}, failure);
        else
            finished->done(finished->hits, nullptr);
    }
};

LdapTree::LdapTree(const QString &name, const LdapSettings &settings, const SchemaMap &schema,
                   const PasswordPrompt &prompt)
    : Tree(name), d(std::make_unique<Impl>(this, settings, schema))
{
    d->baseRdns = parseDn(settings.baseDn);
    if (settings.bind == LdapSettings::Bind::Simple) {
        if (!settings.passwordFile.isEmpty()) {
            QFile file(settings.passwordFile);
            if (QFileInfo(file).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther))
                throw platform::Error(QStringLiteral("Die Passwortdatei %1 darf nur für ihren Eigentümer lesbar sein").arg(settings.passwordFile));
            if (!file.open(QIODevice::ReadOnly))
                throw platform::Error(QStringLiteral("Die Passwortdatei %1 kann nicht gelesen werden").arg(settings.passwordFile));
            d->password = QString::fromUtf8(file.readAll()).section(QLatin1Char('\n'), 0, 0).remove(QLatin1Char('\r'));
        } else {
            d->password = prompt ? prompt(name, settings.bindDn) : QString();
            if (d->password.isEmpty())
                throw platform::Error(QStringLiteral("Anmeldung an den Baum %1 abgebrochen").arg(name));
        }
    }
    d->connect();
}

LdapTree::~LdapTree() = default;

QString LdapTree::className(const QString &fullName)
{
    const QString dn = d->dnOf(fullName);
    if (dn.compare(d->settings.baseDn, Qt::CaseInsensitive) == 0)
        return QStringLiteral("Top");
    const auto entries = d->searchNow(dn, LDAP_SCOPE_BASE, QStringLiteral("(objectClass=*)"), "objectClass", fullName);
    if (entries.isEmpty())
        throw objectNotFound(fullName);
    return d->schema.ndsClass(entries.first().second);
}

QList<DirectoryObject> LdapTree::children(const QString &fullName, const QStringList &classNames)
{
    QStringList terms;
    for (const QString &name : classNames) {
        if (name.compare(QLatin1String("Top"), Qt::CaseInsensitive) != 0) // the tree root's class: no child has it
            terms.append(filterFor(QStringLiteral("objectClass"), d->schema.objectClass(name)));
    }
    if (!classNames.isEmpty() && terms.isEmpty())
        return {};
    const QString filter = terms.isEmpty() ? QStringLiteral("(objectClass=*)") : anyOf(terms);
    QList<DirectoryObject> result;
    for (const auto &[dn, classes] : d->searchNow(d->dnOf(fullName), LDAP_SCOPE_ONELEVEL, filter, "objectClass", fullName))
        result.append({d->fullNameOf(dn), d->schema.ndsClass(classes)});
    return result;
}

void LdapTree::search(const QString &baseFullName, const QString &className, Scope scope, const QString &attribute,
                      SearchDone done)
{
    try {
        d->startSearch(baseFullName, className, scope, attribute, done);
    } catch (...) {
        done({}, std::current_exception());
    }
}

void LdapTree::putAndStore(const QString &fullName, const QString &attribute, const QString &value)
{
    const QString dn = d->dnOf(fullName);
    QByteArray type = utf8(d->schema.attribute(attribute));
    QByteArray text = utf8(value);
    berval bv{static_cast<ber_len_t>(text.size()), text.data()};
    berval *values[] = {&bv, nullptr};
    LDAPMod mod{};
    mod.mod_op = LDAP_MOD_REPLACE | LDAP_MOD_BVALUES;
    mod.mod_type = type.data();
    mod.mod_bvalues = value.isEmpty() ? nullptr : values; // no values: the attribute goes
    LDAPMod *mods[] = {&mod, nullptr};

    const QString what = QStringLiteral("Schreiben von %1 in %2").arg(attribute, fullName);
    const int id = d->send([&](LDAP *handle, int *messageId) {
        return ldap_modify_ext(handle, utf8(dn).constData(), mods, nullptr, nullptr, messageId);
    }, what);
    const MessagePtr result = d->awaitAnswer(id, what);
    d->checkResult(result.get(), what);
}

} // namespace directory
