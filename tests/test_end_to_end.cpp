// Whole jobs through the real windows on an embedded tree: choose, consent,
// confirm, run; refusals, cancel and closing during a run; a write error; a
// tree name typed into the tree choice; and the whole job from the keyboard.
#include "directory/client.h"
#include "ndk/treeSelect_u.h"
#include "nwcontrols/register_controls.h"
#include "platform/message_box.h"
#include "support/form_fixture.h"
#include "support/ldif_fixture.h"
#include "support/live_window.h"
#include "support/modal.h"
#include "support/window_test.h"
#include "ui/OUBrowser_U.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/status_bar.h"

#include <QLabel>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

namespace {
const QByteArray kClassList("8a;Abi05a\n");


// Answers the consent and the confirmation with OK; `duringRun` then runs
// once the run has logged its first user.
struct RunConfirmed {
    modal::Answer confirmation;
    modal::Answer consent;
    explicit RunConfirmed(TForm1 *form = nullptr, std::function<void()> duringRun = {})
        : consent([this, form, duringRun](QWidget *w) {
              confirmation = modal::Answer([form, duringRun](QWidget *w2) {
                  w2->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
                  if (duringRun)
                      modal::when([form] { return form->ListBox1->count() >= 2; }, duringRun); // the record's line, a user
              });
              w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
          })
    {
    }
    [[nodiscard]] bool done() const { return consent.done() && confirmation.done(); }
};

QModelIndex childNamed(const QAbstractItemModel *model, const QModelIndex &parent, const QString &name)
{
    for (int r = 0; r < model->rowCount(parent); ++r) {
        if (model->index(r, 0, parent).data().toString() == name)
            return model->index(r, 0, parent);
    }
    return {};
}

// Answers the browser by clicking the entry at `path` below the root, then OK.
modal::Answer chooseInBrowser(const QString &path)
{
    return modal::Answer([path](QWidget *w) {
        auto *browser = qobject_cast<TouBrowser *>(w);
        auto *view = browser->findChild<QTreeView *>();
        QTRY_COMPARE(view->model()->rowCount(), 1); // filled by FormShow
        QModelIndex index = view->model()->index(0, 0);
        for (const QString &part : path.split(QLatin1Char('\\'))) {
            view->expand(index);
            index = childNamed(view->model(), index, part);
        }
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        QTRY_VERIFY(browser->OKBtn->isEnabled());
        browser->OKBtn->click();
    });
}

// Keys go where the administrator's would: to the focus, once a modal window
// that has just opened has it (on a loaded machine that takes a moment).
void pressOnFocus(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    if (QWidget *modal = QApplication::activeModalWidget())
        QTRY_VERIFY(QApplication::focusWidget() && QApplication::focusWidget()->window() == modal);
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}
} // namespace

class EndToEndTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void chooseConsentConfirmRun();
    void refusals_cancel_andCloseDuringRun();
    void writeError_boxAfterEndOfRunWork();
    void typedTreeName_takenAsItStands_failsOnceWhenUsed();
    void wholeJob_fromTheKeyboard();
    void treeInUse_toldOnceAtStart_browserSaysBusy_thenWorks();
};

