#include "support/fake_ldap_server.h"

#include <QTcpSocket>

#include <ldap.h>

#include <memory>

namespace {

// One BER-encoded message, built by liblber from a ber_printf format.
template <typename... Args>
QByteArray encode(const char *format, Args... args)
{
    std::unique_ptr<BerElement, void (*)(BerElement *)> ber(ber_alloc_t(LBER_USE_DER), [](BerElement *b) { ber_free(b, 1); });
    ber_printf(ber.get(), format, args...);
    berval *flat = nullptr;
    ber_flatten(ber.get(), &flat);
    const QByteArray out(flat->bv_val, static_cast<qsizetype>(flat->bv_len));
    ber_bvfree(flat);
    return out;
}

} // namespace

FakeLdapServer::FakeLdapServer(Behaviour behaviour) : m_behaviour(behaviour)
{
    m_server.listen(QHostAddress::LocalHost);
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto pending = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, pending] {
                *pending += socket->readAll();
                take(socket, *pending);
            });
        }
    });
}

FakeLdapServer::~FakeLdapServer() = default; // the server's sockets are its children: closed with it

QString FakeLdapServer::uri(const QString &scheme) const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(m_server.serverPort());
}

// Splits what arrived into LDAP messages: SEQUENCE { messageID, protocolOp, ... }.
void FakeLdapServer::take(QTcpSocket *socket, QByteArray &pending)
{
    while (pending.size() >= 2) {
        if (static_cast<unsigned char>(pending[0]) != 0x30) { // a TLS hello: never answered in full
            pending.clear();
            if (m_behaviour == Behaviour::TrickleTls)
                trickle(socket);
            return;
        }
        qsizetype header = 2;
        qsizetype length = static_cast<unsigned char>(pending[1]);
        if (length & 0x80) {
            const int bytes = length & 0x7f;
            if (pending.size() < 2 + bytes)
                return;
            length = 0;
            for (int i = 0; i < bytes; ++i)
                length = (length << 8) | static_cast<unsigned char>(pending[2 + i]);
            header += bytes;
        }
        if (pending.size() < header + length)
            return;
        const QByteArray message = pending.mid(header, length);
        pending.remove(0, header + length);
        // messageID: INTEGER (tag 0x02, short length), then the operation's tag.
        const int idLength = static_cast<unsigned char>(message[1]);
        int id = 0;
        for (int i = 0; i < idLength; ++i)
            id = (id << 8) | static_cast<unsigned char>(message[2 + i]);
        answer(socket, id, static_cast<unsigned char>(message[2 + idLength]), message.mid(2 + idLength));
    }
}

// The header of a 16 KiB handshake record, then its body a byte every 100 ms:
// each byte keeps a client's network timeout from ending its wait.
void FakeLdapServer::trickle(QTcpSocket *socket)
{
    socket->write(QByteArray::fromHex("1603034000"));
    auto *timer = new QTimer(socket);
    QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write(QByteArray(1, '\0')); });
    timer->start(100);
}

