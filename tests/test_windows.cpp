// The windows: main window after start, the browser's rules, the two dialogs,
// and a handful of end-to-end runs through the real windows.
#include "directory/client.h"
#include "directory/ldif_tree.h"
#include "ndk/ndk_u.h"
#include "nwcontrols/NWBrowseLib_TLB.h"
#include "nwcontrols/register_controls.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "support/form_fixture.h"
#include "support/ldif_fixture.h"
#include "support/modal.h"
#include "ui/HaftungsZustimmung.h"
#include "ui/KlassomatAusfuehren.h"
#include "ui/OUBrowser_U.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/status_bar.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QTreeView>
#include <QtTest>

namespace {
const QByteArray kClassList("8a;Abi05a\n");

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

int answer(platform::ModalDialog &dialog, const std::function<void(QWidget *)> &act)
{
    modal::whenShown(act);
    return dialog.exec();
}
} // namespace

class WindowsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void mainWindow_afterStart();
    void mainWindow_withoutClassList_formsDisabled();
    void mainWindow_unreadableClassList_errorBoxFormsEnabled();
    void mainWindow_textsFitTheirBoxes();
    void runButtonFace_neverChangesEnabled();
    void browser_decisionTable_data();
    void browser_decisionTable();
    void browser_rootToken_andEmptyBase();
    void browser_expandModeAndLegend();
    void dialogs_results_data();
    void dialogs_results();
    void dialogs_placedBesideMainWindow();
    void contextButton_rootCancelAndSameContext();
    void browser_enterAtOnceCancels();
    void writeErrorThroughButton_boxAfterEndOfRunWork();
    void endToEnd_chooseConsentConfirmRun();
    void endToEnd_refusals_cancel_andCloseDuringRun();

private:
    QStringList m_messages;
};

void WindowsTest::init()
{
    m_messages.clear();
    platform::setMessageSink([this](const platform::MessageRecord &r) { m_messages.append(r.text); });
}

void WindowsTest::cleanup()
{
    platform::setMessageSink({});
    QVERIFY(!QApplication::activeModalWidget());
}

void WindowsTest::mainWindow_afterStart()
{
    FormFixture f(&kClassList);
    TForm1 &w = *f.form;
    QCOMPARE(w.windowTitle(), QStringLiteral("klassomat - Klassenbezeichnung eintragen   19.02.03/Qu."));
    QCOMPARE(w.size(), QSize(441, 341));
    QCOMPARE(w.EdContext->text(), QString());
    QCOMPARE(w.FStartContext, QStringLiteral("NDS:\\\\TREE"));
    QVERIFY(!w.buAusfuehren->isEnabled());
    QCOMPARE(w.buAusfuehren->text(), QStringLiteral("&Ausfuehren"));
    QCOMPARE(w.buAusfuehren->numGlyphs(), 1);
    QCOMPARE(w.buAusfuehren->glyph().size(), QSize(48, 16));
    QCOMPARE(w.buAusfuehren->shortcut(), QKeySequence(Qt::ALT | Qt::Key_A));
    QCOMPARE(w.BuContext->numGlyphs(), 2);
    QCOMPARE(w.BuContext->focusPolicy(), Qt::NoFocus);
    QCOMPARE(w.ListBox1->palette().color(QPalette::Base), w.palette().color(QPalette::Window));
    QVERIFY(w.raForm->isEnabled());
    QCOMPARE(w.raForm->ItemIndex(), 0);
    QCOMPARE(w.raForm->items(), (QStringList{"Abi05a (Klassenbezeichnung im Computer, OU)", "8a (Reale Klassenbezeichnung)", "8a, Abi05 ", "Abi05, 8a"}));
    QCOMPARE(w.FClassList, QStringList{"8a;Abi05a"});
    QVERIFY(!w.ChSub->isChecked());
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("Label5"))->text(), QStringLiteral("Klassenbezeichnung in Department-Field eingetragen bei"));
    w.EdContext->setText(QStringLiteral("Abi05a.Gym"));
    QVERIFY(w.buAusfuehren->isEnabled());
    w.EdContext->setText(QString());
    QVERIFY(!w.buAusfuehren->isEnabled());
    QVERIFY(m_messages.isEmpty());
}

void WindowsTest::mainWindow_withoutClassList_formsDisabled()
{
    FormFixture f;
    QVERIFY(!f.form->raForm->isEnabled());
    QCOMPARE(f.form->raForm->ItemIndex(), 0);
    QVERIFY(f.form->FClassList.isEmpty());
    QVERIFY(m_messages.isEmpty());
}

