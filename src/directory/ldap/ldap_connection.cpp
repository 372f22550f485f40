#include "directory/ldap/ldap_connection.h"

#include "directory/ldap/held_writes.h"
#include "directory/ldap/ldap_urls.h"
#include "platform/message_pump.h"

#include <QAbstractEventDispatcher>
#include <QHostAddress>
#include <QHostInfo>
#include <QtEndian>
#include <QScopeGuard>
#include <QSocketNotifier>

#include <cerrno>
#include <mutex>
#include <thread>

#include <sys/socket.h>

#include <gnutls/x509.h>

#include <sasl/sasl.h>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace directory {

namespace {

using MessagePtr = ldap_owners::Owned<LDAPMessage>;

constexpr int kSocketWaitMs = 10;

// The largest message taken from a server: a hundred thousand users come in
// pages of entries far smaller, and one that announces more would otherwise
// be given all the memory it asks for.
constexpr ber_len_t kMaxIncoming = 64 << 20;

bool sendsPlainPasswordTo(const QString &uri);

platform::Error plainPasswordRefused(const QString &uri)
{
    return platform::Error(QStringLiteral("Anmeldung an %1 abgelehnt: das Passwort ginge unverschlüsselt über das Netz "
                                          "(StartTLS, ldaps:// oder allow_plain_password=true)").arg(uri));
}

// What to do about the common failures, in the administrator's words.
// libldap with GnuTLS (as Debian builds it) says no more of a failed
// certificate check than "(unknown error code)": a handshake that works once
// the check is off tells that it was the certificate.
const char kUntrusted[] = "das Zertifikat des Servers ist nicht vertrauenswürdig";
const char kOtherName[] = "das Zertifikat gilt für";

QString hintFor(int rc, const QString &diagnostic)
{
    QStringList certificate;
    if (diagnostic.contains(QString::fromUtf8(kOtherName)))
        certificate.append(QStringLiteral("In uri= einen Namen verwenden, für den das Zertifikat gilt"));
    if (diagnostic.contains(QLatin1String("certificate verify failed")) || diagnostic.contains(QString::fromUtf8(kUntrusted)))
        certificate.append(QStringLiteral("Die ausstellende Stelle mit cafile= angeben")); // the diagnostic says it is not trusted
    if (!certificate.isEmpty())
        return certificate.join(QStringLiteral(". "));
    // slapd and Active Directory, to a write of an anonymous connection.
    if (diagnostic.contains(QLatin1String("require authentication")) || diagnostic.contains(QLatin1String("successful bind must be completed")))
        return QStringLiteral("Anonym darf nicht geschrieben werden: mit bind=simple und binddn= anmelden");
    if (diagnostic.contains(QLatin1String("hostname does not match")))
        return QStringLiteral("Der Name in uri= steht nicht im Zertifikat des Servers: den Namen aus dem Zertifikat verwenden");
    switch (rc) {
    case LDAP_LOCAL_ERROR:
        if (diagnostic.contains(QLatin1String("GSSAPI")))
            return QStringLiteral("Kein gültiges Kerberos-Ticket für diesen Server: mit kinit anmelden, und uri= muss den Server "
                                  "so nennen wie sein Kerberos-Dienstname (ldap/<Name>)");
        return {};
    case LDAP_NOT_SUPPORTED:
        if (diagnostic.contains(QLatin1String("no mechanism")))
            return QStringLiteral("Dieses SASL-Verfahren ist hier nicht eingerichtet: für mech=GSSAPI das Paket "
                                  "libsasl2-modules-gssapi-mit installieren");
        return {};
    case LDAP_INVALID_CREDENTIALS:
        return QStringLiteral("Anmeldename (binddn=) oder Passwort ist falsch");
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
        return QStringLiteral("Der Server ist nicht erreichbar: uri= prüfen und ob der Server läuft");
    case LDAP_TIMEOUT:
        return QStringLiteral("Der Server antwortet nicht: Netz und Server prüfen oder timeout= erhöhen");
    case LDAP_DECODING_ERROR:
        return QStringLiteral("Die Antwort des Servers ist kein gültiges LDAP oder größer als %1 MiB: führt uri= zu einem LDAP-Server?")
            .arg(kMaxIncoming >> 20);
    case LDAP_CONFIDENTIALITY_REQUIRED:
    case LDAP_STRONG_AUTH_REQUIRED:
        return QStringLiteral("Der Server verlangt eine verschlüsselte Verbindung: starttls=true oder ldaps://");
    default:
        return {};
    }
}

void setOption(LDAP *ld, int option, const void *value, const QString &uri)
{
    const int rc = ldap_set_option(ld, option, value);
    if (rc != LDAP_OPT_SUCCESS)
        throw ldapError(ld, rc, QStringLiteral("Einstellung der Verbindung zu %1").arg(uri));
}

// SASL's questions (the authorization identity, say): each gets its default,
// none a prompt. GSSAPI needs no more than the user's ticket.
int answerSasl(LDAP *, unsigned, void *, void *questions)
{
    for (auto *question = static_cast<sasl_interact_t *>(questions); question->id != SASL_CB_LIST_END; ++question) {
        question->result = question->defresult ? question->defresult : "";
        question->len = static_cast<unsigned>(qstrlen(static_cast<const char *>(question->result)));
    }
    return LDAP_SUCCESS;
}

void bind(LDAP *ld, const LdapSettings &settings, const QByteArray &password)
{
    const QString what = QStringLiteral("Anmeldung an %1").arg(settings.uri);
    int rc = LDAP_SUCCESS;
    switch (settings.bind) {
    case LdapSettings::Bind::SaslExternal: {
        // An empty authorization identity: the server takes the identity of
        // the connection (the peer's uid over ldapi, or a TLS certificate).
        char empty[] = "";
        berval none{0, empty}; // present but empty; a null value would send no credentials at all
        rc = ldap_sasl_bind_s(ld, nullptr, "EXTERNAL", &none, nullptr, nullptr, nullptr);
        break;
    }
    case LdapSettings::Bind::Sasl:
        // The service is the host named in uri= (ldap/<host>): libldap would
        // otherwise ask reverse DNS for the name, which loopback and many
        // school networks answer with another.
        setOption(ld, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON, settings.uri);
        rc = ldap_sasl_interactive_bind_s(ld, nullptr, settings.saslMechanism.toUtf8().constData(), nullptr, nullptr,
                                          LDAP_SASL_QUIET, answerSasl, nullptr);
        break;
    case LdapSettings::Bind::Simple: {
        if (sendsPlainPasswordAbroad(settings))
            throw plainPasswordRefused(settings.uri);
        QByteArray secret = password;
        berval credentials{static_cast<ber_len_t>(secret.size()), secret.data()};
        rc = ldap_sasl_bind_s(ld, settings.bindDn.toUtf8().constData(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                              nullptr, nullptr);
        break;
    }
    case LdapSettings::Bind::Anonymous: {
        berval none{0, nullptr};
        rc = ldap_sasl_bind_s(ld, "", LDAP_SASL_SIMPLE, &none, nullptr, nullptr, nullptr);
        break;
    }
    }
    if (rc != LDAP_SUCCESS)
        std::rethrow_exception(failureOf(ld, rc, what));
}

ldap_owners::Owned<LDAP> initialize(const LdapSettings &settings, int requireCertificate)
{
    LDAP *raw = nullptr;
    const int rc = ldap_initialize(&raw, settings.uri.toUtf8().constData());
    if (rc != LDAP_SUCCESS)
        throw ldapError(nullptr, rc, QStringLiteral("Verbindung zu %1").arg(settings.uri));
    ldap_owners::Owned<LDAP> ld(raw);

    const int version = LDAP_VERSION3;
    setOption(raw, LDAP_OPT_PROTOCOL_VERSION, &version, settings.uri);
    setOption(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF, settings.uri);
    // So that a handshake the caller gave up on still ends by itself.
    const timeval timeout{settings.timeoutSeconds, 0};
    setOption(raw, LDAP_OPT_NETWORK_TIMEOUT, &timeout, settings.uri);
    setOption(raw, LDAP_OPT_TIMEOUT, &timeout, settings.uri);
    setOption(raw, LDAP_OPT_X_TLS_REQUIRE_CERT, &requireCertificate, settings.uri);
    if (!settings.caFile.isEmpty())
        setOption(raw, LDAP_OPT_X_TLS_CACERTFILE, settings.caFile.toUtf8().constData(), settings.uri);
    const int isServer = 0;
    setOption(raw, LDAP_OPT_X_TLS_NEWCTX, &isServer, settings.uri);
    Sockbuf *sb = nullptr;
    ber_len_t maxIncoming = kMaxIncoming;
    if (ldap_get_option(raw, LDAP_OPT_SOCKBUF, &sb) != LDAP_OPT_SUCCESS || ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &maxIncoming) != 1)
        throw platform::Error(QStringLiteral("Einstellung der Verbindung zu %1: keine Obergrenze für Nachrichten").arg(settings.uri));
    return ld;
}

int startTls(LDAP *ld, const LdapSettings &settings)
{
    if (settings.startTls)
        return ldap_start_tls_s(ld, nullptr, nullptr);
    if (settings.uri.startsWith(QLatin1String("ldaps:"), Qt::CaseInsensitive))
        return ldap_connect(ld);
    return LDAP_SUCCESS;
}

// The names a certificate is for: its subject alternative names, else its
// common name.
QStringList certificateNames(gnutls_x509_crt_t certificate)
{
    QStringList names;
    for (unsigned i = 0;; ++i) {
        char name[256];
        size_t size = sizeof name;
        const int type = gnutls_x509_crt_get_subject_alt_name(certificate, i, name, &size, nullptr);
        if (type < 0 && type != GNUTLS_E_SHORT_MEMORY_BUFFER)
            break;
        if (type == GNUTLS_SAN_DNSNAME)
            names.append(QString::fromUtf8(name, static_cast<qsizetype>(size)));
        else if (type == GNUTLS_SAN_IPADDRESS && size == 4)
            names.append(QHostAddress(qFromBigEndian<quint32>(name)).toString());
        else if (type == GNUTLS_SAN_IPADDRESS && size == 16)
            names.append(QHostAddress(reinterpret_cast<const quint8 *>(name)).toString());
    }
    if (names.isEmpty()) {
        char name[256];
        size_t size = sizeof name;
        if (gnutls_x509_crt_get_dn_by_oid(certificate, GNUTLS_OID_X520_COMMON_NAME, 0, 0, name, &size) == 0)
            names.append(QString::fromUtf8(name, static_cast<qsizetype>(size)));
    }
    return names;
}

// What is wrong with the server's certificate, judged as libldap's GnuTLS
// judges it, when TLS works with the certificate unchecked; empty when the
// handshake fails for another reason. Nothing is sent over that connection:
// it is closed right after the handshake.
QString certificateProblem(const LdapSettings &settings)
{
    try {
        const ldap_owners::Owned<LDAP> probe = initialize(settings, LDAP_OPT_X_TLS_NEVER);
        if (startTls(probe.get(), settings) != LDAP_SUCCESS)
            return {};
        berval der{0, nullptr};
        if (ldap_get_option(probe.get(), LDAP_OPT_X_TLS_PEERCERT, &der) != LDAP_OPT_SUCCESS || !der.bv_val)
            return QString::fromUtf8(kUntrusted);
        const ldap_owners::Text derOwner(der.bv_val);
        gnutls_x509_crt_t certificate = nullptr;
        gnutls_x509_crt_init(&certificate);
        const auto freeCertificate = qScopeGuard([certificate] { gnutls_x509_crt_deinit(certificate); });
        const gnutls_datum_t data{reinterpret_cast<unsigned char *>(der.bv_val), static_cast<unsigned>(der.bv_len)};
        if (gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_DER) < 0)
            return QString::fromUtf8(kUntrusted);

        QStringList problems;
        LDAPURLDesc *raw = nullptr;
        const QByteArray host = ldap_url_parse(settings.uri.toUtf8().constData(), &raw) == LDAP_URL_SUCCESS && raw->lud_host
                                    ? QByteArray(raw->lud_host) : QByteArray("localhost");
        const ldap_owners::Owned<LDAPURLDesc> url(raw);
        if (!gnutls_x509_crt_check_hostname(certificate, host.constData()))
            problems.append(QStringLiteral("%1 %2, nicht für %3").arg(QString::fromUtf8(kOtherName), certificateNames(certificate).join(QStringLiteral(", ")),
                                                                      QString::fromUtf8(host)));
        gnutls_x509_trust_list_t trusted = nullptr;
        gnutls_x509_trust_list_init(&trusted, 0);
        const auto freeTrusted = qScopeGuard([trusted] { gnutls_x509_trust_list_deinit(trusted, 1); });
        gnutls_x509_trust_list_add_system_trust(trusted, 0, 0);
        if (!settings.caFile.isEmpty())
            gnutls_x509_trust_list_add_trust_file(trusted, settings.caFile.toUtf8().constData(), nullptr, GNUTLS_X509_FMT_PEM, 0, 0);
        unsigned status = 0;
        if (gnutls_x509_trust_list_verify_crt(trusted, &certificate, 1, 0, &status, nullptr) < 0 || status != 0)
            problems.append(QString::fromUtf8(kUntrusted));
        return problems.isEmpty() ? QString::fromUtf8(kUntrusted) : problems.join(QStringLiteral("; "));
    } catch (const platform::Error &) {
        return {};
    }
}

