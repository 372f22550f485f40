// The directory facade over fake controls: tree choice, tree root, search.
#include "ndk/ndk_u.h"
#include "ndk/treeSelect_u.h"
#include "platform/error.h"
#include "support/fakes.h"
#include "support/message_capture.h"
#include "support/modal.h"

#include <QComboBox>
#include <QPushButton>
#include <QtTest>

class NdkTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void oneTree_noDialog();
    void noTree_errorBoxAndRootDerivedLater();
    void threeTrees_dialogListsInOrder_okTakesFirst();
    void threeTrees_closeBoxTakesShownTree();
    void threeTrees_typedNameIsTaken();
    void failingSession_errorBoxConstructionCompletes();
    void treeRoot_derivesAndCaches();
    void search_argumentsRootAndScope();
    void search_completionAppendsDottedHitsSkipsEmpty();
    void search_earlyCompletion_returnsAfterOnePass();
    void search_failures_raiseAndClearState();
    void strayCompletion_touchesNoList();
    void setAttribute_andGetEntryClass();

private:
    fakes::Installed m_fakes;
    std::optional<MessageCapture> m_boxes;
};

void NdkTest::init()
{
    m_fakes = fakes::install({QStringLiteral("NDS:\\\\TREE")});
    m_boxes.emplace();
}

void NdkTest::cleanup()
{
    m_boxes.reset();
    QVERIFY(QApplication::topLevelWidgets().isEmpty() || !QApplication::activeModalWidget());
}

void NdkTest::oneTree_noDialog()
{
    TNDK ndk(nullptr);
    QCOMPARE(m_fakes.directory->fullName, QStringLiteral("NDS:\\\\TREE"));
    QCOMPARE(ndk.FTreeRoot, QStringLiteral("NDS:\\\\TREE"));
    QCOMPARE(ndk.FScope, 2);
    QCOMPARE(ndk.ImageList.size(), 10);
    QVERIFY(m_boxes->texts().isEmpty());
}

void NdkTest::noTree_errorBoxAndRootDerivedLater()
{
    m_fakes.session->trees.clear();
    m_fakes.directory->fullName = QStringLiteral("NDS:\\\\ALT\\O\\OU");
    TNDK ndk(nullptr);
    QCOMPARE(m_boxes->texts(), QStringList{"Kein Baum mit der Nummer 0."});
    QCOMPARE(ndk.FTreeRoot, QString());
    QCOMPARE(ndk.TreeRoot(), QStringLiteral("NDS:\\\\ALT"));
}

static QString chooseWith(const std::function<void(TTreeSelect *)> &act)
{
    QStringList listed;
    const modal::Answer answer([&](QWidget *window) {
        auto *dialog = qobject_cast<TTreeSelect *>(window);
        QVERIFY(dialog);
        for (int i = 0; i < dialog->ComboBox1->count(); ++i)
            listed.append(dialog->ComboBox1->itemText(i));
        QCOMPARE(dialog->ComboBox1->currentText(), listed.value(0));
        act(dialog);
    });
    TNDK ndk(nullptr);
    if (!answer.done())
        return QStringLiteral("no tree choice shown");
    if (listed != QStringList{"NDS:\\\\A", "NDS:\\\\B", "NDS:\\\\C"})
        return QStringLiteral("listed: ") + listed.join(QLatin1Char(','));
    return ndk.TreeRoot();
}

void NdkTest::threeTrees_dialogListsInOrder_okTakesFirst()
{
    m_fakes.session->trees = {QStringLiteral("NDS:\\\\A"), QStringLiteral("NDS:\\\\B"), QStringLiteral("NDS:\\\\C")};
    QCOMPARE(chooseWith([](TTreeSelect *d) { d->Button1->click(); }), QStringLiteral("NDS:\\\\A"));
    QCOMPARE(m_fakes.directory->fullName, QStringLiteral("NDS:\\\\A"));
}

void NdkTest::threeTrees_closeBoxTakesShownTree()
{
    m_fakes.session->trees = {QStringLiteral("NDS:\\\\A"), QStringLiteral("NDS:\\\\B"), QStringLiteral("NDS:\\\\C")};
    QCOMPARE(chooseWith([](TTreeSelect *d) {
                 d->ComboBox1->setCurrentIndex(1);
                 d->close();
             }),
             QStringLiteral("NDS:\\\\B"));
}

