// The container browser: its rules for a clicked entry, its base, legend and
// keyboard use, and the main window's context button that opens it.
#include "ndk/ndk_u.h"
#include "nwcontrols/NWBrowseLib_TLB.h"
#include "platform/text.h"
#include "support/form_fixture.h"
#include "support/live_window.h"
#include "support/modal.h"
#include "support/window_test.h"
#include "ui/OUBrowser_U.h"
#include "ui/picture_button.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

namespace {

class Clicked final : public automation::Dispatch {
public:
    explicit Clicked(QString name) : m_name(std::move(name)) {}
    QVariant invoke(automation::DispId, automation::InvokeKind, const QVariantList &) override { return m_name; }

private:
    QString m_name;
};

void click(TouBrowser &browser, const QString &fullName)
{
    browser.NWBrowse1EntryClicked(browser.NWBrowse1.get(), NWBrowseLib_TLB::INWNetworkName(std::make_shared<Clicked>(fullName)));
}

// Shows the browser modally and cancels it as soon as it has filled its view.
int showAndCancel(TouBrowser &browser)
{
    const modal::Answer cancel([](QWidget *w) { QTimer::singleShot(0, w, [w] { static_cast<TouBrowser *>(w)->reject(); }); });
    const int result = browser.exec();
    if (!cancel.done())
        qWarning("the browser was not shown");
    return result;
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

class BrowserTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void decisionTable_data();
    void decisionTable();
    void rootToken_andEmptyBase();
    void expandModeAndLegend();
    void enterAtOnceCancels();
    void textsFitAndEveryControlIsNamed();
    void contextButton_rootCancelAndSameContext();
    void expander_onlyWhereContainersAreBelow_data();
    void expander_onlyWhereContainersAreBelow();
};

void BrowserTest::decisionTable_data()
{
    QTest::addColumn<QString>("selectable");
    QTest::addColumn<bool>("allowBase");
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("accepted");
    const QString ou = QStringLiteral("NDS:\\\\TREE\\O\\Abi05a");
    QTest::newRow("selectable rule fails") << "Organization" << true << ou << "Organizational Unit" << false;
    QTest::newRow("base allowed: base accepted") << "" << true << "NDS:\\\\TREE" << "Top" << true;
    QTest::newRow("base refused, any letter case") << "" << false << "nds:\\\\tree" << "Organization" << false;
    QTest::newRow("Top refused") << "" << false << ou << "TOP" << false;
    QTest::newRow("accepted") << "" << false << ou << "Organizational Unit" << true;
    QTest::newRow("base refused even when selectable") << "Top" << false << "NDS:\\\\TREE" << "Top" << false;
    QTest::newRow("substring rule: Unit passes") << "Organizational Unit" << false << ou << "Unit" << true;
    QTest::newRow("empty class passes") << "Organizational Unit" << false << ou << "" << true;
    QTest::newRow("selectable in small letters") << "organizational unit" << false << ou << "Organizational Unit" << true;
}

void BrowserTest::decisionTable()
{
    QFETCH(QString, selectable);
    QFETCH(bool, allowBase);
    QFETCH(QString, clicked);
    QFETCH(QString, className);
    QFETCH(bool, accepted);
    FormFixture f;
    f.fakes.directory->classes.insert(clicked, className);
    TouBrowser browser(f.form.get());
    browser.FBase = QStringLiteral("NDS:\\\\TREE");
    browser.FSelectable = selectable;
    browser.FAllowBase = allowBase;
    click(browser, QStringLiteral("NDS:\\\\TREE\\O\\Abi05a")); // an accepted click first
    click(browser, clicked);
    QCOMPARE(browser.OKBtn->isEnabled(), accepted);
    QCOMPARE(browser.FSelection, accepted ? clicked : QString());
    QCOMPARE(browser.edAuswahl->text(), NDK->ToDottedName(platform::upperAscii(clicked)));
    QCOMPARE(f.fakes.directory->fullName, clicked); // the look-up moved the directory control
}

void BrowserTest::rootToken_andEmptyBase()
{
    FormFixture f;
    for (const char *token : {"[ROOT]", "[root]", "[Root]"}) {
        TouBrowser browser(f.form.get());
        browser.FBase = QString::fromLatin1(token);
        showAndCancel(browser);
        QCOMPARE(browser.FBase, QStringLiteral("NDS:\\\\TREE"));
    }
    TouBrowser blank(f.form.get());
    blank.FBase = QStringLiteral("[Root] ");
    showAndCancel(blank);
    QCOMPARE(blank.FBase, QStringLiteral("[Root] "));
    QCOMPARE(messages().size(), 0);

    TouBrowser empty(f.form.get());
    QCOMPARE(empty.exec(), 2);
    QCOMPARE(messages(), QStringList{"Fehler: Base nicht gewählt."});
}

void BrowserTest::expandModeAndLegend()
{
    FormFixture f;
    TouBrowser browser(f.form.get());
    QCOMPARE(browser.FExpandMode, 0);
    QVERIFY(browser.FAllowBase);
    QVERIFY(!browser.OKBtn->isEnabled());
    browser.SetExpandMode(2);
    QCOMPARE(browser.FExpandMode, 2);
    browser.SetExpandMode(3);
    QCOMPARE(browser.FExpandMode, 0);
    browser.SetExpandMode(-1);
    QCOMPARE(browser.FExpandMode, 0);

    browser.SetLegendImage(1, QStringLiteral("Organization"));
    browser.SetLegendImage(2, QStringLiteral("Unbekannt"));
    QCOMPARE(browser.Image1->pixmap().toImage(), NDK->ImageList.at(4).toImage());
    QCOMPARE(browser.Image2->pixmap().toImage(), NDK->ImageList.at(0).toImage());
    QCOMPARE(browser.Image1->accessibleName(), QStringLiteral("Organisation"));
    const QImage before = browser.Image1->pixmap().toImage();
    browser.SetLegendImage(0, QStringLiteral("User"));
    browser.SetLegendImage(3, QStringLiteral("User"));
    QCOMPARE(browser.Image1->pixmap().toImage(), before);
    browser.SetHint(QStringLiteral("<b>Hinweis</b>"));
    QCOMPARE(browser.LaHinweis->text(), QStringLiteral("<b>Hinweis</b>"));
    QCOMPARE(browser.LaHinweis->textFormat(), Qt::PlainText);
}

void BrowserTest::enterAtOnceCancels()
{
    FormFixture f;
    TouBrowser browser(f.form.get());
    browser.FBase = QStringLiteral("[Root]");
    QWidget *focus = nullptr;
    const modal::Answer enter([&](QWidget *w) {
        focus = w->focusWidget();
        QTest::keyClick(w->focusWidget(), Qt::Key_Return);
    });
    QCOMPARE(browser.exec(), 2);
    QVERIFY(enter.done());
    QCOMPARE(focus, browser.CancelBtn);
}

void BrowserTest::textsFitAndEveryControlIsNamed()
{
    FormFixture f;
    TouBrowser browser(f.form.get());
    checks::textsFit(&browser);
    checks::accessible(&browser);
}

void BrowserTest::contextButton_rootCancelAndSameContext()
{
    FormFixture f;
    TForm1 &w = *f.form;
    // A browser that delivers the tree root gives "[Root] (TREE)".
    const modal::Answer root([](QWidget *window) {
        auto *browser = static_cast<TouBrowser *>(window);
        QCOMPARE(browser->windowTitle(), QStringLiteral("Startkontext wählen"));
        QCOMPARE(browser->FFilter, QStringLiteral("Organizational Unit,Organization,Top"));
        QVERIFY(!browser->FAllowBase);
        QCOMPARE(browser->FExpandMode, 1);
        browser->FSelection = QStringLiteral("NDS:\\\\TREE");
        browser->done(1);
    });
    w.BuContext->click();
    QVERIFY(root.done());
    QCOMPARE(w.EdContext->text(), QStringLiteral("[Root] (TREE)"));
    QVERIFY(w.buAusfuehren->isEnabled());
    QVERIFY(!ouBrowser);

    // Cancelling changes nothing.
    const modal::Answer esc([](QWidget *window) { QTest::keyClick(window, Qt::Key_Escape); });
    w.BuContext->click();
    QVERIFY(esc.done());
    QCOMPARE(w.EdContext->text(), QStringLiteral("[Root] (TREE)"));
    QCOMPARE(w.FStartContext, QStringLiteral("NDS:\\\\TREE"));

    // The same context again fires no text change.
    int changes = 0;
    connect(w.EdContext, &QLineEdit::textChanged, this, [&] { ++changes; });
    const modal::Answer same([](QWidget *window) {
        static_cast<TouBrowser *>(window)->FSelection = QStringLiteral("NDS:\\\\TREE");
        static_cast<TouBrowser *>(window)->done(1);
    });
    w.BuContext->click();
    QVERIFY(same.done());
    QCOMPARE(changes, 0);
}

void BrowserTest::expander_onlyWhereContainersAreBelow_data()
{
    QTest::addColumn<QStringList>("path"); // from the tree root down, each step expanded but the last
    QTest::addColumn<bool>("expander");
    QTest::newRow("an organization with units") << QStringList{"Gym"} << true;
    QTest::newRow("a class with a unit below") << QStringList{"Gym", "Abi05a"} << true;
    QTest::newRow("a unit of users and groups only") << QStringList{"Gym", "Lehrer"} << false;
    QTest::newRow("a class of users only") << QStringList{"Gym", "Abi05a", "Abi04x"} << false;
}

void BrowserTest::expander_onlyWhereContainersAreBelow()
{
    QFETCH(QStringList, path);
    QFETCH(bool, expander);
    LiveWindow live("8a;Abi05a\n");
    bool shown = false;
    const modal::Answer browse([&](QWidget *w) {
        const auto close = qScopeGuard([w] { static_cast<TouBrowser *>(w)->reject(); });
        auto *view = w->findChild<QTreeView *>();
        QTRY_COMPARE(view->model()->rowCount(), 1);
        QModelIndex entry = view->model()->index(0, 0);
        for (const QString &name : std::as_const(path)) {
            view->expand(entry);
            entry = childNamed(view->model(), entry, name);
            QVERIFY(entry.isValid());
        }
        QCOMPARE(view->model()->hasChildren(entry), expander);
        shown = true;
    });
    live.form->BuContext->click();
    QVERIFY(browse.done());
    QVERIFY(shown);
}

QTEST_MAIN(BrowserTest)
#include "test_browser.moc"
