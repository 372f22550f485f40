// The paged search against a server that pages without end or without news.
#include "directory/client.h"
#include "platform/error.h"
#include "support/error_of.h"
#include "support/fake_ldap_server.h"

#include <QtTest>

#include <memory>

class PagedSearchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void paging_endsByProgress_data();
    void paging_endsByProgress();

private:
    std::unique_ptr<directory::Client> client(const QString &keys);

    QTemporaryDir m_dir;
};

std::unique_ptr<directory::Client> PagedSearchTest::client(const QString &keys)
{
    // A file of its own each time: QSettings keeps what it read of a path.
    static int configs = 0;
    const QString path = m_dir.filePath(QStringLiteral("dirclient-%1.ini").arg(++configs));
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QStringLiteral("[LDAP]\n%1\n").arg(keys).toUtf8());
    file.close();
    qputenv("DIRCLIENT_CONFIG", path.toUtf8());
    return std::make_unique<directory::Client>(QString(), [](const QString &, const QString &) { return QStringLiteral("geheim"); });
}

void PagedSearchTest::paging_endsByProgress_data()
{
    QTest::addColumn<FakeLdapServer::Behaviour>("behaviour");
    QTest::addColumn<QString>("error"); // empty: the search succeeds
    QTest::addColumn<int>("pages");     // requests per search
    QTest::addColumn<QString>("keys");
    QTest::newRow("same cookie, same entry") << FakeLdapServer::Behaviour::EndlessPages << "ohne neue Einträge" << 100 << "";
    QTest::newRow("new cookie, same entry") << FakeLdapServer::Behaviour::EndlessNewCookies << "ohne neue Einträge" << 100 << "";
    QTest::newRow("a new entry every 99th page") << FakeLdapServer::Behaviour::RareNews << "neue in den letzten 100 Seiten" << 100 << "";
    QTest::newRow("more entries than maxentries=") << FakeLdapServer::Behaviour::EndlessNewCookies << "mehr als 50 Einträge (maxentries=" << 51
                                                   << "maxentries=50";
    QTest::newRow("same cookie, new entries and an empty page") << FakeLdapServer::Behaviour::SameCookiePages << "" << 4 << "";
}

void PagedSearchTest::paging_endsByProgress()
{
    QFETCH(FakeLdapServer::Behaviour, behaviour);
    QFETCH(QString, error);
    QFETCH(int, pages);
    QFETCH(QString, keys);
    FakeLdapServer server(behaviour);
    auto c = client(QStringLiteral("uri=%1\nbase=dc=fake\ntimeout=2\n%2").arg(server.uri(), keys));
    directory::Tree *tree = nullptr;
    QCOMPARE(errorOf([&] { tree = &c->tree(QStringLiteral("LDAP")); }), QString());
    const int before = server.searches(); // the server's recognition, at the start
    qsizetype listed = -1;
    const QString listing = errorOf([&] { listed = tree->children(QStringLiteral("NDS:\\\\LDAP"), {}).size(); });
    QVERIFY2(error.isEmpty() ? listing.isEmpty() : listing.contains(error), qPrintable(listing));
    QString searching;
    qsizetype found = -1;
    tree->search(QStringLiteral("NDS:\\\\LDAP"), QStringLiteral("User"), directory::Scope::Subtree, QString(),
                 [&](const directory::Found &hits, std::exception_ptr failure) {
                     searching = failure ? platform::messageOf(failure) : QStringLiteral("kein Fehler");
                     found = hits.size();
                 });
    QTRY_VERIFY_WITH_TIMEOUT(!searching.isEmpty(), 10000);
    if (error.isEmpty()) {
        QCOMPARE(listed, 4);
        QCOMPARE(found, 4);
    } else {
        QVERIFY2(searching.contains(error), qPrintable(searching));
    }
    QCOMPARE(server.searches() - before, 2 * pages);
}

QTEST_MAIN(PagedSearchTest)
#include "test_paged_search.moc"
