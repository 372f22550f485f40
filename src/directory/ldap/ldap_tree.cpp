#include "directory/ldap/ldap_tree.h"

#include "directory/dn.h"
#include "directory/full_name.h"
#include "directory/ldap/ldap_connection.h"
#include "directory/ldap/ldap_entry.h"
#include "directory/ldap/ldap_result.h"
#include "directory/ldap/ldap_urls.h"
#include "directory/ldap/paged_search.h"
#include "platform/error.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QStringBuilder>
#include <QVarLengthArray>

#include <deque>

#include <ldap_schema.h>

namespace directory {

namespace {

// Containers the tree remembers; past this it forgets them all and looks
// names up again.
constexpr qsizetype kMaxContainers = 100000;

// The naming attributes a full-name component may stand for.
constexpr const char *kNamingAttributes[] = {"ou", "cn", "o", "uid", "l", "c", "dc", "st"};

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

// A full name as a key: letter case ignored, as the server ignores it in names.
// Every write looks its name up, so the common cases go first: the same text,
// and ASCII letters, folded without a table.
struct NameKey {
    QString name;
    friend bool operator==(const NameKey &a, const NameKey &b) { return sameName(a.name, b.name); }
};

size_t qHash(const NameKey &key, size_t seed)
{
    size_t hash = 0;
    for (const QChar c : key.name) {
        const char16_t u = c.unicode();
        hash = hash * 31 + (u < 0x80 ? (u >= u'A' && u <= u'Z' ? u + 32 : u) : c.toCaseFolded().unicode());
    }
    // Mixed: names that differ only in their last digits (K1 … K3999) would
    // otherwise take neighbouring buckets, and QHash probes linearly.
    return ::qHash(static_cast<quint64>(hash), seed);
}

// How a write is named in its messages.
QString writing(const QString &attribute, const QString &fullName)
{
    return QLatin1String("Schreiben von ") % attribute % QLatin1String(" in ") % fullName;
}

platform::Error ambiguous(const QString &fullName, const QString &component, const QStringList &dns)
{
    return platform::Error(QStringLiteral("%1 (%2)").arg(objectAmbiguous(fullName, component).message(), dns.join(QStringLiteral("; "))));
}

struct AttributeTypeFree {
    void operator()(LDAPAttributeType *type) const { ldap_attributetype_free(type); }
};

// The name of an attribute type's equality rule, following its supertypes
// (ou has none of its own: it takes name's).
QString equalityRule(const QHash<QString, LDAPAttributeType *> &types, const QString &attribute)
{
    QString name = attribute.toLower();
    for (int depth = 0; depth < 10; ++depth) { // a schema that loops gives no rule
        const LDAPAttributeType *type = types.value(name);
        if (!type)
            return {};
        if (type->at_equality_oid)
            return QString::fromUtf8(type->at_equality_oid);
        if (!type->at_sup_oid)
            return {};
        name = QString::fromUtf8(type->at_sup_oid).toLower();
    }
    return {};
}

} // namespace

struct LdapTree::Impl {
    // What the tree knows of one container, found by its full name: its DN,
    // and the one naming attribute its children have shown (cn=…), so that a
    // child's DN follows from its full name without a lookup. Children named
    // in more than one way (cn=mueller and uid=mueller) are looked up, so a
    // full name two of them share is found out and never written.
    struct Container {
        QString dn;
        QStringList otherDns; // more containers with this full name
        QByteArray childNaming;
        bool mixedChildNaming = false;
    };

    // A container as one search met it, by the DN text the server sent.
    struct MetParent {
        QString fullName;
        QByteArray childNaming; // as this search last told the tree
        qsizetype found = Found::kNoContainer; // its index among the containers of the search's Found
    };
    using MetParents = QHash<QByteArray, MetParent>;

    // One connection, and its paged searches taking turns: a server may keep
    // the paging state of one search per connection only (slapd does: a
    // second paged search makes the first one's cookie "invalid or old").
    struct Line {
        LdapConnection connection;
        std::shared_ptr<PagedSearch> paging; // the paged search under way
        std::deque<std::shared_ptr<PagedSearch>> waiting;

        Line(const LdapSettings &settings, const QString &password) : connection(settings, password) {}
    };

