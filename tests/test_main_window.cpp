// The main window after start: its controls, the class list, the Execute
// button's faces, what a screen reader hears, and F4.
#include "ndk/treeSelect_u.h"
#include "support/form_fixture.h"
#include "support/modal.h"
#include "support/window_test.h"
#include "ui/OUBrowser_U.h"
#include "ui/accessible_roles.h"
#include "ui/button_pictures.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/repaint_pacer.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QStyleOption>
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
    void runLog_copiesLinesAsTextInOrder_data();
    void runLog_copiesLinesAsTextInOrder();
    void runLog_contextMenu_ownActionsThenOthers();
    void runLog_saveAs_writesEveryLine();
    void repaintPacer_holdsADrawAndDrawsWhatWaitsAtItsEnd();
    void buttonPictures_outlinesShowOnADarkFace_data();
    void buttonPictures_outlinesShowOnADarkFace();
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

void MainWindowTest::runLog_copiesLinesAsTextInOrder_data()
{
    // Steps: "click N", "shift-click N", a key ("ctrl+a", "ctrl+c", "shift+down",
    // "end") or a context menu entry ("menu Kopieren").
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("Ctrl+A, Ctrl+C: every line") << QStringList{"click 1", "ctrl+a", "ctrl+c"} << "a\nb ü\n\nd";
    QTest::newRow("Ctrl+C: the clicked line") << QStringList{"click 1", "ctrl+c"} << "b ü";
    QTest::newRow("Shift widens upwards, still in order") << QStringList{"click 3", "shift-click 1", "ctrl+c"} << "b ü\n\nd";
    QTest::newRow("Shift+Down widens") << QStringList{"click 0", "shift+down", "ctrl+c"} << "a\nb ü";
    QTest::newRow("a click ends the range") << QStringList{"click 0", "shift+down", "click 3", "ctrl+c"} << "d";
    QTest::newRow("nothing highlighted: nothing copied") << QStringList{"ctrl+c"} << "vorher";
    QTest::newRow("menu: Kopieren") << QStringList{"click 2", "shift+down", "menu Kopieren"} << "\nd";
    QTest::newRow("menu: Alles kopieren, nothing highlighted") << QStringList{"menu Alles kopieren"} << "a\nb ü\n\nd";
}

void MainWindowTest::runLog_copiesLinesAsTextInOrder()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, clipboard);
    FormFixture f(&kClassList);
    f.form->show();
    ui::LogList &log = *f.form->ListBox1;
    for (const char *line : {"a", "b ü", "", "d"})
        log.addLine(QString::fromUtf8(line));
    log.setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral("vorher"));
    for (const QString &step : std::as_const(steps)) {
        const QString argument = step.section(QLatin1Char(' '), 1);
        if (step.startsWith(QLatin1String("click ")))
            QTest::mouseClick(log.viewport(), Qt::LeftButton, {}, log.rowRect(argument.toInt()).center());
        else if (step.startsWith(QLatin1String("shift-click ")))
            QTest::mouseClick(log.viewport(), Qt::LeftButton, Qt::ShiftModifier, log.rowRect(argument.toInt()).center());
        else if (step.startsWith(QLatin1String("menu "))) {
            const auto menu = log.makeContextMenu();
            const QList<QAction *> actions = menu->actions();
            const auto action = std::find_if(actions.begin(), actions.end(), [&](QAction *a) { return a->text() == argument; });
            QVERIFY(action != actions.end());
            (*action)->trigger();
        } else {
            QTest::keySequence(&log, QKeySequence(step));
        }
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
}

void MainWindowTest::runLog_contextMenu_ownActionsThenOthers()
{
    FormFixture f(&kClassList);
    ui::LogList &log = *f.form->ListBox1;
    const auto texts = [&] {
        QStringList shown;
        const auto menu = log.makeContextMenu();
        for (const QAction *action : menu->actions())
            shown.append(action->isSeparator() ? QStringLiteral("—") : action->text() + QLatin1String(action->isEnabled() ? "" : " (grau)"));
        return shown;
    };
    // The window adds its preview and history to the log's menu, after the log's own.
    QCOMPARE(texts(), (QStringList{"Kopieren (grau)", "Alles kopieren (grau)", "Speichern unter… (grau)", "—", "Vorschau…", "Verlauf…"}));
    log.addLine(QStringLiteral("x"));
    QCOMPARE(texts(), (QStringList{"Kopieren (grau)", "Alles kopieren", "Speichern unter…", "—", "Vorschau…", "Verlauf…"}));
}