// Connects, starts TLS and binds: every step that may block on the network.
ldap_owners::Owned<LDAP> connectAndBind(const LdapSettings &settings, const QByteArray &password)
{
    ldap_owners::Owned<LDAP> ld = initialize(settings, LDAP_OPT_X_TLS_DEMAND);
    const int rc = startTls(ld.get(), settings);
    if (rc != LDAP_SUCCESS) {
        const QByteArray certificate = rc == LDAP_CONNECT_ERROR || rc == LDAP_SERVER_DOWN ? certificateProblem(settings).toUtf8() : QByteArray();
        const QString what = QStringLiteral("%1 mit %2").arg(settings.startTls ? QStringLiteral("StartTLS") : QStringLiteral("TLS"), settings.uri);
        if (certificate.isEmpty())
            std::rethrow_exception(failureOf(ld.get(), rc, what));
        throw ldapError(ld.get(), rc, what, certificate.constData());
    }
    bind(ld.get(), settings, password);
    return ld;
}

// One handshake, shared by the thread that does it and the one that waits
// for it, which may give up first and leave the handle to be freed here.
struct Handshake {
    LdapSettings settings;
    QByteArray password;
    std::mutex mutex;
    bool finished = false;
    bool abandoned = false;
    QAbstractEventDispatcher *waiter = nullptr; // woken when it is done, while it waits
    ldap_owners::Owned<LDAP> ld;
    std::exception_ptr failure;

