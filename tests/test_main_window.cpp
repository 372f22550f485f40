// The main window after start: its controls, the class list, the Execute
// button's faces, what a screen reader hears, and F4.
#include "ndk/treeSelect_u.h"
#include "support/form_fixture.h"
#include "support/modal.h"
#include "support/window_test.h"
#include "ui/OUBrowser_U.h"
#include "ui/accessible_roles.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/repaint_pacer.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QScrollBar>
#include <QtTest>

namespace {
const QByteArray kClassList("8a;Abi05a\n");
}

class MainWindowTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void afterStart();
    void withoutClassList_formsDisabledAndToolTipSaysWhere();
    void unreadableClassList_errorBoxFormsEnabled();
    void classListCutByNul_formsSayWhereItEnds();
    void textsFitAndEveryControlIsNamed();
    void treeChoice_textsFitAndEveryControlIsNamed();
    void runButtonFace_neverChangesEnabled();
    void checkBox_wholeDesignedBoxClicks();
    void f4_opensContainerBrowser();
    void runLog_rowsOf14Pixels_clickHighlights();
    void runLog_widestLineSetsTheRange_data();
    void runLog_widestLineSetsTheRange();
    void repaintPacer_holdsADrawAndDrawsWhatWaitsAtItsEnd();
};

void MainWindowTest::initTestCase()
{
    WindowTest::initTestCase();
    ui::installAccessibleRoles();
}

void MainWindowTest::afterStart()
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
    QCOMPARE(w.buAusfuehren->glyph().deviceIndependentSize(), QSizeF(48, 16));
    QCOMPARE(w.buAusfuehren->shortcut(), QKeySequence(Qt::ALT | Qt::Key_A));
    QCOMPARE(w.BuContext->numGlyphs(), 2);
    QCOMPARE(w.BuContext->focusPolicy(), Qt::NoFocus);
    QCOMPARE(w.ChSub->geometry(), QRect(24, 64, 193, 17));
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
    QVERIFY(messages().isEmpty());
}

void MainWindowTest::withoutClassList_formsDisabledAndToolTipSaysWhere()
{
    FormFixture f;
    QVERIFY(!f.form->raForm->isEnabled());
    QCOMPARE(f.form->raForm->ItemIndex(), 0);
    QVERIFY(f.form->FClassList.isEmpty());
    QVERIFY(f.form->raForm->toolTip().contains(QDir::toNativeSeparators(f.folder.filePath(QStringLiteral("Klassen.txt")))));
    QVERIFY(f.form->raForm->toolTip().contains(QStringLiteral("/etc/klassomat/Klassen.txt")));
    QVERIFY(messages().isEmpty());
}

void MainWindowTest::unreadableClassList_errorBoxFormsEnabled()
{
    fakes::install({QStringLiteral("NDS:\\\\TREE")});
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Klassen.txt"))); // exists, but is no readable file
    TForm1 form(dir.path());
    QCOMPARE(messages(), QStringList{QStringLiteral("Datei %1 kann nicht geöffnet werden: dort steht ein Ordner, keine gewöhnliche Datei.")
                                         .arg(QDir::toNativeSeparators(dir.filePath(QStringLiteral("Klassen.txt"))))});
    QVERIFY(form.raForm->isEnabled());
}

void MainWindowTest::classListCutByNul_formsSayWhereItEnds()
{
    const QByteArray cut("8a;Abi05a\n\0" "9b;Abi06a\n", 21);
    FormFixture f(&cut);
    QVERIFY(f.form->raForm->isEnabled());
    QCOMPARE(f.form->FClassList, QStringList{"8a;Abi05a"});
    QVERIFY2(f.form->raForm->toolTip().startsWith(QStringLiteral("In Zeile 2 der Klassenliste ")), qPrintable(f.form->raForm->toolTip()));
    QCOMPARE(f.form->raForm->accessibleDescription(), f.form->raForm->toolTip());
    QVERIFY(messages().isEmpty());
}

void MainWindowTest::textsFitAndEveryControlIsNamed()
{
    FormFixture f(&kClassList);
    f.form->show();
    checks::textsFit(f.form.get());
    checks::accessible(f.form.get());
    const QFontMetrics metrics(f.form->buAusfuehren->font());
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("Abbrechen")) < f.form->buAusfuehren->width());
}

void MainWindowTest::treeChoice_textsFitAndEveryControlIsNamed()
{
    TTreeSelect choice(nullptr);
    checks::textsFit(&choice);
    checks::accessible(&choice);
}

void MainWindowTest::runButtonFace_neverChangesEnabled()
{
    FormFixture f(&kClassList);
    TForm1 &w = *f.form;
    for (bool enabled : {false, true}) {
        w.buAusfuehren->setEnabled(enabled);
        w.SetRunButtonFace(w.FGlyphCancel);
        QCOMPARE(w.buAusfuehren->text(), QStringLiteral("&Abbrechen"));
        QCOMPARE(w.buAusfuehren->numGlyphs(), 3);
        QCOMPARE(w.buAusfuehren->frame(2).deviceIndependentSize(), QSizeF(16, 16));
        QCOMPARE(w.buAusfuehren->isEnabled(), enabled);
        w.SetRunButtonFace(w.FGlyphExecute);
        QCOMPARE(w.buAusfuehren->text(), QStringLiteral("&Ausfuehren"));
        QCOMPARE(w.buAusfuehren->numGlyphs(), 1);
        QCOMPARE(w.buAusfuehren->isEnabled(), enabled);
    }
}