void EndToEndTest::chooseConsentConfirmRun()
{
    LiveWindow live(kClassList);
    const modal::Answer browser = chooseInBrowser(QStringLiteral("Gym\\Abi05a"));
    live.form->BuContext->click();
    QVERIFY(browser.done());
    QCOMPARE(live.form->EdContext->text(), QStringLiteral("Abi05a.Gym"));
    QCOMPARE(live.form->FStartContext, QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a"));
    QVERIFY(live.form->buAusfuehren->isEnabled());

    live.form->raForm->setItemIndex(1);
    const RunConfirmed confirmed;
    live.form->buAusfuehren->click();
    QVERIFY(confirmed.done());
    QCOMPARE(live.ou(QStringLiteral("Gym\\Abi05a\\mueller")), QStringList{"8a"});
    QCOMPARE(live.ou(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna")), QStringList{"8a"});
    QCOMPARE(live.ou(QStringLiteral("Gym\\Abi05a\\Abi04x\\Jürgen Łodzę")), QStringList()); // one level only
    QCOMPARE(live.form->StatusBar1->panelText(0), QStringLiteral("2/2"));
    QVERIFY(messages().isEmpty());
}

void EndToEndTest::refusals_cancel_andCloseDuringRun()
{
    LiveWindow live(kClassList);
    live.form->FStartContext = QStringLiteral("NDS:\\\\SCHULE\\Gym");
    live.form->EdContext->setText(QStringLiteral("Gym"));
    live.form->ChSub->setChecked(true);

    // Consent refused: no confirmation, nothing written.
    int shown = 0;
    const modal::Answer refuse([&](QWidget *w) {
        ++shown;
        QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Return);
    });
    live.form->buAusfuehren->click();
    QVERIFY(refuse.done());
    QCOMPARE(shown, 1);
    QCOMPARE(live.form->ListBox1->count(), 0);

    // Confirmation refused.
    modal::Answer escape;
    const modal::Answer consent([&](QWidget *w) {
        escape = modal::Answer([](QWidget *w2) { QTest::keyClick(w2, Qt::Key_Escape); });
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
    });
    live.form->buAusfuehren->click();
    QVERIFY(consent.done() && escape.done());
    QCOMPARE(live.form->ListBox1->count(), 0);

    // Cancel once the first user is logged.
    const RunConfirmed cancelled(live.form.get(), [&] {
        live.form->buAusfuehren->click();
        QVERIFY(!live.form->buAusfuehren->isEnabled());
    });
    live.form->buAusfuehren->click();
    QVERIFY(cancelled.done());
    const qsizetype written = live.log().size() - 3; // the record's line and two closing lines
    QVERIFY(written >= 1 && written < 4);
    QCOMPARE(live.log().mid(written + 1), (QStringList{"***abgebrochen***", QStringLiteral("nicht versucht: %1").arg(4 - written)}));
    QCOMPARE(live.form->buAusfuehren->text(), QStringLiteral("&Ausfuehren"));

    // Closing the window during a run lets the run end first.
    const RunConfirmed closed(live.form.get(), [&] { live.form->close(); });
    live.form->buAusfuehren->click();
    QVERIFY(closed.done());
    QCOMPARE(live.lastLogLine(), QStringLiteral("eingetragen bei 4 Benutzern"));
    QVERIFY(live.form->isVisible()); // the run went on to its end
    QTRY_VERIFY(!live.form->isVisible()); // then the window closed
}

void EndToEndTest::writeError_boxAfterEndOfRunWork()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = QVariantList{QStringLiteral("NDS:\\\\TREE\\G\\Abi05a\\a"), QStringLiteral("NDS:\\\\TREE\\G\\Abi05a\\b")};
    f.fakes.directory->failStoreAt = 2;
    f.form->EdContext->setText(QStringLiteral("Abi05a.G"));
    QStringList logWhenBoxShown;
    bool enabledWhenBoxShown = false;
    m_boxes->onMessage = [&](const platform::MessageRecord &) {
        logWhenBoxShown = f.log();
        enabledWhenBoxShown = f.form->buAusfuehren->isEnabled() && f.form->buAusfuehren->text() == QStringLiteral("&Ausfuehren");
    };
    const RunConfirmed confirmed;
    f.form->buAusfuehren->click();
    QVERIFY(confirmed.done());
    QCOMPARE(messages(), QStringList{QStringLiteral("Schreiben in b.Abi05a.G verweigert.")}); // named as the log names it
    // The refused write is not counted.
    QCOMPARE(logWhenBoxShown.mid(3), (QStringList{"eingetragen bei 1 Benutzern", "abgelehnt bei 1 Benutzern"}));
    QVERIFY(enabledWhenBoxShown);
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("2/2"));
}

void EndToEndTest::typedTreeName_takenAsItStands_failsOnceWhenUsed()
{
    const modal::Answer typed([](QWidget *w) {
        auto *choice = qobject_cast<TTreeSelect *>(w);
        choice->ComboBox1->setEditText(QStringLiteral("NDS:\\\\GETIPPT"));
        choice->Button1->click();
    });
    LiveWindow live(kClassList, fixture::kSchool, "[SCHULE]\nldif=a.ldif\n[ZWEI]\nldif=a.ldif\n");
    QVERIFY(typed.done());
    QVERIFY(messages().isEmpty()); // not refused at start
    QCOMPARE(live.form->FStartContext, QStringLiteral("NDS:\\\\GETIPPT"));

    const modal::Answer browser([](QWidget *w) { QTimer::singleShot(0, w, [w] { static_cast<TouBrowser *>(w)->reject(); }); });
    live.form->BuContext->click();
    QVERIFY(browser.done());
    QCOMPARE(messages().size(), 1); // the failure shows where the tree is used, once
    QVERIFY(messages().first().contains(QStringLiteral("GETIPPT")));
}