void WindowsTest::mainWindow_unreadableClassList_errorBoxFormsEnabled()
{
    fakes::install({QStringLiteral("NDS:\\\\TREE")});
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Klassen.txt"))); // exists, but is no readable file
    TForm1 form(dir.path());
    QCOMPARE(m_messages, QStringList{QStringLiteral("Datei %1 kann nicht geöffnet werden.").arg(QDir::toNativeSeparators(dir.filePath(QStringLiteral("Klassen.txt"))))});
    QVERIFY(form.raForm->isEnabled());
}

void WindowsTest::mainWindow_textsFitTheirBoxes()
{
    FormFixture f(&kClassList);
    f.form->show();
    TouBrowser browser(f.form.get());
    TFZustimmung consent(f.form.get());
    TFAusfuehren confirmation(f.form.get());
    for (QWidget *window : {static_cast<QWidget *>(f.form.get()), static_cast<QWidget *>(&browser),
                            static_cast<QWidget *>(&consent), static_cast<QWidget *>(&confirmation)}) {
        for (auto *button : window->findChildren<QAbstractButton *>()) {
            if (button->text().isEmpty())
                continue;
            const int needed = qobject_cast<QPushButton *>(button) ? button->fontMetrics().horizontalAdvance(button->text()) + 8
                                                                       : button->sizeHint().width();
            QVERIFY2(needed <= button->width() || qobject_cast<ui::PictureButton *>(button),
                     qPrintable(QStringLiteral("%1: %2 > %3").arg(button->text()).arg(needed).arg(button->width())));
        }
        for (auto *label : window->findChildren<QLabel *>()) {
            if (!label->wordWrap())
                QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
            QVERIFY2(window->rect().contains(label->geometry()) || label->parentWidget() != window, qPrintable(label->text()));
        }
    }
    // The notice's eight lines show whole: none wraps, none needs scrolling.
    consent.show();
    QCOMPARE(consent.Memo1->document()->lineCount(), 8);
    QVERIFY(!consent.Memo1->verticalScrollBar()->isVisible());
    consent.hide();
    const QFontMetrics metrics(f.form->buAusfuehren->font());
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("Abbrechen")) < f.form->buAusfuehren->width());
}

void WindowsTest::runButtonFace_neverChangesEnabled()
{
    FormFixture f(&kClassList);
    TForm1 &w = *f.form;
    for (bool enabled : {false, true}) {
        w.buAusfuehren->setEnabled(enabled);
        w.SetRunButtonFace(w.FGlyphCancel);
        QCOMPARE(w.buAusfuehren->text(), QStringLiteral("&Abbrechen"));
        QCOMPARE(w.buAusfuehren->numGlyphs(), 3);
        QCOMPARE(w.buAusfuehren->frame(2).size(), QSize(16, 16));
        QCOMPARE(w.buAusfuehren->isEnabled(), enabled);
        w.SetRunButtonFace(w.FGlyphExecute);
        QCOMPARE(w.buAusfuehren->text(), QStringLiteral("&Ausfuehren"));
        QCOMPARE(w.buAusfuehren->numGlyphs(), 1);
        QCOMPARE(w.buAusfuehren->isEnabled(), enabled);
    }
}

void WindowsTest::browser_decisionTable_data()
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

void WindowsTest::browser_decisionTable()
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

void WindowsTest::browser_rootToken_andEmptyBase()
{
    FormFixture f;
    for (const char *token : {"[ROOT]", "[root]", "[Root]"}) {
        TouBrowser browser(f.form.get());
        browser.FBase = QString::fromLatin1(token);
        answer(browser, [](QWidget *w) { QTimer::singleShot(0, w, [w] { static_cast<TouBrowser *>(w)->reject(); }); });
        QCOMPARE(browser.FBase, QStringLiteral("NDS:\\\\TREE"));
    }
    TouBrowser blank(f.form.get());
    blank.FBase = QStringLiteral("[Root] ");
    answer(blank, [](QWidget *w) { QTimer::singleShot(0, w, [w] { static_cast<TouBrowser *>(w)->reject(); }); });
    QCOMPARE(blank.FBase, QStringLiteral("[Root] "));
    QCOMPARE(m_messages.size(), 0);

    TouBrowser empty(f.form.get());
    QCOMPARE(empty.exec(), 2);
    QCOMPARE(m_messages, QStringList{"Fehler: Base nicht gewählt."});
}