    void run()
    {
        ldap_owners::Owned<LDAP> made;
        std::exception_ptr error;
        try {
            made = connectAndBind(settings, password);
        } catch (...) {
            error = std::current_exception();
        }
        const std::lock_guard lock(mutex);
        finished = true;
        if (abandoned)
            return; // `made` goes with this frame
        ld = std::move(made);
        failure = error;
        waiter->wakeUp();
    }

    [[nodiscard]] bool done()
    {
        const std::lock_guard lock(mutex);
        return finished;
    }
};

// Handles window messages until one comes or `deadline` passes. A timer of
// its own, armed anew each time, wakes the pump: one armed once may fire a
// little early, and the pump would then wait with nothing left to wake it.
void waitForMessagesUntil(const QDeadlineTimer &deadline)
{
    if (deadline.isForever())
        return platform::waitForMessages();
    if (deadline.hasExpired())
        return platform::processMessages();
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(std::chrono::ceil<std::chrono::milliseconds>(deadline.remainingTimeAsDuration()));
    platform::waitForMessages();
}

} // namespace

platform::Error ldapError(LDAP *ld, int rc, const QString &what, const char *diagnostic, const char *matched)
{
    QString message = QStringLiteral("%1 fehlgeschlagen: %2 (%3)").arg(what, QString::fromUtf8(ldap_err2string(rc))).arg(rc);
    ldap_owners::Text optionText;
    if (!diagnostic && ld) {
        char *text = nullptr;
        if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) == LDAP_OPT_SUCCESS)
            optionText.reset(text);
        diagnostic = text;
    }
    const QString detail = QString::fromUtf8(diagnostic ? diagnostic : "");
    if (!detail.isEmpty())
        message += QStringLiteral(": %1").arg(detail);
    if (matched && *matched)
        message += QStringLiteral(", bekannt ist %1").arg(QString::fromUtf8(matched));
    const QString hint = hintFor(rc, detail);
    if (!hint.isEmpty())
        message += QStringLiteral(". %1").arg(hint);
    return platform::Error(message);
}