    LdapTree &tree;
    SchemaMap schema;
    QString baseDn;
    qsizetype baseDnSize; // in UTF-8
    QList<Rdn> baseRdns;
    LdapSettings settings;
    QString password;
    QHash<NameKey, Container> containers;
    bool closing = false;
    ServerKind kind = ServerKind::OpenLdap;
    QStringList defaultsTaken;
    QHash<QString, Qt::CaseSensitivity> valueCases; // by LDAP attribute, lower case
    bool writeAnswered = false; // a write had an answer other than a referral
    bool followedReferral = false;
    std::optional<QString> readOnlyCopy; // why no write is sent any more
    // Last, so that their requests end first, while the rest still stands.
    // The run's searches and writes go over `run`; the browser's listings and
    // the look-ups of names over `browsing`, opened when first needed, so that
    // neither waits for the other.
    std::unique_ptr<Line> browsing;
    Line run;

    Impl(LdapTree &owner, const LdapSettings &ldapSettings, const SchemaMap &map, const QString &secret)
        : tree(owner), schema(map), baseDn(ldapSettings.baseDn), baseDnSize(baseDn.toUtf8().size()), baseRdns(parseDn(ldapSettings.baseDn)),
          settings(ldapSettings), password(secret), run(ldapSettings, secret)
    {
        containers.insert(NameKey{tree.rootFullName()}, {baseDn, {}, {}, false});
    }

    // On the server the run is bound to, which a replica may lag behind.
    Line &browse()
    {
        if (!browsing) {
            LdapSettings bound = settings;
            bound.uri = run.connection.server();
            browsing = std::make_unique<Line>(bound, password);
        }
        return *browsing;
    }

    // --- searches -----------------------------------------------------------

    ~Impl()
    {
        closing = true;
        for (Line *line : {&run, browsing.get()}) {
            if (line)
                endSearches(*line, platform::Error(QStringLiteral("Verbindung zum Baum %1 geschlossen").arg(tree.name())));
        }
    }

    // Ends the searches of a line, the one under way first, which the server
    // is told to drop.
    void endSearches(Line &line, const platform::Error &why)
    {
        const auto waiting = std::exchange(line.waiting, {});
        if (const auto paging = std::exchange(line.paging, nullptr))
            paging->cancel(std::make_exception_ptr(why));
        for (const auto &search : waiting)
            search->finish(std::make_exception_ptr(why));
    }

    void startSearch(Line &line, const QString &dn, int scope, const QString &filter, const QByteArray &attribute, bool paged,
                     PagedSearch::Take take, PagedSearch::End end, const QByteArray &identity = {})
    {
        auto search = std::make_shared<PagedSearch>(line.connection, dn, scope, filter, attribute, paged, std::move(take), nullptr,
                                                    identity);
        search->setEnd([this, &line, weak = std::weak_ptr(search), end = std::move(end)](std::exception_ptr failure,
                                                                                         const QList<Reference> &references) {
            if (line.paging && line.paging == weak.lock())
                line.paging.reset();
            end(namingLimit(failure), references);
            startWaitingSearch(line);
        });
        if (!paged)
            return search->begin();
        if (line.paging) {
            line.waiting.push_back(std::move(search));
            return;
        }
        line.paging = search;
        search->begin();
    }

    void startWaitingSearch(Line &line)
    {
        if (line.paging || line.waiting.empty() || closing)
            return;
        line.paging = line.waiting.front();
        line.waiting.pop_front();
        line.paging->begin();
    }

    // A search that waits in the message pump for its end.
    void searchNow(Line &line, const QString &dn, int scope, const QString &filter, const QByteArray &attribute, bool paged,
                   const PagedSearch::Take &take)
    {
        bool ended = false;
        std::exception_ptr failure;
        startSearch(line, dn, scope, filter, attribute, paged, take, [&](std::exception_ptr f, const QList<Reference> &) {
            failure = f;
            ended = true;
        });
        line.connection.waitUntil([&] { return ended; });
        if (failure)
            std::rethrow_exception(failure);
    }

    // --- the server ---------------------------------------------------------

    // A limit's failure, with the server setting that sets the limit.
    std::exception_ptr namingLimit(std::exception_ptr failure) const
    {
        if (!failure)
            return failure;
        try {
            std::rethrow_exception(failure);
        } catch (const LimitExceeded &e) {
            return std::make_exception_ptr(platform::Error(
                QStringLiteral("%1. Der Server (%2) setzt diese Grenze; zu erhöhen ist %3")
                    .arg(e.message(), serverKindName(kind), limitSetting(kind, e.resultCode))));
        } catch (...) {
            return failure;
        }
    }

    QStringList rootDse(const char *attribute)
    {
        QStringList result;
        searchNow(run, QString(), LDAP_SCOPE_BASE, QStringLiteral("(objectClass=*)"), attribute, false,
                  [&](Entry &entry) { result = entry.values(attribute); });
        return result;
    }