void WindowsTest::browser_expandModeAndLegend()
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
    const QImage before = browser.Image1->pixmap().toImage();
    browser.SetLegendImage(0, QStringLiteral("User"));
    browser.SetLegendImage(3, QStringLiteral("User"));
    QCOMPARE(browser.Image1->pixmap().toImage(), before);
    browser.SetHint(QStringLiteral("Hinweis"));
    QCOMPARE(browser.LaHinweis->text(), QStringLiteral("Hinweis"));
}

void WindowsTest::dialogs_results_data()
{
    QTest::addColumn<bool>("consent");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("result");
    for (bool consent : {true, false}) {
        const char *d = consent ? "consent: " : "confirmation: ";
        QTest::newRow(qPrintable(QString::fromLatin1(d) + QStringLiteral("Ja"))) << consent << "ok" << 1;
        QTest::newRow(qPrintable(QString::fromLatin1(d) + QStringLiteral("second button"))) << consent << "cancel" << 2;
        QTest::newRow(qPrintable(QString::fromLatin1(d) + QStringLiteral("Esc"))) << consent << "esc" << 2;
        QTest::newRow(qPrintable(QString::fromLatin1(d) + QStringLiteral("close box"))) << consent << "close" << 2;
        QTest::newRow(qPrintable(QString::fromLatin1(d) + QStringLiteral("Enter at once"))) << consent << "enter" << (consent ? 2 : 1);
    }
}

void WindowsTest::dialogs_results()
{
    QFETCH(bool, consent);
    QFETCH(QString, action);
    QFETCH(int, result);
    std::unique_ptr<platform::ModalDialog> dialog;
    if (consent) {
        dialog = std::make_unique<TFZustimmung>(nullptr);
        FZustimmung = static_cast<TFZustimmung *>(dialog.get());
    } else {
        dialog = std::make_unique<TFAusfuehren>(nullptr);
    }
    const int got = answer(*dialog, [action](QWidget *w) {
        if (action == QLatin1String("ok"))
            w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        else if (action == QLatin1String("cancel"))
            w->findChild<QPushButton *>(QStringLiteral("CancelBtn"))->click();
        else if (action == QLatin1String("esc"))
            QTest::keyClick(w, Qt::Key_Escape);
        else if (action == QLatin1String("close"))
            w->close();
        else
            QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Return);
    });
    FZustimmung = nullptr;
    QCOMPARE(got, result);
}

void WindowsTest::dialogs_placedBesideMainWindow()
{
    FormFixture f(&kClassList);
    f.form->move(100, 50);
    f.form->show();
    f.form->EdContext->setText(QStringLiteral("Abi05a.Gym"));
    QPoint consentAt, confirmAt;
    QStringList memo;
    QString notice;
    modal::whenShown([&](QWidget *w) {
        consentAt = w->pos();
        notice = w->findChild<QTextEdit *>(QStringLiteral("Memo1"))->toPlainText();
        QCOMPARE(w->findChild<QTextEdit *>(QStringLiteral("Memo1"))->palette().color(QPalette::Base), w->palette().color(QPalette::Window));
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        modal::whenShown([&](QWidget *w2) {
            confirmAt = w2->pos();
            memo = w2->findChild<QTextEdit *>(QStringLiteral("Memo1"))->toPlainText().split(QLatin1Char('\n'));
            w2->findChild<QPushButton *>(QStringLiteral("CancelBtn"))->click();
        });
    });
    f.form->buAusfuehren->click();
    QCOMPARE(consentAt, QPoint(330, 180));
    QCOMPARE(confirmAt, QPoint(330, 180));
    QCOMPARE(notice.split(QLatin1Char('\n')),
             (QStringList{"Achtung !!!", "Sorgen Sie vor der Anwendung des Programms", QStringLiteral("für eine vollständige Sicherung Ihrer Daten. "), "",
                          "Die Anwendung erfolgt auf eigene Gefahr.", QStringLiteral("Der Autor haftet  nicht für Schäden, die"),
                          "durch die Anwendung dieses Programms", "entstehen."}));
    QCOMPARE(memo, (QStringList{QStringLiteral("Für alle Benutzern im Kontext"), "Abi05a.Gym", "wird bei Department die Klasse eingetragen", "",
                                "(Die Anwendung erfolgt auf eigene Gefahr!)"}));
    QCOMPARE(f.fakes.directory->searches.size(), 0);
    QVERIFY(!FZustimmung && !FAusfuehren);
}