void EndToEndTest::wholeJob_fromTheKeyboard()
{
    LiveWindow live(kClassList);
    live.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(live.form.get()));

    const modal::Answer browser([](QWidget *w) {
        auto *dialog = qobject_cast<TouBrowser *>(w);
        auto *view = dialog->findChild<QTreeView *>();
        QTRY_COMPARE(view->model()->rowCount(), 1);
        pressOnFocus(Qt::Key_Tab); // from "Abbrechen" into the tree
        QCOMPARE(QApplication::focusWidget(), view);
        QTRY_COMPARE(dialog->edAuswahl->text(), QStringLiteral("SCHULE")); // entering the tree highlights the root
        pressOnFocus(Qt::Key_Down);
        QTRY_COMPARE(dialog->edAuswahl->text(), QStringLiteral("GYM"));
        if (!view->isExpanded(view->currentIndex()))
            pressOnFocus(Qt::Key_Right); // open the school
        for (int i = 0; i < 5 && dialog->edAuswahl->text() != QLatin1String("ABI05A.GYM"); ++i) {
            const QString before = dialog->edAuswahl->text();
            pressOnFocus(Qt::Key_Down);
            QTRY_VERIFY(dialog->edAuswahl->text() != before);
        }
        QTRY_VERIFY(dialog->OKBtn->isEnabled());
        pressOnFocus(Qt::Key_Return);
    });
    QTest::keyClick(live.form.get(), Qt::Key_F4);
    QVERIFY(browser.done());
    QCOMPARE(live.form->FStartContext, QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a"));
    live.form->activateWindow(); // as the window manager does once the dialog is gone
    QVERIFY(QTest::qWaitForWindowActive(live.form.get()));

    modal::Answer confirmation;
    const modal::Answer consent([&](QWidget *) {
        confirmation = modal::Answer([](QWidget *) { pressOnFocus(Qt::Key_Return); }); // Enter at once: "Ja"
        pressOnFocus(Qt::Key_Tab, Qt::ShiftModifier); // from "Nein" to "Ja"
        pressOnFocus(Qt::Key_Space);
    });
    live.form->EdContext->setFocus();
    pressOnFocus(Qt::Key_Tab); // to "Gesamten Teilbaum durchsuchen"
    pressOnFocus(Qt::Key_Tab); // to "Ausfuehren"
    QCOMPARE(QApplication::focusWidget(), live.form->buAusfuehren);
    pressOnFocus(Qt::Key_Space);
    QVERIFY(consent.done());
    QVERIFY(confirmation.done());
    QCOMPARE(live.ou(QStringLiteral("Gym\\Abi05a\\mueller")), QStringList{"Abi05a"});
    QVERIFY(messages().isEmpty());
}

void EndToEndTest::treeInUse_toldOnceAtStart_browserSaysBusy_thenWorks()
{
    LiveWindow first(kClassList);
    first.client->tree(QStringLiteral("SCHULE")); // the first klassomat holds the tree
    first.form.reset(); // (its window: the facade is one per process)
    auto other = std::make_unique<directory::Client>();
    nwcontrols::registerControls(*other);
    TForm1 second(first.dir.path());
    QCOMPARE(messages().size(), 1);
    QVERIFY(messages().first().contains(QStringLiteral("bereits von einem anderen Programm verwendet")));

    QString hint;
    bool treeEnabled = true;
    const modal::Answer busy([&](QWidget *w) {
        QTimer::singleShot(0, w, [&, w] {
            auto *browser = static_cast<TouBrowser *>(w);
            hint = browser->LaHinweis->text();
            treeEnabled = browser->NWBrowse1->Widget()->isEnabled();
            browser->reject();
        });
    });
    second.BuContext->click();
    QVERIFY(busy.done());
    QCOMPARE(messages().size(), 1); // the browser says it, no second box
    QVERIFY2(hint.contains(QStringLiteral("Baum SCHULE ist belegt")), qPrintable(hint));
    QVERIFY(!treeEnabled);

    first.client.reset(); // the first klassomat ends
    const modal::Answer works = chooseInBrowser(QStringLiteral("Gym\\Abi05a"));
    second.BuContext->click();
    QVERIFY(works.done());
    QCOMPARE(second.EdContext->text(), QStringLiteral("Abi05a.Gym"));
    QCOMPARE(messages().size(), 1);
}

QTEST_MAIN(EndToEndTest)
#include "test_end_to_end.moc"