void NdkTest::threeTrees_typedNameIsTaken()
{
    m_fakes.session->trees = {QStringLiteral("NDS:\\\\A"), QStringLiteral("NDS:\\\\B"), QStringLiteral("NDS:\\\\C")};
    QCOMPARE(chooseWith([](TTreeSelect *d) {
                 d->ComboBox1->setEditText(QStringLiteral("NDS:\\\\GETIPPT"));
                 QTest::keyClick(d, Qt::Key_Escape);
             }),
             QStringLiteral("NDS:\\\\GETIPPT"));
}

void NdkTest::failingSession_errorBoxConstructionCompletes()
{
    m_fakes.session->fail = true;
    m_fakes.directory->fullName = QStringLiteral("NDS:\\\\DESIGN\\O");
    TNDK ndk(nullptr);
    QCOMPARE(m_boxes->texts(), QStringList{"Sitzung nicht verfügbar."});
    QCOMPARE(ndk.FScope, 2);
    QVERIFY(ndk.FDottedResults);
    QCOMPARE(ndk.TreeRoot(), QStringLiteral("NDS:\\\\DESIGN"));
}

void NdkTest::treeRoot_derivesAndCaches()
{
    TNDK ndk(nullptr);
    ndk.FTreeRoot.clear();
    m_fakes.directory->fullName = QStringLiteral("NDS:\\\\TREE\\O\\OU\\CN");
    QCOMPARE(ndk.TreeRoot(), QStringLiteral("NDS:\\\\TREE"));
    m_fakes.directory->fullName = QStringLiteral("NDS:\\\\OTHER");
    QCOMPARE(ndk.TreeRoot(), QStringLiteral("NDS:\\\\TREE"));
    ndk.FTreeRoot.clear();
    m_fakes.directory->fullName.clear();
    QCOMPARE(ndk.TreeRoot(), QString());
    m_fakes.directory->fullName = QStringLiteral("NDS:\\\\LATER");
    QCOMPARE(ndk.TreeRoot(), QStringLiteral("NDS:\\\\LATER"));
}

void NdkTest::search_argumentsRootAndScope()
{
    TNDK ndk(nullptr);
    TStringList list;
    ndk.SearchObjects(QStringLiteral("[rOOt]"), QString(), QStringLiteral("User"), list);
    ndk.SetSubtreeSearch(false);
    ndk.SearchObjects(QStringLiteral("NDS:\\\\TREE\\O"), QStringLiteral("x"), QStringLiteral("Group"), list);
    ndk.SetSubtreeSearch(true);
    ndk.SearchObjects(QStringLiteral("[Root] "), QString(), QStringLiteral("User"), list);
    const auto &calls = m_fakes.directory->searches;
    QCOMPARE(calls.size(), 3);
    QCOMPARE(calls[0], (QVariantList{QString(), QStringLiteral("User"), 2, QStringLiteral("NDS:\\\\TREE"), 0}));
    QCOMPARE(calls[0][2].metaType(), QMetaType::fromType<qint32>());
    QCOMPARE(calls[1], (QVariantList{QStringLiteral("x"), QStringLiteral("Group"), 1, QStringLiteral("NDS:\\\\TREE\\O"), 0}));
    QCOMPARE(calls[2][2].toInt(), 2);
    QCOMPARE(calls[2][3].toString(), QStringLiteral("[Root] "));
}

