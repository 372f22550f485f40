// F1's help window: what it tells, that it is one window however often F1 is
// pressed, "Über klassomat", and that the main window gains no control for it.
#include "runs/run_record.h"
#include "support/form_fixture.h"
#include "support/window_test.h"
#include "ui/help_window.h"

#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

class HelpTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void f1_opensOneHelpWindow_mainWindowUnchanged();
    void help_tellsWhatAndWhere_data();
    void help_tellsWhatAndWhere();
    void about_versionAndCredit();
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
}

void HelpTest::help_tellsWhatAndWhere()
{
    QFETCH(QString, text);
    FormFixture f;
    ui::HelpWindow help(f.form.get(), f.folder.path());
    text.replace(QStringLiteral("%FOLDER%"), f.folder.path()).replace(QStringLiteral("%RUNS%"), runs::runsFolder());
    const QString shown = help.Text->toPlainText();
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

QTEST_MAIN(HelpTest)
#include "test_help.moc"
