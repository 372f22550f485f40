// What a screen reader hears: German names and descriptions (class names
// too), the tree choice's label, the main window's role, and why the forms
// are greyed. The browser's tree model is checked on the way.
#include "ndk/treeSelect_u.h"
#include "support/form_fixture.h"
#include "support/live_window.h"
#include "support/modal.h"
#include "support/window_test.h"
#include "ui/OUBrowser_U.h"
#include "ui/accessible_roles.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/status_bar.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTreeView>
#include <QtTest>

namespace {

// Every name and description below `face`, as "name | description".
QStringList heard(QAccessibleInterface *face)
{
    QStringList texts{face->text(QAccessible::Name) + QStringLiteral(" | ") + face->text(QAccessible::Description)};
    for (int i = 0; i < face->childCount(); ++i) {
        if (QAccessibleInterface *child = face->child(i))
            texts += heard(child);
    }
    return texts;
}

QModelIndex childNamed(const QAbstractItemModel *model, const QModelIndex &parent, const QString &name)
{
    for (int r = 0; r < model->rowCount(parent); ++r) {
        if (model->index(r, 0, parent).data().toString() == name)
            return model->index(r, 0, parent);
    }
    return {};
}

} // namespace

class AccessibilityTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void mainWindow_isAWindow_greyedFormsSayWhy();
    void treeChoice_comboBoxIsLabelled();
    void browser_saysClassesInGerman();
    void runLog_newsByName_focusOnlyWhereTheKeyboardIs();
};

void AccessibilityTest::initTestCase()
{
    WindowTest::initTestCase();
    ui::installAccessibleRoles();
}

void AccessibilityTest::mainWindow_isAWindow_greyedFormsSayWhy()
{
    FormFixture f; // no class list
    QCOMPARE(QAccessible::queryAccessibleInterface(f.form.get())->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(f.form->StatusBar1)->role(), QAccessible::StatusBar);
    QAccessibleInterface *forms = QAccessible::queryAccessibleInterface(f.form->raForm);
    QVERIFY(!forms->state().disabled == f.form->raForm->isEnabled());
    QVERIFY(forms->text(QAccessible::Description).startsWith(QStringLiteral("Keine Klassenliste gefunden.")));
    QCOMPARE(forms->text(QAccessible::Description), f.form->raForm->toolTip());
}

void AccessibilityTest::treeChoice_comboBoxIsLabelled()
{
    TTreeSelect choice(nullptr);
    choice.ComboBox1->addItem(QStringLiteral("NDS:\\\\SCHULE"));
    QAccessibleInterface *combo = QAccessible::queryAccessibleInterface(choice.ComboBox1);
    QStringList labels;
    for (const auto &[label, relation] : combo->relations(QAccessible::Label))
        labels.append(label->text(QAccessible::Name));
    QCOMPARE(labels, QStringList{"gewählter Baum"});
    // The editor is what has the focus while a name is typed.
    QCOMPARE(QAccessible::queryAccessibleInterface(choice.ComboBox1->lineEdit())->text(QAccessible::Name),
             QStringLiteral("gewählter Baum"));
}

void AccessibilityTest::browser_saysClassesInGerman()
{
    LiveWindow live("8a;Abi05a\n");
    QStringList texts;
    QString classOfAbi05a;
    const modal::Answer browse([&](QWidget *w) {
        auto *view = w->findChild<QTreeView *>();
        QTRY_COMPARE(view->model()->rowCount(), 1);
        const QAbstractItemModelTester tester(view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QModelIndex gym = childNamed(view->model(), view->model()->index(0, 0), QStringLiteral("Gym"));
        view->expand(gym);
        classOfAbi05a = childNamed(view->model(), gym, QStringLiteral("Abi05a")).data(Qt::AccessibleDescriptionRole).toString();
        texts = heard(QAccessible::queryAccessibleInterface(w));
        static_cast<TouBrowser *>(w)->reject();
    });
    live.form->BuContext->click();
    QVERIFY(browse.done());
    QCOMPARE(classOfAbi05a, QStringLiteral("Organisatorische Einheit"));
    QVERIFY(texts.contains(QStringLiteral("Organisation | ")));
    QVERIFY(texts.contains(QStringLiteral("Organisatorische Einheit | ")));
    const QRegularExpression english(QStringLiteral("\\b(Organization|Organizational|Unit|User|Group|Top|Root|Template|Volume)\\b"));
    for (const QString &text : texts)
        QVERIFY2(!english.match(text).hasMatch(), qPrintable(text));
}

void AccessibilityTest::runLog_newsByName_focusOnlyWhereTheKeyboardIs()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    f.form->ChSub->setFocus();
    ui::LogList &log = *f.form->ListBox1;
    QVariantList users;
    for (int i = 1; i <= 8; ++i)
        users.append(QStringLiteral("NDS:\\\\TREE\\Gym\\Abi05a\\u%1").arg(i));
    f.fakes.directory->results = users;
    f.run();
    QVERIFY(log.count() > 8);

    // The run left the keyboard, and so the reader's focus, where it was.
    QVERIFY(f.form->ChSub->hasFocus());
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(&log);
    for (int row = 0; row < log.count(); ++row)
        QVERIFY(!face->child(row)->state().focused);
    // The list's name carries the newest line: a live region's news.
    QCOMPARE(face->text(QAccessible::Name), QStringLiteral("Protokoll: ") + log.line(log.count() - 1));

    log.setFocus();
    QTest::keyClick(&log, Qt::Key_Home);
    QVERIFY(face->child(0)->state().focused);
    QVERIFY(!face->child(1)->state().focused);
}

QTEST_MAIN(AccessibilityTest)
#include "test_accessibility.moc"