bool connectionLost(int rc)
{
    return rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR || rc == LDAP_TIMEOUT;
}

std::exception_ptr failureOf(LDAP *ld, int rc, const QString &what)
{
    const platform::Error error = ldapError(ld, rc, what);
    if (connectionLost(rc))
        return std::make_exception_ptr(ServerUnreachable(error.message()));
    return std::make_exception_ptr(error);
}

bool sendsPlainPasswordAbroad(const LdapSettings &settings)
{
    return !plainPasswordServer(settings).isEmpty();
}

QString plainPasswordServer(const LdapSettings &settings)
{
    if (settings.bind != LdapSettings::Bind::Simple || settings.startTls || settings.allowPlainPassword)
        return {};
    QStringList urls;
    try {
        urls = ldapUrls(settings.uri);
    } catch (const platform::Error &) {
        return settings.uri; // unknown: do not send
    }
    for (const QString &url : std::as_const(urls)) {
        if (sendsPlainPasswordTo(url))
            return url;
    }
    return {};
}

namespace {

bool sendsPlainPasswordTo(const QString &uri)
{
    LDAPURLDesc *raw = nullptr;
    if (ldap_url_parse(uri.toUtf8().constData(), &raw) != LDAP_URL_SUCCESS)
        return true; // unknown: do not send
    const ldap_owners::Owned<LDAPURLDesc> url(raw);
    const QString scheme = QString::fromUtf8(url->lud_scheme).toLower();
    if (scheme == QLatin1String("ldaps") || scheme == QLatin1String("ldapi"))
        return false;
    // By the addresses the name stands for, not by its spelling: a name may
    // look like a loopback address and lead elsewhere (127.schule.example).
    const QHostInfo host = QHostInfo::fromName(QString::fromUtf8(url->lud_host ? url->lud_host : "localhost"));
    if (host.error() != QHostInfo::NoError || host.addresses().isEmpty())
        return true;
    for (const QHostAddress &address : host.addresses()) {
        if (!address.isLoopback())
            return true;
    }
    return false;
}

} // namespace