    // Takes the defaults of the server's kind, as its root DSE shows it.
    // A server that hides its root DSE (or does not answer for it) is taken
    // for OpenLDAP: its defaults are the program's own, and the operations
    // that follow report what is really wrong.
    void recogniseServer()
    {
        try {
            kind = directory::recogniseServer(rootDse("supportedCapabilities"), rootDse("vendorName").value(0));
        } catch (const platform::Error &) {
            kind = ServerKind::OpenLdap;
        }
        defaultsTaken = schema.applyServerDefaults(kind);
    }

    // How the server compares values of an attribute, by the equality rule its
    // subschema gives (RFC 4512 4.2); read once per attribute.
    Qt::CaseSensitivity valueCase(const QString &attribute)
    {
        const QString key = attribute.toLower();
        const auto known = valueCases.constFind(key);
        if (known != valueCases.cend())
            return *known;
        std::vector<std::unique_ptr<LDAPAttributeType, AttributeTypeFree>> parsed;
        QHash<QString, LDAPAttributeType *> types; // by every name and the OID
        // Without a subschema to read, values are compared exactly, as they are stored.
        try {
            const QString subschema = rootDse("subschemaSubentry").value(0);
            if (!subschema.isEmpty())
                searchNow(run, subschema, LDAP_SCOPE_BASE, QStringLiteral("(objectClass=*)"), "attributeTypes", false,
                          [&](Entry &entry) {
                              entry.forEachValue("attributeTypes", [&](QByteArrayView definition) {
                                  int code = 0;
                                  const char *end = nullptr;
                                  LDAPAttributeType *type = ldap_str2attributetype(definition.toByteArray().constData(), &code,
                                                                                   &end, LDAP_SCHEMA_ALLOW_ALL);
                                  if (!type)
                                      return; // a definition libldap cannot read says nothing of ours
                                  parsed.emplace_back(type);
                                  for (char **name = type->at_names; name && *name; ++name)
                                      types.insert(QString::fromUtf8(*name).toLower(), type);
                                  types.insert(QString::fromUtf8(type->at_oid).toLower(), type);
                              });
                          });
        } catch (const platform::Error &) {
            types.clear();
        }
        const QString rule = equalityRule(types, key);
        // Active Directory names no rules; its string syntaxes ignore case.
        const bool ignores = rule.isEmpty() ? kind == ServerKind::ActiveDirectory
                                            : rule.contains(QLatin1String("ignore"), Qt::CaseInsensitive)
                                                  || rule == QLatin1String("2.5.13.2") || rule == QLatin1String("2.5.13.11")
                                                  || rule == QLatin1String("1.3.6.1.4.1.1466.109.114.2");
        const Qt::CaseSensitivity result = ignores ? Qt::CaseInsensitive : Qt::CaseSensitive;
        valueCases.insert(key, result);
        return result;
    }

    // --- names --------------------------------------------------------------

    // The full name of any DN below the base (or the base itself).
    QString fullNameOfDn(const QString &dn)
    {
        const std::optional<QList<Rdn>> path = pathBelow(parseDn(dn), baseRdns);
        if (!path)
            throw platform::Error(QStringLiteral("Das Objekt %1 liegt nicht unter %2").arg(dn, baseDn));
        QString name = tree.rootFullName();
        for (const Rdn &rdn : *path) {
            if (!nameable(rdn))
                throw notNameable(dn);
            name += QLatin1Char('\\') + rdn.first().value;
        }
        return name;
    }