void WindowsTest::contextButton_rootCancelAndSameContext()
{
    FormFixture f;
    TForm1 &w = *f.form;
    // A browser that delivers the tree root gives "[Root] (TREE)".
    modal::whenShown([](QWidget *window) {
        auto *browser = static_cast<TouBrowser *>(window);
        QCOMPARE(browser->windowTitle(), QStringLiteral("Startkontext wählen"));
        QCOMPARE(browser->FFilter, QStringLiteral("Organizational Unit,Organization,Top"));
        QVERIFY(!browser->FAllowBase);
        QCOMPARE(browser->FExpandMode, 1);
        browser->FSelection = QStringLiteral("NDS:\\\\TREE");
        browser->done(1);
    });
    w.BuContext->click();
    QCOMPARE(w.EdContext->text(), QStringLiteral("[Root] (TREE)"));
    QVERIFY(w.buAusfuehren->isEnabled());
    QVERIFY(!ouBrowser);

    // Cancelling changes nothing.
    modal::whenShown([](QWidget *window) { QTest::keyClick(window, Qt::Key_Escape); });
    w.BuContext->click();
    QCOMPARE(w.EdContext->text(), QStringLiteral("[Root] (TREE)"));
    QCOMPARE(w.FStartContext, QStringLiteral("NDS:\\\\TREE"));

    // The same context again fires no text change.
    int changes = 0;
    connect(w.EdContext, &QLineEdit::textChanged, this, [&] { ++changes; });
    modal::whenShown([](QWidget *window) {
        static_cast<TouBrowser *>(window)->FSelection = QStringLiteral("NDS:\\\\TREE");
        static_cast<TouBrowser *>(window)->done(1);
    });
    w.BuContext->click();
    QCOMPARE(changes, 0);
}

void WindowsTest::browser_enterAtOnceCancels()
{
    FormFixture f;
    TouBrowser browser(f.form.get());
    browser.FBase = QStringLiteral("[Root]");
    const int result = answer(browser, [](QWidget *w) {
        QCOMPARE(w->focusWidget(), w->findChild<QPushButton *>(QStringLiteral("CancelBtn")));
        QTest::keyClick(w->focusWidget(), Qt::Key_Return);
    });
    QCOMPARE(result, 2);
}

void WindowsTest::writeErrorThroughButton_boxAfterEndOfRunWork()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = QVariantList{QStringLiteral("NDS:\\\\TREE\\G\\Abi05a\\a"), QStringLiteral("NDS:\\\\TREE\\G\\Abi05a\\b")};
    f.fakes.directory->failStoreAt = 2;
    f.form->EdContext->setText(QStringLiteral("Abi05a.G"));
    QStringList logWhenBoxShown;
    bool enabledWhenBoxShown = false;
    platform::setMessageSink([&](const platform::MessageRecord &r) {
        m_messages.append(r.text);
        logWhenBoxShown = f.log();
        enabledWhenBoxShown = f.form->buAusfuehren->isEnabled() && f.form->buAusfuehren->text() == QStringLiteral("&Ausfuehren");
    });
    modal::whenShown([](QWidget *w) {
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        modal::whenShown([](QWidget *w2) { w2->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click(); });
    });
    f.form->buAusfuehren->click();
    QCOMPARE(m_messages, QStringList{QStringLiteral("Schreiben in NDS:\\\\TREE\\G\\Abi05a\\b verweigert.")});
    QCOMPARE(logWhenBoxShown.size(), 3);
    QCOMPARE(logWhenBoxShown.last(), QStringLiteral("eingetragen bei 1 Benutzern")); // the refused write is not counted
    QVERIFY(enabledWhenBoxShown);
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("2/2"));
}

namespace {
// A main window over the embedded fixture tree.
struct Live {
    QTemporaryDir dir;
    std::unique_ptr<directory::Client> client;
    std::unique_ptr<TForm1> form;
    Live()
    {
        fixture::write(dir, fixture::kSchool, QStringLiteral("a.ldif"));
        fixture::write(dir, "[SCHULE]\nldif=a.ldif\n", QStringLiteral("c.ini"));
        fixture::write(dir, kClassList, QStringLiteral("Klassen.txt"));
        qputenv("DIRCLIENT_CONFIG", dir.filePath(QStringLiteral("c.ini")).toUtf8());
        client = std::make_unique<directory::Client>();
        nwcontrols::registerControls(*client);
        form = std::make_unique<TForm1>(dir.path());
        form->show();
    }
    QStringList ou(const QString &path)
    {
        return static_cast<directory::LdifTree &>(client->tree(QStringLiteral("SCHULE"))).values(QStringLiteral("NDS:\\\\SCHULE\\") + path, QStringLiteral("ou"));
    }
};

void chooseInBrowser(const QString &path)
{
    modal::whenShown([path](QWidget *w) {
        auto *browser = qobject_cast<TouBrowser *>(w);
        QTimer::singleShot(0, browser, [browser, path] { // after FormShow filled the view
            auto *view = browser->findChild<QTreeView *>();
            QModelIndex index = view->model()->index(0, 0);
            for (const QString &part : path.split(QLatin1Char('\\'))) {
                view->expand(index);
                QModelIndex next;
                for (int r = 0; r < view->model()->rowCount(index); ++r) {
                    if (view->model()->index(r, 0, index).data().toString() == part)
                        next = view->model()->index(r, 0, index);
                }
                index = next;
            }
            view->scrollTo(index);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
            QTimer::singleShot(0, browser, [browser] { browser->OKBtn->click(); });
        });
    });
}
} // namespace

