// Shows each window of klassomat in turn and saves a picture of it, so anyone
// can look at them again: window_tour OUT_DIR (run under Xvfb, see screenshot.sh).
#include "directory/client.h"
#include "nwcontrols/register_controls.h"
#include "platform/design_fonts.h"
#include "ui/HaftungsZustimmung.h"
#include "ui/KlassomatAusfuehren.h"
#include "ui/Klassomat_U.h"
#include "ui/OUBrowser_U.h"
#include "ndk/treeSelect_u.h"
#include "ui/help_window.h"
#include "ui/history_window.h"
#include "ui/radio_group.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"

#include <QCheckBox>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace {
QString g_out;

void save(QWidget *window, const QString &name)
{
    QTest::qWait(300);
    // The whole screen, so frames and placement show as a user sees them.
    window->screen()->grabWindow(0).save(QDir(g_out).filePath(name + QStringLiteral(".png")));
    window->grab().save(QDir(g_out).filePath(name + QStringLiteral("-client.png")));
}

// Once a modal window is up, hands it to `act`.
void whenShown(std::function<void(QWidget *)> act)
{
    QTimer::singleShot(100, [act = std::move(act)]() mutable {
        if (QWidget *window = QApplication::activeModalWidget())
            act(window);
        else
            whenShown(std::move(act));
    });
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setFont(platform::designFont());
    g_out = QString::fromLocal8Bit(argv[1] ? argv[1] : ".");
    QDir().mkpath(g_out);

    QTemporaryDir dir;
    QFile::copy(QStringLiteral(KLASSOMAT_DEMO_LDIF), dir.filePath(QStringLiteral("schule.ldif")));
    QFile::setPermissions(dir.filePath(QStringLiteral("schule.ldif")), QFile::ReadOwner | QFile::WriteOwner);
    QFile::copy(QStringLiteral(KLASSOMAT_DEMO_LDIF), dir.filePath(QStringLiteral("zwei.ldif")));
    QFile::copy(QStringLiteral(KLASSOMAT_CLASS_LIST), dir.filePath(QStringLiteral("Klassen.txt")));
    QFile ini(dir.filePath(QStringLiteral("c.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[SCHULE]\nldif=schule.ldif\n[VERWALTUNG]\nldif=zwei.ldif\n[ZENTRALE]\nldif=zwei.ldif\n");
    ini.close();
    qputenv("DIRCLIENT_CONFIG", dir.filePath(QStringLiteral("c.ini")).toUtf8());
    directory::Client client;
    nwcontrols::registerControls(client);

    whenShown([](QWidget *w) {
        save(w, QStringLiteral("1-tree-choice"));
        static_cast<TTreeSelect *>(w)->Button1->click();
    });
    TForm1 form(dir.path());
    Form1 = &form;
    form.show();
    save(&form, QStringLiteral("2-main-window"));

    whenShown([](QWidget *w) {
        QTimer::singleShot(200, w, [w] {
            auto *view = w->findChild<QTreeView *>();
            const QModelIndex gym = view->model()->index(0, 0, view->model()->index(0, 0));
            view->expand(gym);
            QModelIndex abi;
            for (int r = 0; r < view->model()->rowCount(gym); ++r) {
                if (view->model()->index(r, 0, gym).data().toString() == QLatin1String("Abi05b"))
                    abi = view->model()->index(r, 0, gym);
            }
            view->expand(abi);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(abi).center());
            QTimer::singleShot(200, w, [w] {
                save(w, QStringLiteral("3-browser"));
                static_cast<TouBrowser *>(w)->OKBtn->click();
            });
        });
    });
    form.BuContext->click();
    save(&form, QStringLiteral("4-context-chosen"));

    whenShown([&form](QWidget *w) {
        save(w, QStringLiteral("5-consent"));
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        whenShown([&form](QWidget *w2) {
            save(w2, QStringLiteral("6-confirmation"));
            w2->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
            QTimer::singleShot(700, &form, [&form] { save(&form, QStringLiteral("7-during-run")); });
        });
    });
    form.ChSub->setChecked(true);
    form.buAusfuehren->click();
    save(&form, QStringLiteral("8-after-run"));

    // A click highlights a line of the log, as in a list box.
    QTest::mouseClick(form.ListBox1->viewport(), Qt::LeftButton, {}, form.ListBox1->rowRect(1).center());
    save(&form, QStringLiteral("9-log-line-clicked"));
    // A shortcut answers in the active window only; without a window manager nothing else makes it so.
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form))
        qWarning("the main window did not become active; F1 may go unanswered");
    QTest::keyClick(&form, Qt::Key_F1);
    QWidget *help = form.findChild<ui::HelpWindow *>();
    save(help, QStringLiteral("10-help"));
    help->close();

    // The preview (F5) and the history (F6), each a window of its own; the
    // undo's confirmation is answered "Abbrechen", so the run stays.
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form))
        qWarning("the main window did not become active; F5 and F6 may go unanswered");
    form.raForm->setItemIndex(1);
    whenShown([](QWidget *w) {
        save(w, QStringLiteral("11-preview"));
        static_cast<QDialog *>(w)->reject();
    });
    QTest::keyClick(&form, Qt::Key_F5);
    form.activateWindow(); // as the window manager does once the preview is gone
    if (!QTest::qWaitForWindowActive(&form))
        qWarning("the main window did not become active; F6 may go unanswered");
    whenShown([](QWidget *w) {
        auto *history = static_cast<ui::HistoryWindow *>(w);
        save(w, QStringLiteral("12-history"));
        whenShown([](QWidget *consent) {
            consent->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
            whenShown([](QWidget *confirmation) {
                save(confirmation, QStringLiteral("13-undo-confirmation"));
                confirmation->findChild<QPushButton *>(QStringLiteral("CancelBtn"))->click();
            });
        });
        history->UndoBtn->click();
        save(w, QStringLiteral("14-undo-dry-run"));
        history->reject();
    });
    QTest::keyClick(&form, Qt::Key_F6);
    Form1 = nullptr;
    return 0;
}