    // Where an entry a search returned stands: hands `at` the container the
    // search met it in and its own name (UTF-8), or for the base itself no
    // container and the tree's root name. Only the entry's own RDN is parsed.
    template <typename At>
    void place(QByteArrayView dn, MetParents &parents, At at)
    {
        berval text{static_cast<ber_len_t>(dn.size()), const_cast<char *>(dn.data())};
        LDAPRDN rdn = nullptr;
        char *rest = nullptr;
        if (ldap_bv2rdn(&text, &rdn, &rest, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PEDANTIC) != LDAP_SUCCESS || !rdn || !rdn[0])
            throw platform::Error(QStringLiteral("Ungültiger DN \"%1\"").arg(QString::fromUtf8(dn)));
        const auto release = qScopeGuard([rdn] { ldap_rdnfree(rdn); });
        const char *const end = dn.data() + dn.size();
        if (rest && rest < end && (*rest == ',' || *rest == ';'))
            ++rest;
        MetParent *parent = rest && rest < end ? container(QByteArrayView(rest, end), parents) : nullptr;
        if (!parent) // the base itself, or an entry outside it
            return at(nullptr, fullNameOfDn(QString::fromUtf8(dn)).toUtf8());
        const LDAPAVA *ava = rdn[0];
        const QByteArrayView value(ava->la_value.bv_val, static_cast<qsizetype>(ava->la_value.bv_len));
        if (rdn[1] || (ava->la_flags & LDAP_AVA_BINARY) || value.isEmpty() || value.contains('\\'))
            throw notNameable(QString::fromUtf8(dn));
        const QByteArrayView naming(ava->la_attr.bv_val, static_cast<qsizetype>(ava->la_attr.bv_len));
        if (parent->childNaming.compare(naming, Qt::CaseInsensitive) != 0) {
            parent->childNaming = naming.toByteArray();
            learnChildNaming(parent->fullName, parent->childNaming);
        }
        at(parent, value);
    }

    // A container of entries a search returned, by its DN as the server spelled
    // it; none for one that is not the base or below it. Each is named once
    // per search, from its own container's name and its first RDN.
    MetParent *container(QByteArrayView dn, MetParents &parents)
    {
        const auto known = parents.find(QByteArray::fromRawData(dn.data(), dn.size()));
        if (known != parents.end())
            return known->fullName.isNull() ? nullptr : &*known;
        QString fullName; // null: not below the base
        const std::optional<FirstRdn> first = dn.size() > baseDnSize ? firstRdn(dn) : std::nullopt;
        if (const MetParent *above = first && !first->parent().isEmpty() ? container(first->parent(), parents) : nullptr) {
            const Rdn rdn = first->rdn();
            if (!nameable(rdn))
                throw notNameable(QString::fromUtf8(dn));
            fullName = above->fullName % QLatin1Char('\\') % rdn.first().value;
        } else if (pathBelow(parseDn(QString::fromUtf8(dn)), baseRdns)) {
            fullName = fullNameOfDn(QString::fromUtf8(dn));
        }
        MetParent &met = *parents.insert(dn.toByteArray(), {fullName, {}});
        if (fullName.isNull())
            return nullptr;
        learnContainer(fullName, QString::fromUtf8(dn));
        return &met;
    }

    Container &learnContainer(const QString &fullName, const QString &dn)
    {
        if (containers.size() >= kMaxContainers)
            containers.clear(); // what is forgotten is looked up again
        Container &container = containers[NameKey{fullName}];
        if (container.dn.isEmpty())
            container.dn = dn;
        else if (container.dn.compare(dn, Qt::CaseInsensitive) != 0 && !container.otherDns.contains(dn, Qt::CaseInsensitive))
            container.otherDns.append(dn);
        return container;
    }

    void learnChildNaming(const QString &fullName, const QByteArray &naming)
    {
        const auto found = containers.find(NameKey{fullName});
        if (found == containers.end())
            return;
        if (found->childNaming.isEmpty() && !found->mixedChildNaming)
            found->childNaming = naming;
        else if (found->childNaming.compare(naming, Qt::CaseInsensitive) != 0) {
            found->childNaming.clear();
            found->mixedChildNaming = true;
        }
    }

    QString dnOf(const QString &fullName)
    {
        const FullNameShape name = shapeOf(fullName);
        if (!sameName(name.treeName, tree.name()))
            throw notInTree(fullName, tree.name());
        // Names are keys that ignore case: the text itself will do, without
        // the one trailing backslash that a full name may have.
        const QStringView text(fullName);
        return locate(text.endsWith(QLatin1Char('\\')) ? text.chopped(1) : text, name.depth, fullName).dn;
    }

    struct Located {
        QString dn;
        QByteArray childNaming; // of the children, when the tree knows it
    };

    // The DN of a full name (`text`, `depth` components below the root), with
    // what the tree knows of its children.
    Located locate(QStringView text, qsizetype depth, const QString &asked)
    {
        // The text is only looked up, never kept: it need not be copied.
        const auto known = containers.constFind(NameKey{QString::fromRawData(text.constData(), text.size())});
        if (depth == 0)
            return {baseDn, known != containers.cend() ? known->childNaming : QByteArray()};
        const qsizetype cut = text.lastIndexOf(QLatin1Char('\\'));
        const QStringView value = text.sliced(cut + 1);
        if (known != containers.cend()) {
            if (!known->otherDns.isEmpty())
                throw ambiguous(asked, value.toString(), QStringList{known->dn} + known->otherDns);
            return {known->dn, known->childNaming};
        }
        const Located parent = locate(text.first(cut), depth - 1, asked);
        if (!parent.childNaming.isEmpty())
            return {dnBelow(parent.dn, parent.childNaming, value), {}};
        return {childDn(parent.dn, value.toString(), asked, text.toString()), {}};
    }