void WindowsTest::endToEnd_chooseConsentConfirmRun()
{
    Live live;
    chooseInBrowser(QStringLiteral("Gym\\Abi05a"));
    live.form->BuContext->click();
    QCOMPARE(live.form->EdContext->text(), QStringLiteral("Abi05a.Gym"));
    QCOMPARE(live.form->FStartContext, QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a"));
    QVERIFY(live.form->buAusfuehren->isEnabled());

    live.form->raForm->setItemIndex(1);
    modal::whenShown([](QWidget *w) {
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        modal::whenShown([](QWidget *w2) { w2->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click(); });
    });
    live.form->buAusfuehren->click();
    QCOMPARE(live.ou(QStringLiteral("Gym\\Abi05a\\mueller")), QStringList{"8a"});
    QCOMPARE(live.ou(QStringLiteral("Gym\\Abi05a\\Schmidt, Anna")), QStringList{"8a"});
    QCOMPARE(live.ou(QStringLiteral("Gym\\Abi05a\\Abi04x\\Jürgen Łodzę")), QStringList()); // one level only
    QCOMPARE(live.form->StatusBar1->panelText(0), QStringLiteral("2/2"));
    QVERIFY(m_messages.isEmpty());
    qunsetenv("DIRCLIENT_CONFIG");
}

void WindowsTest::endToEnd_refusals_cancel_andCloseDuringRun()
{
    Live live;
    live.form->FStartContext = QStringLiteral("NDS:\\\\SCHULE\\Gym");
    live.form->EdContext->setText(QStringLiteral("Gym"));
    live.form->ChSub->setChecked(true);

    // Consent refused: no confirmation, nothing written.
    int shown = 0;
    modal::whenShown([&](QWidget *w) {
        ++shown;
        QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Return);
    });
    live.form->buAusfuehren->click();
    QCOMPARE(shown, 1);
    QCOMPARE(live.form->ListBox1->count(), 0);

    // Confirmation refused.
    modal::whenShown([](QWidget *w) {
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        modal::whenShown([](QWidget *w2) { QTest::keyClick(w2, Qt::Key_Escape); });
    });
    live.form->buAusfuehren->click();
    QCOMPARE(live.form->ListBox1->count(), 0);

    // Cancel during the run, then close the window during a second run.
    modal::whenShown([&](QWidget *w) {
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        modal::whenShown([&](QWidget *w2) {
            w2->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
            QTimer::singleShot(120, live.form.get(), [&] {
                live.form->buAusfuehren->click();
                QVERIFY(!live.form->buAusfuehren->isEnabled());
            });
        });
    });
    live.form->buAusfuehren->click();
    QCOMPARE(live.form->ListBox1->line(live.form->ListBox1->count() - 1), QStringLiteral("***abgebrochen***"));
    QVERIFY(live.form->ListBox1->count() >= 2 && live.form->ListBox1->count() <= 4);
    QCOMPARE(live.form->buAusfuehren->text(), QStringLiteral("&Ausfuehren"));

    modal::whenShown([&](QWidget *w) {
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        modal::whenShown([&](QWidget *w2) {
            w2->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
            QTimer::singleShot(60, live.form.get(), [&] { live.form->close(); });
        });
    });
    live.form->buAusfuehren->click();
    QCOMPARE(live.form->ListBox1->line(live.form->ListBox1->count() - 1), QStringLiteral("eingetragen bei 4 Benutzern"));
    QVERIFY(live.form->isVisible()); // the run went on to its end
    QTRY_VERIFY(!live.form->isVisible()); // then the window closed
    qunsetenv("DIRCLIENT_CONFIG");
}

QTEST_MAIN(WindowsTest)
#include "test_windows.moc"