LdapConnection::LdapConnection(const LdapSettings &settings, QString password)
    : m_settings(settings), m_password(std::move(password))
{
#ifdef Q_OS_UNIX
    // A server that goes away mid-write must fail the write, not end the
    // program: libldap writes to its socket without MSG_NOSIGNAL.
    static const bool ignoringSigpipe = (std::signal(SIGPIPE, SIG_IGN), true);
    Q_UNUSED(ignoringSigpipe);
#endif
    m_deadlineTimer.setSingleShot(true);
    m_deadlineTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_deadlineTimer, &QTimer::timeout, &m_deadlineTimer, [this] { deadlineReached(); });
}

LdapConnection::~LdapConnection()
{
    fail([this](const QString &what) {
        return std::make_exception_ptr(platform::Error(QStringLiteral("%1: Verbindung zu %2 geschlossen").arg(what, server())));
    });
}

void LdapConnection::open()
{
    // The wait below handles window messages; one of them must not start a
    // second handshake that the first would then overwrite.
    if (m_opening)
        throw platform::Error(QStringLiteral("Die Verbindung zu %1 wird noch aufgebaut").arg(server()));
    m_opening = true;
    const auto opened = qScopeGuard([this] { m_opening = false; });
    // Once bound, the connection stays with that server: a run writes to one.
    const QStringList servers = m_bound.isEmpty() ? ldapUrls(m_settings.uri) : QStringList{m_bound};
    if (const QString abroad = plainPasswordServer(m_settings); !abroad.isEmpty())
        throw plainPasswordRefused(abroad);
    QStringList unreachable;
    for (const QString &url : servers) {
        try {
            openAt(url);
            m_bound = url;
            return;
        } catch (const ServerUnreachable &e) {
            unreachable.append(e.message()); // the next one may answer
        }
    }
    throw ServerUnreachable(unreachable.join(QStringLiteral("; ")));
}