    // The DN of the child of `parentDn` whose single-valued RDN has `value`,
    // whatever its naming attribute; raises when there is none or more than one.
    QString childDn(const QString &parentDn, const QString &value, const QString &asked, const QString &fullName)
    {
        QStringList terms;
        for (const char *attribute : kNamingAttributes)
            terms.append(filterFor(QString::fromLatin1(attribute), value));
        QStringList matches;
        // Unpaged: it matches one object, or a few that share the name.
        searchNow(browse(), parentDn, LDAP_SCOPE_ONELEVEL, anyOf(terms), {}, false, [&](Entry &entry) {
            const QString text = QString::fromUtf8(entry.dn());
            const Rdn rdn = parseDn(text).first();
            if (rdn.size() == 1 && rdn.first().value.compare(value, Qt::CaseInsensitive) == 0)
                matches.append(text);
        });
        if (matches.isEmpty())
            throw objectNotFound(asked);
        if (matches.size() > 1)
            throw ambiguous(asked, value, matches);
        learnContainer(fullName, matches.first());
        return matches.first();
    }

    // --- writes -------------------------------------------------------------

    // The URLs a write was referred to; none for another answer.
    static QStringList referredTo(LDAP *ld, LDAPMessage *result)
    {
        int rc = LDAP_SUCCESS;
        char **urls = nullptr;
        if (ldap_parse_result(ld, result, &rc, nullptr, nullptr, &urls, nullptr, 0) != LDAP_SUCCESS)
            return {};
        const auto freeUrls = qScopeGuard([urls] { ber_memvfree(reinterpret_cast<void **>(urls)); });
        QStringList referred;
        for (char **url = urls; rc == LDAP_REFERRAL && url && *url; ++url)
            referred.append(QString::fromUtf8(*url));
        return referred;
    }

    // The first of `urls` that is one of the tree's own servers.
    QString ownServer(const QStringList &urls) const
    {
        const QStringList own = ldapUrls(settings.uri);
        for (const QString &url : urls) {
            for (const QString &server : own) {
                if (sameServer(url, server))
                    return server;
            }
        }
        return {};
    }

    // A read-only copy refers writes to the server that takes them: to one of
    // the tree's own servers the change goes again, over a connection bound
    // there as the first one was; to another server it goes not at all, and
    // no later change is sent either.
    void referred(const QStringList &urls, const std::function<void()> &sendAgain, const StoreDone &done)
    {
        const QString copy = run.connection.server();
        const QString own = ownServer(urls);
        if (!own.isEmpty() && !sameServer(own, copy) && !followedReferral) {
            followedReferral = true; // once: two copies that refer to each other end here
            run.connection.switchTo(own);
            try {
                sendAgain();
            } catch (...) {
                done(std::current_exception());
            }
            return;
        }
        QStringList servers;
        for (const QString &url : urls)
            servers.append(serverOf(url));
        servers.removeDuplicates();
        QString message = QStringLiteral("%1 ist eine schreibgeschützte Kopie; Änderungen nimmt %2 an").arg(copy, servers.join(QStringLiteral(", ")));
        if (own.isEmpty())
            message += QStringLiteral(" – dieser Server steht nicht in uri= und wird deshalb nicht angesprochen");
        readOnlyCopy = message;
        done(std::make_exception_ptr(Refused(message)));
    }

    // Hands a modify's end to `done`: the server's refusal as Refused, no
    // answer (deadline, lost connection) as Unconfirmed; a referral as
    // referred() says.
    auto modifyAnswered(const QString &what, StoreDone done, std::function<void()> sendAgain)
    {
        return [this, what, done = std::move(done), sendAgain = std::move(sendAgain)](LDAP *ld, LDAPMessage *result,
                                                                                     std::exception_ptr failure) {
            if (failure) {
                done(std::make_exception_ptr(Unconfirmed(platform::messageOf(failure)))); // names this change: each gets its own
                return;
            }
            if (const QStringList urls = referredTo(ld, result); !urls.isEmpty())
                return referred(urls, sendAgain, done);
            writeAnswered = true;
            try {
                checkResult(ld, result, what);
            } catch (const platform::Error &e) {
                failure = std::make_exception_ptr(Refused(e.message()));
            }
            done(failure);
        };
    }