void FakeLdapServer::answer(QTcpSocket *socket, int id, int operation, const QByteArray &request)
{
    const bool answersBind = m_behaviour != Behaviour::Silent && m_behaviour != Behaviour::StartTlsThenSilent
                             && m_behaviour != Behaviour::TrickleTls;
    switch (operation) {
    case LDAP_REQ_BIND:
        if (answersBind)
            socket->write(encode("{it{ess}}", id, LDAP_RES_BIND, LDAP_SUCCESS, "", ""));
        break;
    case LDAP_REQ_EXTENDED: // StartTLS is the only one a client sends us
        if (m_behaviour == Behaviour::StartTlsThenSilent || m_behaviour == Behaviour::TrickleTls)
            socket->write(encode("{it{essts}}", id, LDAP_RES_EXTENDED, LDAP_SUCCESS, "", "", LDAP_TAG_EXOP_RES_OID,
                                 LDAP_EXOP_START_TLS));
        break;
    case LDAP_REQ_SEARCH: {
        ++m_searches;
        if (m_behaviour == Behaviour::Silent || m_behaviour == Behaviour::StartTlsThenSilent || m_behaviour == Behaviour::TrickleTls
            || m_behaviour == Behaviour::BindOnly)
            break;
        if (m_behaviour == Behaviour::SlowPages) {
            // SearchRequest: [APPLICATION 3] { baseObject OCTET STRING, scope ENUMERATED, ... }
            berval base{0, nullptr};
            ber_int_t scope = -1;
            berval whole{static_cast<ber_len_t>(request.size()), const_cast<char *>(request.constData())};
            std::unique_ptr<BerElement, void (*)(BerElement *)> ber(ber_init(&whole), [](BerElement *b) { ber_free(b, 1); });
            if (ber_scanf(ber.get(), "{me", &base, &scope) == LBER_ERROR || scope != LDAP_SCOPE_SUBTREE) {
                socket->write(encode("{it{s{}}}", id, LDAP_RES_SEARCH_ENTRY, "cn=sofort,dc=fake"));
                socket->write(encode("{it{ess}}", id, LDAP_RES_SEARCH_RESULT, LDAP_SUCCESS, "", ""));
                break;
            }
            const int page = ++m_slowPage;
            QTimer::singleShot(500, socket, [socket, id, page] {
                socket->write(encode("{it{s{}}}", id, LDAP_RES_SEARCH_ENTRY, QByteArray("cn=langsam" + QByteArray::number(page) + ",dc=fake").constData()));
                const QByteArray control = encode("{is}", 0, page % 12 == 0 ? "" : "0");
                berval value{static_cast<ber_len_t>(control.size()), const_cast<char *>(control.constData())};
                socket->write(encode("{it{ess}t{{sO}}}", id, LDAP_RES_SEARCH_RESULT, LDAP_SUCCESS, "", "", LDAP_TAG_CONTROLS,
                                     LDAP_CONTROL_PAGEDRESULTS, &value));
            });
            break;
        }
        if (m_behaviour == Behaviour::Garbage) {
            socket->write(QByteArray::fromHex("308002010264800000"));
            break;
        }
        if (m_behaviour == Behaviour::Huge) {
            // SEQUENCE of 400,000,000 bytes, then zeros whenever the last ones went out.
            socket->write(QByteArray::fromHex("3084") + QByteArray::fromHex("17d78400"));
            auto sent = std::make_shared<qint64>(0);
            const auto more = [socket, sent] {
                if (socket->bytesToWrite() < (1 << 20) && *sent < 400000000) {
                    socket->write(QByteArray(1 << 20, '\0'));
                    *sent += 1 << 20;
                }
            };
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
            more();
            break;
        }
        QByteArray cookie = "weiter";
        if (m_behaviour == Behaviour::SameCookiePages) {
            // Pages 1 and 3 bring two entries each, page 2 none, page 4 ends it.
            if (m_searches % 2 == 1) {
                for (int i = 0; i < 2; ++i)
                    socket->write(encode("{it{s{}}}", id, LDAP_RES_SEARCH_ENTRY,
                                         QByteArray("cn=s" + QByteArray::number(m_searches * 2 + i) + ",dc=fake").constData()));
            }
            cookie = m_searches % 4 == 0 ? QByteArray() : QByteArray("0");
        } else {
            socket->write(encode("{it{s{}}}", id, LDAP_RES_SEARCH_ENTRY, "cn=immer,dc=fake"));
            if (m_behaviour == Behaviour::RareNews && m_searches % 99 == 0)
                socket->write(encode("{it{s{}}}", id, LDAP_RES_SEARCH_ENTRY, QByteArray("cn=neu" + QByteArray::number(m_searches) + ",dc=fake").constData()));
            if (m_behaviour == Behaviour::EndlessNewCookies)
                cookie += QByteArray::number(m_searches);
        }
        const QByteArray control = encode("{is}", 0, cookie.constData());
        berval value{static_cast<ber_len_t>(control.size()), const_cast<char *>(control.constData())};
        socket->write(encode("{it{ess}t{{sO}}}", id, LDAP_RES_SEARCH_RESULT, LDAP_SUCCESS, "", "", LDAP_TAG_CONTROLS,
                             LDAP_CONTROL_PAGEDRESULTS, &value));
        break;
    }
    case LDAP_REQ_ABANDON:
        ++m_abandons;
        break;
    default: // unbind
        break;
    }
}
