// F1's help window: what it tells, that it is one window however often F1 is
// pressed, "Über klassomat", that the main window gains no control for it,
// that it fits a small screen and that a screen reader gets plain text.
#include "runs/run_record.h"
#include "support/form_fixture.h"
#include "support/window_test.h"
#include "ui/help_window.h"

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

class HelpTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void f1_opensOneHelpWindow_mainWindowUnchanged();
    void help_tellsWhatAndWhere_data();
    void help_tellsWhatAndWhere();
    void about_versionAndCredit();
    void sections_reachAScreenReaderAsPlainText();
    void fitsAScreen512PixelsHigh_buttonsShown_textScrolls();
};

void HelpTest::f1_opensOneHelpWindow_mainWindowUnchanged()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    QStringList controls;
    for (const QWidget *child : f.form->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        controls.append(child->objectName());
    QTest::keyClick(f.form.get(), Qt::Key_F1);
    QTest::keyClick(f.form.get(), Qt::Key_F1);
    const auto windows = f.form->findChildren<ui::HelpWindow *>();
    QCOMPARE(windows.size(), 1);
    QVERIFY(windows.first()->isVisible());
    QVERIFY(windows.first()->isWindow());
    QCOMPARE(windows.first()->windowTitle(), QStringLiteral("klassomat – Hilfe"));
    QStringList after;
    for (const QWidget *child : f.form->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow())
            after.append(child->objectName());
    }
    QCOMPARE(after, controls);
    checks::accessible(windows.first());
}

void HelpTest::help_tellsWhatAndWhere_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("what it does") << QStringLiteral("in das Feld Department (Attribut OU)");
    QTest::newRow("the four forms") << QStringLiteral("Abi05a, 8a: der Name des Containers, dann die reale Klasse.");
    QTest::newRow("the class list beside the program") << QStringLiteral("%FOLDER%/Klassen.txt");
    QTest::newRow("the class list in the system") << QStringLiteral("/etc/klassomat/Klassen.txt");
    QTest::newRow("the keyboard") << QStringLiteral("öffnet die Auswahl des Startkontexts.");
    QTest::newRow("the run records") << QStringLiteral("%RUNS%");
    QTest::newRow("taking a run back") << QStringLiteral("klassomat undo Kennung nimmt einen Lauf zurück");
    QTest::newRow("the manual page") << QStringLiteral("man klassomat");
    QTest::newRow("what the subtree box does")
        << QStringLiteral("Ohne „Gesamten Teilbaum durchsuchen“ findet klassomat nur die Benutzer, die direkt im gewählten Container liegen.");
    QTest::newRow("the preview and its key") << QStringLiteral("F5 öffnet die „Vorschau“");
    QTest::newRow("what the preview shows") << QStringLiteral("für jeden Benutzer den alten und den neuen Wert");
    QTest::newRow("the history and its key") << QStringLiteral("F6 öffnet den „Verlauf“: die Läufe dieses Datenordners");
    QTest::newRow("taking a run back in the window") << QStringLiteral("„Zurücknehmen…“");
    QTest::newRow("the log's menu")
        << QStringLiteral("„Kopieren“ (die markierten Zeilen), „Alles kopieren“, „Speichern unter…“");
    QTest::newRow("the log's keys") << QStringLiteral("Strg+A markiert alle Zeilen");
}

void HelpTest::help_tellsWhatAndWhere()
{
    QFETCH(QString, text);
    FormFixture f;
    ui::HelpWindow help(f.form.get(), f.folder.path());
    text.replace(QStringLiteral("%FOLDER%"), f.folder.path()).replace(QStringLiteral("%RUNS%"), runs::runsFolder());
    const QString shown = help.plainText();
    QVERIFY2(shown.contains(text), qPrintable(shown));
}

void HelpTest::about_versionAndCredit()
{
    FormFixture f;
    ui::HelpWindow help(f.form.get(), f.folder.path());
    help.AboutBtn->click();
    QCOMPARE(m_boxes->records().size(), 1);
    QCOMPARE(m_boxes->records().first().icon, QMessageBox::Information);
    const QString about = m_boxes->records().first().text;
    QVERIFY2(about.startsWith(QStringLiteral("klassomat 1.")), qPrintable(about));
    QVERIFY(about.contains(QStringLiteral("Freeware")));
}

void HelpTest::sections_reachAScreenReaderAsPlainText()
{
    FormFixture f;
    ui::HelpWindow help(f.form.get(), f.folder.path());
    QVERIFY(help.Sections.size() >= 8);
    for (QLabel *section : std::as_const(help.Sections)) {
        const QString heard = QAccessible::queryAccessibleInterface(section)->text(QAccessible::Name);
        QVERIFY(!heard.isEmpty());
        for (const QChar marker : {QChar(0xfdd0), QChar(0xfdd1), QChar(0xfffc), QChar(0x2029)})
            QVERIFY2(!heard.contains(marker), qPrintable(heard));
        QVERIFY2(!heard.contains(QLatin1Char('<')), qPrintable(heard));
        QVERIFY(section->focusPolicy() & Qt::TabFocus);
    }
}

void HelpTest::fitsAScreen512PixelsHigh_buttonsShown_textScrolls()
{
    FormFixture f;
    QCOMPARE(f.form->screen()->availableGeometry().height(), 512);
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    QTest::keyClick(f.form.get(), Qt::Key_F1);
    auto *help = f.form->findChild<ui::HelpWindow *>();
    QVERIFY(help);
    QVERIFY(QTest::qWaitForWindowExposed(help));
    const QRect screen = help->screen()->availableGeometry();
    QVERIFY2(screen.contains(help->frameGeometry()), qPrintable(QStringLiteral("%1 × %2").arg(help->frameGeometry().width()).arg(help->frameGeometry().height())));
    for (const QWidget *button : {static_cast<QWidget *>(help->AboutBtn), static_cast<QWidget *>(help->CloseBtn)}) {
        QVERIFY(button->isVisible());
        QVERIFY(help->rect().contains(QRect(button->mapTo(help, QPoint(0, 0)), button->size())));
    }
    auto *text = help->findChild<QScrollArea *>(QStringLiteral("Text"));
    QVERIFY(text->verticalScrollBar()->maximum() > 0);
    QTest::keyClick(text->verticalScrollBar(), Qt::Key_End);
    QCOMPARE(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
}

int main(int argc, char *argv[])
{
    // The offscreen screen is 800 pixels high: at this scale it is 512
    // logical pixels high, as 1366 × 768 is at 150 %.
    qputenv("QT_SCALE_FACTOR", "1.5625");
    QApplication app(argc, argv);
    HelpTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_help.moc"