void LdapConnection::switchTo(const QString &server)
{
    m_bound = server;
    fail([&](const QString &what) {
        return std::make_exception_ptr(platform::Error(QStringLiteral("%1: die Verbindung wechselt zu %2").arg(what, server)));
    });
}

void LdapConnection::openAt(const QString &url)
{
    auto handshake = std::make_shared<Handshake>();
    handshake->settings = m_settings;
    handshake->settings.uri = url;
    handshake->password = m_password.toUtf8();
    handshake->waiter = QAbstractEventDispatcher::instance();
    // A plain thread that owns nothing of this one's: one given up on may
    // run on past the deadline, and frees what it made when it ends.
    std::thread([handshake] { handshake->run(); }).detach();
    const QDeadlineTimer deadline(std::chrono::seconds(m_settings.timeoutSeconds), Qt::PreciseTimer);
    while (!handshake->done() && !deadline.hasExpired())
        waitForMessagesUntil(deadline);

    std::unique_lock lock(handshake->mutex);
    if (!handshake->finished) {
        handshake->abandoned = true;
        std::rethrow_exception(failureOf(nullptr, LDAP_TIMEOUT, QStringLiteral("Verbindung zu %1").arg(url)));
    }
    if (handshake->failure)
        std::rethrow_exception(handshake->failure);
    m_ld = std::shared_ptr<LDAP>(handshake->ld.release(), ldap_owners::Deleter());
    lock.unlock();

    // Reads come from the message pump: a message only partly arrived must
    // not block it. Without TLS, which reads whole records, liblber reads
    // each message in two system calls (its header, then the rest); a
    // read-ahead buffer takes a page of entries in a few. Below TLS it would
    // hide what it holds from the TLS layer's check for data: Samba's answers
    // then lay unread until the deadline.
    Sockbuf *sb = nullptr;
    ber_socket_t fd = -1;
    if (ldap_get_option(m_ld.get(), LDAP_OPT_SOCKBUF, &sb) != LDAP_OPT_SUCCESS
        || ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_NONBLOCK, reinterpret_cast<void *>(1)) != 1
        || (!ldap_tls_inplace(m_ld.get())
            && ber_sockbuf_add_io(sb, &ber_sockbuf_io_readahead, LBER_SBIOD_LEVEL_PROVIDER, nullptr) != 0)
        || !held_writes::install(sb)
        || ldap_get_option(m_ld.get(), LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS || fd < 0) {
        m_ld.reset();
        throw platform::Error(QStringLiteral("Verbindung zu %1: kein Socket").arg(url));
    }
    ber_len_t ssf = 0;
    ldap_get_option(m_ld.get(), LDAP_OPT_X_SASL_SSF, &ssf);
    m_plainFd = ldap_tls_inplace(m_ld.get()) || ssf > 0 ? -1 : fd;
    m_lowWater = 1;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readAll(); });
}

int LdapConnection::send(const QString &what, const Request &request, Reply reply)
{
    if (m_ld && m_outstanding.isEmpty())
        readAll(); // learn of a close by the server while we stood idle
    const bool fresh = !m_ld;
    if (fresh)
        open();
    int id = -1;
    int rc = request(m_ld.get(), &id);
    if (rc == LDAP_SERVER_DOWN && !fresh) {
        fail([&, ld = m_ld.get()](const QString &each) { return failureOf(ld, rc, each); });
        open();
        rc = request(m_ld.get(), &id);
    }
    if (rc != LDAP_SUCCESS) {
        const std::exception_ptr error = failureOf(m_ld.get(), rc, what);
        if (connectionLost(rc))
            fail([&, ld = m_ld.get()](const QString &each) { return failureOf(ld, rc, each); });
        std::rethrow_exception(error);
    }
    m_outstanding.insert(id, {std::make_shared<const Reply>(std::move(reply)), what,
                              QDeadlineTimer(std::chrono::seconds(m_settings.timeoutSeconds), Qt::PreciseTimer)});
    if (!m_deadlineTimer.isActive()) // else it fires earlier, for an older request
        armDeadline();
    return id;
}