void NdkTest::search_completionAppendsDottedHitsSkipsEmpty()
{
    TNDK ndk(nullptr);
    TStringList list;
    list.Add(QStringLiteral("eins"), nullptr);
    list.Add(QStringLiteral("zwei"), nullptr);
    m_fakes.directory->results = QVariantList{QStringLiteral("NDS:\\\\TREE\\O\\Abi05a\\mueller"), QString()};
    ndk.SearchObjects(QStringLiteral("[Root]"), QString(), QStringLiteral("User"), list);
    QCOMPARE(list.Count(), 3);
    QCOMPARE(list.Text(0), QStringLiteral("eins"));
    QCOMPARE(list.Text(2), QStringLiteral("mueller.Abi05a.O"));
    QCOMPARE(list.Object(2)->FFullName, QStringLiteral("NDS:\\\\TREE\\O\\Abi05a\\mueller"));
    QVERIFY(!ndk.FSearching);

    m_fakes.directory->results = QVariantList();
    ndk.SearchObjects(QStringLiteral("[Root]"), QString(), QStringLiteral("User"), list);
    QCOMPARE(list.Count(), 3);

    ndk.FDottedResults = false; // one search with full names
    m_fakes.directory->results = QVariantList{QStringLiteral("NDS:\\\\TREE\\O\\x")};
    ndk.SearchObjects(QStringLiteral("[Root]"), QString(), QStringLiteral("User"), list);
    QCOMPARE(list.Text(3), QStringLiteral("NDS:\\\\TREE\\O\\x"));
    QVERIFY(ndk.FDottedResults);
}

void NdkTest::search_earlyCompletion_returnsAfterOnePass()
{
    TNDK ndk(nullptr);
    TStringList list;
    m_fakes.directory->fireDuringCall = true;
    m_fakes.directory->results = QVariantList{QStringLiteral("NDS:\\\\TREE\\O\\a")};
    ndk.SearchObjects(QStringLiteral("[Root]"), QString(), QStringLiteral("User"), list);
    QCOMPARE(list.Count(), 1);
}

void NdkTest::search_failures_raiseAndClearState()
{
    TNDK ndk(nullptr);
    TStringList list;
    m_fakes.directory->failSearch = true;
    QVERIFY_THROWS_EXCEPTION(platform::Error, ndk.SearchObjects(QStringLiteral("[Root]"), QString(), QStringLiteral("User"), list));
    QVERIFY(!ndk.FSearching);
    QCOMPARE(ndk.FResultList, nullptr);

    m_fakes.directory->failSearch = false;
    m_fakes.directory->results = QVariantList{QStringLiteral("NDS:\\\\TREE\\O\\a"), QVariant::fromValue(QSize(1, 1))};
    QVERIFY_THROWS_EXCEPTION(platform::Error, ndk.SearchObjects(QStringLiteral("[Root]"), QString(), QStringLiteral("User"), list));
    QCOMPARE(list.Count(), 1); // what came before the bad element stays
    m_fakes.directory->results = QStringLiteral("keine Liste");
    QVERIFY_THROWS_EXCEPTION(platform::Error, ndk.SearchObjects(QStringLiteral("[Root]"), QString(), QStringLiteral("User"), list));
    QVERIFY(!ndk.FSearching);
    QVERIFY(m_boxes->texts().isEmpty()); // the caller shows the error, once
}

void NdkTest::strayCompletion_touchesNoList()
{
    TNDK ndk(nullptr);
    {
        TStringList released;
        ndk.SearchObjects(QStringLiteral("[Root]"), QString(), QStringLiteral("User"), released);
    }
    m_fakes.directory->completeWith(QVariantList{QStringLiteral("NDS:\\\\TREE\\O\\spät")});
    QCoreApplication::processEvents(); // must not write into the released list (ASan checks)
    QVERIFY(!ndk.FSearching);
}

void NdkTest::setAttribute_andGetEntryClass()
{
    TNDK ndk(nullptr);
    m_fakes.directory->classes.insert(QStringLiteral("NDS:\\\\TREE\\O\\Abi05a"), QStringLiteral("Organizational Unit"));
    QCOMPARE(ndk.GetEntryClass(QStringLiteral("NDS:\\\\TREE\\O\\Abi05a")), QStringLiteral("Organizational Unit"));
    QCOMPARE(m_fakes.directory->fullName, QStringLiteral("NDS:\\\\TREE\\O\\Abi05a"));
    ndk.SetAttribute(QStringLiteral("NDS:\\\\TREE\\O\\Abi05a\\m"), QStringLiteral("OU"), QString());
    QCOMPARE(m_fakes.directory->stores, (QList<QStringList>{{"NDS:\\\\TREE\\O\\Abi05a\\m", "OU", ""}}));
    QCOMPARE(m_fakes.directory->fullName, QStringLiteral("NDS:\\\\TREE\\O\\Abi05a\\m"));
}

QTEST_MAIN(NdkTest)
#include "test_ndk.moc"