    // Sends a change; whatever keeps it from leaving this machine (its name
    // not found, no connection, a read-only copy) raises NotSent.
    void sendChange(const QString &fullName, const QString &what, StoreDone done,
                    const std::function<int(LDAP *ld, const QByteArray &dn, int *id)> &request)
    {
        if (readOnlyCopy)
            throw NotSent(*readOnlyCopy);
        try {
            const QByteArray dn = dnOf(fullName).toUtf8();
            auto sendAgain = [this, fullName, what, done, request] { sendChange(fullName, what, done, request); };
            run.connection.send(what, [&](LDAP *ld, int *id) { return request(ld, dn, id); },
                                modifyAnswered(what, std::move(done), std::move(sendAgain)));
        } catch (const NotSent &) {
            throw;
        } catch (const platform::Error &e) {
            throw NotSent(QStringLiteral("%1 nicht gesendet: %2").arg(what, e.message()));
        }
    }

    void startPutAndStore(const QString &fullName, const QString &attribute, const QString &value, StoreDone done)
    {
        const QString what = writing(attribute, fullName);
        QByteArray type = schema.attribute(attribute).toUtf8();
        QByteArray text = value.toUtf8();
        // By value: a change a read-only copy referred is sent again later.
        sendChange(fullName, what, std::move(done), [type, text, value](LDAP *ld, const QByteArray &dn, int *id) mutable {
            berval bv{static_cast<ber_len_t>(text.size()), text.data()};
            berval *values[] = {&bv, nullptr};
            LDAPMod mod{};
            mod.mod_op = LDAP_MOD_REPLACE | LDAP_MOD_BVALUES;
            mod.mod_type = type.data();
            mod.mod_bvalues = value.isEmpty() ? nullptr : values; // no values: the attribute goes
            LDAPMod *mods[] = {&mod, nullptr};
            return ldap_modify_ext(ld, dn.constData(), mods, nullptr, nullptr, id);
        });
    }

    // One modify that deletes exactly the values found and adds the new ones,
    // so other values stay, and a value someone took away meanwhile makes the
    // server refuse it (noSuchAttribute) instead of being overwritten.
    void startChange(const ValueChange &change, StoreDone done)
    {
        const QString what = writing(change.attribute, change.fullName);
        QByteArray type = schema.attribute(change.attribute).toUtf8();
        ValueDifference diff = difference(change.before, change.after);
        sendChange(change.fullName, what, std::move(done), [type, diff](LDAP *ld, const QByteArray &dn, int *id) mutable {
            // libldap's shape: lists of value pointers, each ending with a null.
            const auto pointers = [](QList<QByteArray> &values, QVarLengthArray<berval, 4> &vals, QVarLengthArray<berval *, 5> &list) {
                for (QByteArray &value : values)
                    vals.append({static_cast<ber_len_t>(value.size()), value.data()});
                for (berval &val : vals)
                    list.append(&val);
                list.append(nullptr);
            };
            QVarLengthArray<berval, 4> removedValues, addedValues;
            QVarLengthArray<berval *, 5> removedList, addedList;
            pointers(diff.removed, removedValues, removedList);
            pointers(diff.added, addedValues, addedList);
            LDAPMod deletion{};
            deletion.mod_op = LDAP_MOD_DELETE | LDAP_MOD_BVALUES;
            deletion.mod_type = type.data();
            deletion.mod_bvalues = removedList.data();
            LDAPMod addition{};
            addition.mod_op = LDAP_MOD_ADD | LDAP_MOD_BVALUES;
            addition.mod_type = type.data();
            addition.mod_bvalues = addedList.data();
            LDAPMod *mods[3] = {};
            LDAPMod **next = mods;
            if (!diff.removed.isEmpty())
                *next++ = &deletion;
            if (!diff.added.isEmpty())
                *next++ = &addition;
            return ldap_modify_ext(ld, dn.constData(), mods, nullptr, nullptr, id);
        });
    }
};

LdapTree::LdapTree(const QString &name, const LdapSettings &settings, const SchemaMap &schema,
                   const PasswordPrompt &prompt)
    : Tree(name)
{
    QString password;
    if (settings.bind == LdapSettings::Bind::Simple) {
        if (!settings.passwordFile.isEmpty()) {
            QFile file(settings.passwordFile);
            if (QFileInfo(file).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther))
                throw platform::Error(QStringLiteral("Die Passwortdatei %1 darf nur für ihren Eigentümer lesbar sein").arg(settings.passwordFile));
            if (!file.open(QIODevice::ReadOnly))
                throw platform::Error(QStringLiteral("Die Passwortdatei %1 kann nicht gelesen werden").arg(settings.passwordFile));
            password = QString::fromUtf8(file.readAll()).section(QLatin1Char('\n'), 0, 0).remove(QLatin1Char('\r'));
            // An empty password would make the bind anonymous (RFC 4513 5.1.2).
            if (password.isEmpty())
                throw platform::Error(QStringLiteral("Die Passwortdatei %1 ist leer").arg(settings.passwordFile));
        } else {
            password = prompt ? prompt(name, settings.bindDn) : QString();
            if (password.isEmpty())
                throw platform::Error(QStringLiteral("Anmeldung an den Baum %1 abgebrochen").arg(name));
        }
    }
    d = std::make_unique<Impl>(*this, settings, schema, password);
    d->run.connection.open();
    d->recogniseServer();
}