void MainWindowTest::checkBox_wholeDesignedBoxClicks()
{
    FormFixture f;
    f.form->show();
    QTest::mouseClick(f.form->ChSub, Qt::LeftButton, {}, QPoint(190, 8)); // right of the text
    QVERIFY(f.form->ChSub->isChecked());
}

void MainWindowTest::f4_opensContainerBrowser()
{
    FormFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QString title;
    const modal::Answer browser([&](QWidget *w) {
        title = w->windowTitle();
        static_cast<TouBrowser *>(w)->reject();
    });
    QTest::keyClick(f.form.get(), Qt::Key_F4);
    QVERIFY(browser.done());
    QCOMPARE(title, QStringLiteral("Startkontext wählen"));
}

void MainWindowTest::runLog_rowsOf14Pixels_clickHighlights()
{
    FormFixture f(&kClassList);
    f.form->show();
    ui::LogList &log = *f.form->ListBox1;
    for (int i = 0; i < 10; ++i)
        log.addLine(QStringLiteral("Schueler %1.Abi05a.Gym").arg(i).leftJustified(40) + QStringLiteral(" 8a"));
    log.addLine(QString()); // an empty line is a line too
    QCOMPARE(log.count(), 11);
    QCOMPARE(log.rowRect(1).top() - log.rowRect(0).top(), 14);
    QCOMPARE(log.rowRect(0).height(), 14);

    const QColor highlight = log.palette().color(QPalette::Highlight);
    const auto shade = [&](int row) {
        return log.viewport()->grab().toImage().pixelColor(log.rowRect(row).topLeft() + QPoint(log.viewport()->width() - 3, 7));
    };
    QTest::mouseClick(log.viewport(), Qt::LeftButton, {}, log.rowRect(1).center());
    QCOMPARE(log.currentRow(), 1);
    QCOMPARE(shade(1), highlight);
    QVERIFY(shade(0) != highlight);
    QTest::keyClick(&log, Qt::Key_Down);
    QCOMPARE(log.currentRow(), 2);

    log.scrollToEnd();
    QCOMPARE(log.currentRow(), -1); // in view, and no line stays highlighted
    QVERIFY(log.viewport()->rect().contains(log.rowRect(10)));

    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(&log);
    QCOMPARE(face->role(), QAccessible::List);
    QCOMPARE(face->childCount(), 11);
    QCOMPARE(face->child(3)->text(QAccessible::Name), log.line(3));
}

void MainWindowTest::runLog_widestLineSetsTheRange_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("viewWidth"); // the log's width once the lines are in
    const QString narrow = QStringLiteral("Schueler 1.Abi05a.Gym").leftJustified(40) + QStringLiteral(" 8a");
    const QString wide = QString(90, QLatin1Char('W'));
    QTest::newRow("narrow lines only") << QStringList{narrow, narrow} << 393;
    QTest::newRow("a wide line after narrow ones") << QStringList{narrow, wide, narrow} << 393;
    QTest::newRow("a line outside Latin-1") << QStringList{narrow, QString(60, QChar(0x4e2d))} << 393;
    QTest::newRow("narrow lines, then a narrower view") << QStringList{narrow, narrow + QStringLiteral("xxxx")} << 120;
    QTest::newRow("kerned pairs") << QStringList{QStringLiteral("AVAVAVAVAV To Ty Te Wa ").repeated(6)} << 393;
}

void MainWindowTest::runLog_widestLineSetsTheRange()
{
    QFETCH(QStringList, lines);
    QFETCH(int, viewWidth);
    ui::LogList log(nullptr);
    log.resize(393, 65);
    log.show();
    for (const QString &line : lines)
        log.addLine(line);
    log.resize(viewWidth, 65);
    int widest = 0;
    for (const QString &line : lines)
        widest = qMax(widest, log.fontMetrics().horizontalAdvance(line));
    // Lines left unshaped must not change what shaping every line would give.
    QCOMPARE(log.horizontalScrollBar()->maximum(), qMax(0, widest + 4 - log.viewport()->width()));
    QCOMPARE(log.rowRect(0).width(), qMax(log.viewport()->width(), widest + 4));
}

void MainWindowTest::repaintPacer_holdsADrawAndDrawsWhatWaitsAtItsEnd()
{
    QWidget window;
    window.resize(100, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int draws = 0;
    struct Counter : QObject {
        int *draws;
        explicit Counter(int *d) : draws(d) {}
        bool eventFilter(QObject *, QEvent *event) override
        {
            *draws += event->type() == QEvent::UpdateRequest;
            return false;
        }
    } counter(&draws);
    window.installEventFilter(&counter); // filters run last installed first: this one sees what the pacer lets by
    {
        ui::RepaintPacer pacer(&window, std::chrono::milliseconds(10000));
        window.update();
        QTRY_COMPARE(draws, 1);
        window.update(); // too soon: held
        QTest::qWait(50);
        QCOMPARE(draws, 1);
    }
    QCOMPARE(draws, 2); // drawn as the pacer went
    window.update();
    QTRY_COMPARE(draws, 3);
}

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