void MainWindowTest::runLog_saveAs_writesEveryLine()
{
    FormFixture f(&kClassList);
    ui::LogList &log = *f.form->ListBox1;
    log.addLine(QStringLiteral("Schüler1.Abi05a.Gym                      8a"));
    log.addLine(QString());
    log.addLine(QStringLiteral("eingetragen bei 1 Benutzern"));
    const auto saveAs = [&](const QString &path) {
        modal::Answer answer([&](QWidget *window) {
            QVERIFY(qobject_cast<QFileDialog *>(window));
            // Typed, as selectFile() would change the folder behind the dialog's back.
            auto *name = window->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(path);
            QMetaObject::invokeMethod(window, "accept");
        });
        const auto menu = log.makeContextMenu();
        menu->actions().at(2)->trigger();
        QVERIFY(answer.done());
    };
    const QString path = f.folder.filePath(QStringLiteral("protokoll.txt"));
    saveAs(path);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(saved.readAll()), QStringLiteral("Schüler1.Abi05a.Gym                      8a\n\neingetragen bei 1 Benutzern\n"));
    QCOMPARE(messages(), QStringList());

    // A folder that is not there: the standard error box names the file.
    const QString missing = f.folder.filePath(QStringLiteral("fehlt/protokoll.txt"));
    saveAs(missing);
    QCOMPARE(messages().size(), 1);
    QVERIFY2(messages().first().contains(QDir::toNativeSeparators(missing)), qPrintable(messages().first()));
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

void MainWindowTest::buttonPictures_outlinesShowOnADarkFace_data()
{
    QTest::addColumn<QPixmap>("picture");
    QTest::addColumn<bool>("greyed"); // as Qt draws a one-frame picture on a disabled button
    const auto frame = [](const QPixmap &picture, int index) { return picture.copy(index * 16, 0, 16, 16); };
    QTest::newRow("execute") << ui::executePicture() << false;
    QTest::newRow("execute, greyed") << ui::executePicture() << true;
    QTest::newRow("cancel") << frame(ui::cancelPicture(), 0) << false;
    QTest::newRow("cancel, disabled frame") << frame(ui::cancelPicture(), 1) << false;
    QTest::newRow("context") << frame(ui::contextPicture(), 0) << false;
    QTest::newRow("context, disabled frame") << frame(ui::contextPicture(), 1) << false;
}

void MainWindowTest::buttonPictures_outlinesShowOnADarkFace()
{
    QFETCH(QPixmap, picture);
    QFETCH(bool, greyed);
    const QColor face(45, 45, 48);
    if (greyed) {
        QStyleOption option;
        option.palette.setColor(QPalette::Window, face);
        picture = QApplication::style()->generatedIconPixmap(QIcon::Disabled, picture, &option);
    }
    const QImage shapes = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    // No dark pixel touches the bare face (beyond the picture's edge is face, too).
    QStringList lost;
    for (int y = 0; y < shapes.height(); ++y) {
        for (int x = 0; x < shapes.width(); ++x) {
            const QColor pixel = shapes.pixelColor(x, y);
            if (pixel.alpha() < 200 || qMax(pixel.red(), qMax(pixel.green(), pixel.blue())) > 90)
                continue;
            bool bare = false;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx)
                    bare = bare || !shapes.valid(x + dx, y + dy) || qAlpha(shapes.pixel(x + dx, y + dy)) < 60;
            }
            if (bare)
                lost.append(QStringLiteral("(%1, %2)").arg(x).arg(y));
        }
    }
    QVERIFY2(lost.isEmpty(), qPrintable(lost.join(QLatin1Char(' '))));
}

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