QString LdapTree::server() const
{
    return d->run.connection.server();
}

ServerKind LdapTree::serverKind() const
{
    return d->kind;
}

QStringList LdapTree::defaultsTaken() const
{
    return d->defaultsTaken;
}

const SchemaMap &LdapTree::schema() const
{
    return d->schema;
}

Qt::CaseSensitivity LdapTree::valueCase(const QString &attribute)
{
    return d->valueCase(d->schema.attribute(attribute));
}

namespace {
const char *identityAttribute(ServerKind kind)
{
    return kind == ServerKind::ActiveDirectory ? "objectGUID" : kind == ServerKind::Ds389 ? "nsUniqueId" : "entryUUID";
}

// "entryUUID=…"; objectGUID is 16 bytes, not text: in hex.
QByteArray identityText(ServerKind kind, QByteArrayView value)
{
    return QByteArray(identityAttribute(kind)) + '='
           + (kind == ServerKind::ActiveDirectory ? value.toByteArray().toHex() : value.toByteArray());
}
} // namespace

QString LdapTree::identity()
{
    const char *attribute = identityAttribute(d->kind);
    QString identity;
    d->searchNow(d->run, d->baseDn, LDAP_SCOPE_BASE, QStringLiteral("(objectClass=*)"), attribute, false,
                 [&](Entry &entry) {
                     entry.forEachValue(attribute, [&](QByteArrayView value) {
                         if (identity.isEmpty())
                             identity = QString::fromUtf8(identityText(d->kind, value));
                     });
                 });
    return identity;
}

LdapTree::~LdapTree() = default;

QString LdapTree::className(const QString &fullName)
{
    const QString dn = d->dnOf(fullName);
    if (dn.compare(d->baseDn, Qt::CaseInsensitive) == 0)
        return QStringLiteral("Top");
    std::optional<QStringList> classes;
    d->searchNow(d->browse(), dn, LDAP_SCOPE_BASE, QStringLiteral("(objectClass=*)"), "objectClass", false,
                 [&](Entry &entry) { classes = entry.values("objectClass"); });
    if (!classes)
        throw objectNotFound(fullName);
    return d->schema.ndsClass(*classes);
}

QList<DirectoryObject> LdapTree::children(const QString &fullName, const QStringList &classNames)
{
    QStringList terms;
    for (const QString &name : classNames) {
        if (name.compare(QLatin1String("Top"), Qt::CaseInsensitive) != 0) // the tree root's class: no child has it
            terms.append(d->schema.filter(name));
    }
    if (!classNames.isEmpty() && terms.isEmpty())
        return {};
    const QString filter = terms.isEmpty() ? QStringLiteral("(objectClass=*)") : anyOf(terms);
    QList<DirectoryObject> result;
    Impl::MetParents parents;
    d->searchNow(d->browse(), d->dnOf(fullName), LDAP_SCOPE_ONELEVEL, filter, "objectClass", true,
                 [&](Entry &entry) {
                     QString childName;
                     d->place(entry.dn(), parents, [&](const Impl::MetParent *parent, QByteArrayView name) {
                         childName = parent ? parent->fullName % QLatin1Char('\\') % QString::fromUtf8(name) : QString::fromUtf8(name);
                     });
                     result.append({childName, d->schema.ndsClass(entry.values("objectClass"))});
                 });
    return result;
}

