// What a search found, kept compactly: every object reads back as it went in.
#include "directory/found.h"

#include <QtTest>

using directory::Found;
using directory::FoundObject;

Q_DECLARE_METATYPE(FoundObject)

namespace directory {
static bool operator==(const FoundObject &a, const FoundObject &b)
{
    return a.fullName == b.fullName && a.dn == b.dn && a.values == b.values && a.identity == b.identity;
}
} // namespace directory

namespace {
// Adds objects as a search does: each container's full name once, then each
// object by its own name.
struct Adder {
    Found found;
    QHash<QString, qsizetype> containers;

    void add(const FoundObject &object)
    {
        const qsizetype cut = object.fullName.lastIndexOf(QLatin1Char('\\'));
        qsizetype container = Found::kNoContainer;
        if (cut >= 0) {
            const QString name = object.fullName.first(cut);
            container = containers.contains(name) ? containers.value(name) : containers[name] = found.addContainer(name);
        }
        found.append(container, object.fullName.sliced(cut + 1).toUtf8(), object.dn.toUtf8(), object.identity.toUtf8());
        for (const QString &value : object.values)
            found.appendValue(value.toUtf8());
    }
};
} // namespace

class FoundTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void object_readsBackAsAdded_data();
    void object_readsBackAsAdded();
    void manyObjects_acrossChunksAndContainers();
};

void FoundTest::object_readsBackAsAdded_data()
{
    QTest::addColumn<FoundObject>("object");
    QTest::newRow("name spelled by the DN") << FoundObject{"NDS:\\\\T\\Gym\\K1\\Schüler 1", "cn=Schüler 1,ou=K1,o=Gym", {"8a"}};
    QTest::newRow("name the DN escapes") << FoundObject{"NDS:\\\\T\\Gym\\a,b+c", "cn=a\\,b\\+c,o=Gym", {}};
    QTest::newRow("name longer than the DN's value") << FoundObject{"NDS:\\\\T\\Gym\\abc", "cn=ab", {}};
    QTest::newRow("DN without =") << FoundObject{"NDS:\\\\T\\x", "", {}};
    QTest::newRow("values empty, repeated, Unicode") << FoundObject{"NDS:\\\\T\\u", "uid=u", {"", "Łukasz", "", "Łukasz"}};
    QTest::newRow("tree root") << FoundObject{"NDS:\\\\T", "dc=schule,dc=test", {"x"}};
    QTest::newRow("no container") << FoundObject{"Einzeln", "o=Einzeln", {}};
    QTest::newRow("empty own name") << FoundObject{"NDS:\\\\T\\", "cn=", {}};
    QTest::newRow("long value") << FoundObject{"NDS:\\\\T\\v", "cn=v", {QString(70000, QLatin1Char('x'))}};
    QTest::newRow("with its identity") << FoundObject{"NDS:\\\\T\\i", "cn=i", {"8a"}, "entryUUID=0b8c-1"};
}

void FoundTest::object_readsBackAsAdded()
{
    QFETCH(FoundObject, object);
    Adder adder;
    adder.add(object);
    QCOMPARE(adder.found.size(), 1);
    QVERIFY(adder.found.at(0) == object);
}

void FoundTest::manyObjects_acrossChunksAndContainers()
{
    QList<FoundObject> objects;
    Adder adder;
    const Found &found = adder.found;
    for (int i = 0; i < 2500; ++i) {
        const QString unit = QStringLiteral("K%1").arg(i % 7 == 0 ? i : i / 100);
        objects.append({QStringLiteral("NDS:\\\\T\\%1\\s%2").arg(unit).arg(i), QStringLiteral("cn=s%1,ou=%2").arg(i).arg(unit),
                        QStringList(i % 3, QString::number(i))});
        adder.add(objects.last());
    }
    QCOMPARE(found.size(), objects.size());
    qsizetype read = 0;
    for (const FoundObject &object : found)
        QVERIFY(object == objects.at(read++));
    QCOMPARE(read, objects.size());
}

QTEST_GUILESS_MAIN(FoundTest)
#include "test_found.moc"