void LdapConnection::holdWrites()
{
    Sockbuf *sb = nullptr;
    if (m_ld && ldap_get_option(m_ld.get(), LDAP_OPT_SOCKBUF, &sb) == LDAP_OPT_SUCCESS) {
        held_writes::hold(sb);
        m_holding = true;
    }
}

void LdapConnection::sendHeld()
{
    sendHeld(false);
}

void LdapConnection::sendHeld(bool keepHolding)
{
    if (!m_holding)
        return;
    m_holding = keepHolding;
    Sockbuf *sb = nullptr;
    ber_socket_t fd = -1;
    if (!m_ld || ldap_get_option(m_ld.get(), LDAP_OPT_SOCKBUF, &sb) != LDAP_OPT_SUCCESS
        || ldap_get_option(m_ld.get(), LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS)
        return;
    if (const int error = held_writes::send(sb, fd, m_settings.timeoutSeconds * 1000, keepHolding)) {
        const int rc = error == ETIMEDOUT ? LDAP_TIMEOUT : LDAP_SERVER_DOWN;
        fail([&, ld = m_ld.get()](const QString &each) { return failureOf(ld, rc, each); });
    }
}

void LdapConnection::abandon(int id)
{
    if (m_outstanding.remove(id) && m_ld)
        ldap_abandon_ext(m_ld.get(), id, nullptr, nullptr);
}

void LdapConnection::waitUntil(const std::function<bool()> &done)
{
    wait(done, nullptr);
}

void LdapConnection::waitForAnswers(const std::function<qsizetype()> &awaited)
{
    wait([&] { return awaited() <= 0; }, &awaited);
}

void LdapConnection::wait(const std::function<bool()> &done, const std::function<qsizetype()> *awaited)
{
    sendHeld(true); // nothing waited for may stay held
    const auto sleepFor = [&] { wakeForAnswers(awaited ? (*awaited)() : 0); };
    const auto awake = qScopeGuard([this] { wakeForAnswers(0); });
    while (!done()) {
        // Most answers come within a few milliseconds, sooner than a round of
        // the message pump: wait for them on the socket first. Window
        // messages wait that long at most.
        if (!m_outstanding.isEmpty()) {
            sleepFor();
            readAll(kSocketWaitMs, true); // what it leaves in the socket, the next wait asks for
            if (done())
                return;
        }
        sleepFor();
        waitForMessagesUntil(earliestDeadline());
        failExpired();
    }
}

// A plain socket can be told not to wake its reader before so many bytes
// have come. Each answer takes at least kLeastAnswer (an LDAPResult with a
// one-byte message id and no texts), so `answers` answers are not all there
// before that many bytes, less one byte for an answer that may have partly
// arrived. The reader sleeps through at most kMostAnswersAsleep: a server
// sends each answer in a segment of its own, and with none of them
// acknowledged (the kernel acknowledges as the reader reads) it sends no
// more than its congestion window, which starts at ten segments. Under TLS
// or a SASL layer one record may carry many answers: there it wakes at once.
void LdapConnection::wakeForAnswers(qsizetype answers)
{
    constexpr int kLeastAnswer = 14;
    constexpr qsizetype kMostAnswersAsleep = 8;
    answers = std::min(answers, kMostAnswersAsleep);
    const int bytes = answers > 1 ? static_cast<int>(kLeastAnswer * (answers - 1) + 1) : 1;
    if (m_plainFd >= 0 && bytes != m_lowWater && ::setsockopt(m_plainFd, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes) == 0)
        m_lowWater = bytes;
}

QDeadlineTimer LdapConnection::earliestDeadline() const
{
    QDeadlineTimer earliest = QDeadlineTimer::Forever;
    for (const Outstanding &request : m_outstanding)
        earliest = qMin(earliest, request.deadline);
    return earliest;
}

// Fails the connection when a request's deadline has passed, after taking
// an answer that may have come that a busy pump has not read yet.
bool LdapConnection::failExpired()
{
    if (!earliestDeadline().hasExpired())
        return false;
    wakeForAnswers(0);
    readAll();
    for (const Outstanding &request : std::as_const(m_outstanding)) {
        if (request.deadline.hasExpired()) {
            fail([](const QString &each) { return failureOf(nullptr, LDAP_TIMEOUT, each); });
            return true;
        }
    }
    return false;
}

// Takes every message that has arrived, not only the first: TLS may hold
// several in one record, and the socket then does not signal again. With
// `onlyHeld`, after the first it takes only those libldap already holds
// (read ahead, or in a TLS record), and asks the socket no more.
void LdapConnection::readAll(int firstWaitMs, bool onlyHeld)
{
    const std::shared_ptr<LDAP> ld = m_ld; // valid while its messages are handed out, even if dropped meanwhile
    while (ld && ld == m_ld) {
        timeval wait{0, std::exchange(firstWaitMs, 0) * 1000};
        LDAPMessage *raw = nullptr;
        errno = 0;
        const int type = ldap_result(ld.get(), LDAP_RES_ANY, LDAP_MSG_ONE, &wait, &raw);
        const int readError = errno;
        const MessagePtr message(raw);
        if (type == 0)
            return;
        if (type < 0) {
            int rc = LDAP_SERVER_DOWN;
            ldap_get_option(ld.get(), LDAP_OPT_RESULT_CODE, &rc);
            // liblber says no more of a malformed or oversized message than
            // errno; libldap then takes the connection for lost.
            if (readError == ERANGE || readError == EINVAL)
                rc = LDAP_DECODING_ERROR;
            fail([&](const QString &each) { return failureOf(ld.get(), rc == LDAP_SUCCESS ? LDAP_SERVER_DOWN : rc, each); });
            return;
        }
        deliver(ld.get(), message.get());
        Sockbuf *sb = nullptr;
        if (onlyHeld && (ldap_get_option(ld.get(), LDAP_OPT_SOCKBUF, &sb) != LDAP_OPT_SUCCESS
                         || ber_sockbuf_ctrl(sb, LBER_SB_OPT_DATA_READY, nullptr) <= 0))
            return;
    }
}

void LdapConnection::deliver(LDAP *ld, LDAPMessage *message)
{
    const int id = ldap_msgid(message);
    const auto found = m_outstanding.constFind(id);
    if (found == m_outstanding.cend())
        return; // abandoned, or a notice of disconnection (id 0), whose end of connection follows
    const std::shared_ptr<const Reply> reply = found->reply; // the reply may send, and so move the table
    const int type = ldap_msgtype(message);
    // The deadline timer runs on when the last request is answered: started
    // anew for each request, it would cost more than the request itself.
    if (type != LDAP_RES_SEARCH_ENTRY && type != LDAP_RES_SEARCH_REFERENCE && type != LDAP_RES_INTERMEDIATE)
        m_outstanding.remove(id);
    (*reply)(ld, message, nullptr);
}

void LdapConnection::fail(const std::function<std::exception_ptr(const QString &what)> &failure)
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier.release()->deleteLater(); // may be the notifier whose signal runs now
    }
    const std::shared_ptr<LDAP> gone = std::move(m_ld); // the failures may still read its diagnostic
    m_plainFd = -1;
    m_deadlineTimer.stop();
    const auto outstanding = std::exchange(m_outstanding, {});
    for (const Outstanding &request : outstanding)
        (*request.reply)(nullptr, nullptr, failure(request.what));
}

void LdapConnection::armDeadline()
{
    if (m_outstanding.isEmpty())
        return;
    m_deadlineTimer.start(std::chrono::ceil<std::chrono::milliseconds>(earliestDeadline().remainingTimeAsDuration()));
}

void LdapConnection::deadlineReached()
{
    if (!failExpired())
        armDeadline(); // fired early, or for a request answered meanwhile
}

} // namespace directory