void LdapTree::search(const QString &baseFullName, const QString &className, Scope scope, const QString &attribute,
                      SearchDone done)
{
    struct Hits {
        Found found;
        Impl::MetParents parents;
    };
    try {
        auto hits = std::make_shared<Hits>();
        const QByteArray type = attribute.isEmpty() ? QByteArray() : d->schema.attribute(attribute).toUtf8();
        d->startSearch(d->run, d->dnOf(baseFullName), scope == Scope::Subtree ? LDAP_SCOPE_SUBTREE : LDAP_SCOPE_ONELEVEL,
                       d->schema.filter(className), type, true,
                       [this, hits, type](Entry &entry) {
                           Found &found = hits->found;
                           // The entry's own identity, so that an undo finds it renamed or moved.
                           const char *identityType = identityAttribute(d->kind);
                           QByteArray identity;
                           QVarLengthArray<QByteArrayView, 4> values;
                           entry.forEachAttribute([&](QByteArrayView name, const berval *given) {
                               const bool isValue = !type.isEmpty() && name.compare(type, Qt::CaseInsensitive) == 0;
                               const bool isIdentity = name.compare(QByteArrayView(identityType), Qt::CaseInsensitive) == 0;
                               for (const berval *value = given; value && value->bv_val; ++value) {
                                   const QByteArrayView bytes(value->bv_val, static_cast<qsizetype>(value->bv_len));
                                   if (isValue)
                                       values.append(bytes);
                                   else if (isIdentity && identity.isEmpty())
                                       identity = identityText(d->kind, bytes);
                               }
                           });
                           d->place(entry.dn(), hits->parents, [&](Impl::MetParent *parent, QByteArrayView name) {
                               if (parent && parent->found == Found::kNoContainer)
                                   parent->found = found.addContainer(parent->fullName);
                               found.append(parent ? parent->found : Found::kNoContainer, name, entry.dn(), identity);
                           });
                           for (const QByteArrayView value : values)
                               found.appendValue(value);
                       },
                       [hits, done](std::exception_ptr failure, const QList<Reference> &references) {
                           hits->parents.clear();
                           if (failure)
                               return done({}, failure);
                           hits->found.references = references;
                           done(std::exchange(hits->found, {}), nullptr);
                       },
                       identityAttribute(d->kind));
    } catch (...) {
        done({}, std::current_exception());
    }
}

void LdapTree::cancelSearches()
{
    d->endSearches(d->run, platform::Error(QStringLiteral("Suche abgebrochen")));
}

void LdapTree::startPutAndStore(const QString &fullName, const QString &attribute, const QString &value, StoreDone done)
{
    d->startPutAndStore(fullName, attribute, value, std::move(done));
}

// Changes go out without waiting for the answer of the one before, so the
// server works on one while the next travels; every answer is waited for. At
// most kInFlight are outstanding: a connection that only writes fills the
// sockets' buffers (the server's answers pile up unread), and libldap then
// takes the blocked write for a lost server. Once half are answered, the
// next half goes out in one burst.
void LdapTree::storeChanges(const QList<ValueChange> &changes, const Stored &stored)
{
    constexpr qsizetype kInFlight = 64;
    LdapConnection &connection = d->run.connection;
    qsizetype sent = 0;
    qsizetype answered = 0;
    bool goOn = true;
    const auto report = [&](qsizetype index, std::exception_ptr failure) {
        ++answered;
        goOn = stored(index, failure) && goOn;
    };
    for (qsizetype i = 0; i < changes.size() && goOn && !d->readOnlyCopy;) {
        // The first change goes alone: a read-only copy refers it, and then
        // no other is sent.
        connection.waitForAnswers([&] { return sent - answered - (d->writeAnswered ? kInFlight / 2 : 0); });
        if (d->readOnlyCopy)
            break; // the changes not sent stay unanswered: not tried
        const qsizetype inFlight = d->writeAnswered ? kInFlight : 1;
        if (changes.size() - i > 1 && inFlight > 1) // one change alone goes out as it is
            connection.holdWrites();
        for (; i < changes.size() && goOn && sent - answered < inFlight; ++i) {
            ++sent;
            try {
                d->startChange(changes.at(i), [&report, i](std::exception_ptr failure) { report(i, failure); });
            } catch (...) {
                report(i, std::current_exception());
            }
        }
        connection.sendHeld();
    }
    connection.waitForAnswers([&] { return sent - answered; });
}

void LdapTree::putAndStore(const QString &fullName, const QString &attribute, const QString &value)
{
    bool stored = false;
    std::exception_ptr failure;
    d->startPutAndStore(fullName, attribute, value, [&](std::exception_ptr f) {
        failure = f;
        stored = true;
    });
    d->run.connection.waitUntil([&] { return stored; });
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace directory
