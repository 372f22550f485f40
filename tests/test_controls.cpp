// The controls' contract: member ids, argument order, events only through the
// message pump, errors raised; over a real directory client.
#include "automation/control_registry.h"
#include "directory/client.h"
#include "directory/embedded/ldif_tree.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/NWSessLib_TLB.h"
#include "nwcontrols/register_controls.h"
#include "platform/error.h"
#include "support/ldif_fixture.h"

#include <QtTest>

using automation::InvokeKind;

class ControlsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void session_listsAttachedTreesByIndex();
    void directory_entryClassAndStore();
    void directory_searchCompletesOnlyThroughMessagePump();
    void directory_searchOfMissingContext_raisesAtOnce();
    void directory_refusedStore_raises();
    void directory_entriesFollowFilters();
    void unknownMember_raises();
    void unregisteredClass_raisesNamingIt();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<directory::Client> m_client;
};

void ControlsTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    fixture::write(*m_dir, fixture::kSchool, QStringLiteral("a.ldif"));
    fixture::write(*m_dir, "[SCHULE]\nldif=a.ldif\n[ZWEITER]\nldif=a.ldif\n", QStringLiteral("c.ini"));
    qputenv("DIRCLIENT_CONFIG", m_dir->filePath(QStringLiteral("c.ini")).toUtf8());
    m_client = std::make_unique<directory::Client>();
    nwcontrols::registerControls(*m_client);
}

void ControlsTest::cleanup()
{
    m_client.reset();
    m_dir.reset();
    qunsetenv("DIRCLIENT_CONFIG");
}

void ControlsTest::session_listsAttachedTreesByIndex()
{
    TNWSess session;
    const auto trees = session.AttachedTrees();
    QCOMPARE(trees.Count(), 2);
    QCOMPARE(trees.Item(0).FullName(), QStringLiteral("NDS:\\\\SCHULE"));
    QCOMPARE(trees.Item(1).FullName(), QStringLiteral("NDS:\\\\ZWEITER"));
    QVERIFY_THROWS_EXCEPTION(platform::Error, trees.Item(2));
}

void ControlsTest::directory_entryClassAndStore()
{
    TNWDir dir;
    const QString anna = QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\Schmidt, Anna");
    dir.SetFullName(anna);
    QCOMPARE(dir.FullName(), anna);
    auto entry = dir.Entry();
    QCOMPARE(entry.Class().Name(), QStringLiteral("User"));
    QVERIFY(entry.SetValue(QStringLiteral("OU"), QStringLiteral("8a")));
    // Nothing is written before the store.
    auto &tree = static_cast<directory::LdifTree &>(m_client->tree(QStringLiteral("SCHULE")));
    QCOMPARE(tree.values(anna, QStringLiteral("ou")), QStringList{"alt"});
    QVERIFY(entry.Update());
    QCOMPARE(tree.values(anna, QStringLiteral("ou")), QStringList{"8a"});

    dir.SetFullName(QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a"));
    QCOMPARE(dir.Entry().Class().Name(), QStringLiteral("Organizational Unit"));
    dir.SetFullName(QStringLiteral("NDS:\\\\SCHULE\\Gym\\Nix"));
    QVERIFY_THROWS_EXCEPTION(platform::Error, dir.Entry().Class());
}

void ControlsTest::directory_searchCompletesOnlyThroughMessagePump()
{
    TNWDir dir;
    QVariant results;
    int events = 0;
    dir.OnSearchCompleted = [&](TNWDir *sender, const QVariant &value) {
        QCOMPARE(sender, &dir);
        results = value;
        ++events;
    };
    dir.Search(QString(), QStringLiteral("User"), 1, QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a"), 0);
    QCOMPARE(events, 0);
    QCoreApplication::processEvents();
    QCOMPARE(events, 1);
    QCOMPARE(results.toList(), (QVariantList{QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\mueller"),
                                             QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\Schmidt, Anna")}));
    // Scope 2 is the whole subtree.
    dir.Search(QString(), QStringLiteral("User"), 2, QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a"), 0);
    QCoreApplication::processEvents();
    QCOMPARE(results.toList().size(), 3);
    QVERIFY_THROWS_EXCEPTION(platform::Error, dir.Search(QString(), QStringLiteral("User"), 0, QStringLiteral("NDS:\\\\SCHULE"), 0));
}

void ControlsTest::directory_searchOfMissingContext_raisesAtOnce()
{
    TNWDir dir;
    int events = 0;
    dir.OnSearchCompleted = [&](TNWDir *, const QVariant &) { ++events; };
    QVERIFY_THROWS_EXCEPTION(platform::Error, dir.Search(QString(), QStringLiteral("User"), 2, QStringLiteral("NDS:\\\\SCHULE\\Nix"), 0));
    QVERIFY_THROWS_EXCEPTION(platform::Error, dir.Search(QString(), QStringLiteral("User"), 2, QStringLiteral("NDS:\\\\DREI"), 0));
    QCoreApplication::processEvents();
    QCOMPARE(events, 0);
}

void ControlsTest::directory_refusedStore_raises()
{
    TNWDir dir;
    auto &tree = static_cast<directory::LdifTree &>(m_client->tree(QStringLiteral("SCHULE")));
    QVERIFY(QDir().mkpath(tree.journalPath()));
    dir.SetFullName(QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\mueller"));
    auto entry = dir.Entry();
    entry.SetValue(QStringLiteral("OU"), QStringLiteral("8a"));
    QVERIFY_THROWS_EXCEPTION(platform::Error, entry.Update());
}

void ControlsTest::directory_entriesFollowFilters()
{
    TNWDir dir;
    dir.SetFullName(QStringLiteral("NDS:\\\\SCHULE\\Gym"));
    dir.SetFilters(QStringLiteral("Organizational Unit,Organization,Top"));
    const QVariantList entries =
        dir.ControlInterface()->invoke(NWDirLib_TLB::dispid::DNWDir::Entries, InvokeKind::PropertyGet).toList();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).toList(), (QVariantList{QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a"), QStringLiteral("Organizational Unit")}));
}

void ControlsTest::unknownMember_raises()
{
    TNWDir dir;
    QVERIFY_THROWS_EXCEPTION(platform::Error, dir.ControlInterface()->invoke(77, InvokeKind::Method));
    QVERIFY_THROWS_EXCEPTION(platform::Error, dir.ControlInterface()->invoke(NWDirLib_TLB::dispid::DNWDir::Search, InvokeKind::Method, {}));
}

void ControlsTest::unregisteredClass_raisesNamingIt()
{
    automation::ControlRegistry::instance().unregisterClass(NWSessLib_TLB::CLASS_NWSess);
    try {
        TNWSess session;
        QFAIL("no error");
    } catch (const platform::Error &e) {
        QVERIFY(e.message().contains(NWSessLib_TLB::CLASS_NWSess));
    }
}

QTEST_GUILESS_MAIN(ControlsTest)
#include "test_controls.moc"
