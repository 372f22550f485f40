// The preview and the history windows against the command line on the same
// embedded tree: the preview shows what `klassomat preview` prints, and the
// window's undo writes what `klassomat undo` writes.
#include "support/klassomat_process.h"
#include "directory/client.h"
#include "nwcontrols/register_controls.h"
#include "support/ldif_fixture.h"
#include "directory/embedded/ldif_tree.h"
#include "ndk/names.h"
#include "runs/run_record.h"
#include "ui/Klassomat_U.h"
#include "ui/history_window.h"
#include "support/modal.h"
#include "support/window_test.h"
#include "ui/preview_model.h"
#include "ui/preview_window.h"
#include "ui/radio_group.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

namespace {

const QByteArray kTree =
    "dn: o=Gym\nobjectClass: organization\no: Gym\n\n"
    "dn: ou=Abi05a,o=Gym\nobjectClass: organizationalUnit\nou: Abi05a\n\n"
    "dn: cn=a1,ou=Abi05a,o=Gym\nobjectClass: inetOrgPerson\ncn: a1\nsn: A\nou: alt\n\n"
    "dn: cn=a2,ou=Abi05a,o=Gym\nobjectClass: inetOrgPerson\ncn: a2\nsn: A\n\n"
    "dn: cn=a3,ou=Abi05a,o=Gym\nobjectClass: inetOrgPerson\ncn: a3\nsn: A\nou: 8a\n\n"
    "dn: ou=Bwl07c,o=Gym\nobjectClass: organizationalUnit\nou: Bwl07c\n\n"
    "dn: cn=b1,ou=Bwl07c,o=Gym\nobjectClass: inetOrgPerson\ncn: b1\nsn: B\nou: alt\n\n"
    "dn: ou=Unter,ou=Bwl07c,o=Gym\nobjectClass: organizationalUnit\nou: Unter\n\n"
    "dn: cn=u1,ou=Unter,ou=Bwl07c,o=Gym\nobjectClass: inetOrgPerson\ncn: u1\nsn: U\n\n"
    "dn: ou=Mehr,o=Gym\nobjectClass: organizationalUnit\nou: Mehr\n\n"
    "dn: cn=m1,ou=Mehr,o=Gym\nobjectClass: inetOrgPerson\ncn: m1\nsn: M\nou: Schueler\nou: 7a\n\n";

const QByteArray kClasses = "8a;Abi05a\n8b;Mehr\n9c;Unter\n";

// A data folder with the tree, its configuration and the class list, as
// the command line and the window both use it (one at a time: the tree is
// locked while a program has it open).
struct Folder {
    QTemporaryDir dir;
    Folder()
    {
        fixture::write(dir, kTree, QStringLiteral("a.ldif"));
        fixture::write(dir, "[SCHULE]\nldif=a.ldif\n", QStringLiteral("dirclient.ini"));
        fixture::write(dir, kClasses, QStringLiteral("Klassen.txt"));
    }
    // The values of the attribute of a user below the tree.
    QStringList ou(const QString &path) const
    {
        directory::LdifTree tree(QStringLiteral("SCHULE"), dir.filePath(QStringLiteral("a.ldif")), QString(), {});
        return tree.values(QStringLiteral("NDS:\\\\SCHULE\\") + path, QStringLiteral("ou"));
    }
    void put(const QString &path, const QString &value) const
    {
        directory::LdifTree tree(QStringLiteral("SCHULE"), dir.filePath(QStringLiteral("a.ldif")), QString(), {});
        tree.putAndStore(QStringLiteral("NDS:\\\\SCHULE\\") + path, QStringLiteral("OU"), value);
    }
    [[nodiscard]] QList<runs::RecordedRun> records() const
    {
        return runs::listRunRecords(dir.filePath(QStringLiteral("data/klassomat/runs")), nullptr);
    }
    void run(const QString &context) const
    {
        const Result run = klassomat({QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("NDS:\\\\SCHULE\\") + context,
                                      QStringLiteral("--subtree"), QStringLiteral("--form"), QStringLiteral("0"), QStringLiteral("--yes")});
        QVERIFY2(run.code == 0, qPrintable(run.err));
    }
    // The record of the newest run, without what differs from folder to
    // folder and from run to run; the results, which the command line writes
    // a batch at a time and the window one user at a time, at its end.
    QStringList newestRecord() const
    {
        QStringList lines;
        QStringList results;
        const QString text = QString::fromUtf8(fixture::readAll(records().last().path)).replace(dir.path(), QStringLiteral("DIR"));
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            static const QRegularExpression differs(QStringLiteral("^# (id|undoes|when|sum|ended):"));
            if (line.startsWith(QLatin1String("# result:")))
                results.append(line);
            else if (!differs.match(line).hasMatch())
                lines.append(line);
        }
        results.sort();
        return lines + results;
    }
    Result klassomat(QStringList arguments) const
    {
        if (arguments.first() == QLatin1String("preview") || arguments.first() == QLatin1String("run"))
            arguments << QStringLiteral("--classes") << dir.filePath(QStringLiteral("Klassen.txt"));
        return runKlassomat(arguments, commandEnvironment(dir.path()));
    }
};

// The main window over a folder, with the folder's data folder for its records.
struct Window {
    std::unique_ptr<directory::Client> client;
    std::unique_ptr<TForm1> form;
    explicit Window(const Folder &folder)
    {
        qputenv("DIRCLIENT_CONFIG", folder.dir.filePath(QStringLiteral("dirclient.ini")).toUtf8());
        qputenv("XDG_DATA_HOME", folder.dir.filePath(QStringLiteral("data")).toUtf8());
        client = std::make_unique<directory::Client>();
        nwcontrols::registerControls(*client);
        form = std::make_unique<TForm1>(folder.dir.path());
        form->FDescribeTree = [client = client.get()](runs::RunHeader &header) {
            header.server = client->source(header.tree);
            header.base = client->base(header.tree);
            header.identity = client->identity(header.tree);
            header.attribute = client->attributeName(header.tree, QStringLiteral("OU"));
        };
        form->show();
        form->activateWindow();
    }
    ~Window()
    {
        form.reset();
        qunsetenv("XDG_DATA_HOME");
    }
    void choose(const QString &context, bool subtree, int formIndex)
    {
        form->FStartContext = QStringLiteral("NDS:\\\\SCHULE\\") + context;
        form->EdContext->setText(context);
        form->ChSub->setChecked(subtree);
        form->raForm->setItemIndex(formIndex);
    }
};

// The preview's rows as `klassomat preview` prints them.
QStringList shownAsText(ui::PreviewWindow *preview)
{
    QStringList lines;
    const ui::PreviewModel &model = *preview->Model;
    const auto cell = [&model](int row, int column) { return model.index(row, column).data().toString(); };
    for (int row = 0; row < model.rowCount(); ++row) {
        lines.append(QStringLiteral("%1 %2 -> %3  [%4]  %5")
                         .arg(cell(row, ui::PreviewModel::Name).leftJustified(40), cell(row, ui::PreviewModel::Before),
                              cell(row, ui::PreviewModel::After), cell(row, ui::PreviewModel::Verdict),
                              cell(row, ui::PreviewModel::Dn)));
    }
    lines.append(preview->Summary->text().split(QLatin1Char('\n')).at(2)); // the totals
    for (int row = 0; row < preview->Classes->rowCount(); ++row) {
        const auto cell = [preview, row](int column) { return preview->Classes->item(row, column)->text(); };
        const QString others = cell(4);
        lines.append(QStringLiteral("  %1 → %2: %3 Benutzer%4")
                         .arg(cell(0), cell(1), cell(2), others.isEmpty() ? QString() : QStringLiteral(", ") + others));
    }
    return lines;
}

// What the history showed once its undo of the newest run was over.
struct Undone {
    QString log;
    QList<QStringList> rows; // the runs, each as its cells
};

// Opens the history with F6 and takes the newest run back, answering consent
// and confirmation with "Ja"; `cancelAtStart` presses Cancel as the undo starts.
Undone undoInWindow(const Folder &folder, bool cancelAtStart)
{
    Undone undone;
    Window window(folder);
    if (!QTest::qWaitForWindowActive(window.form.get()))
        return undone;
    modal::Answer consent;
    modal::Answer confirmation;
    const modal::Answer history([&](QWidget *w) {
        auto *history = qobject_cast<ui::HistoryWindow *>(w);
        QVERIFY(history);
        checks::accessible(history);
        consent = modal::Answer([&confirmation, history, cancelAtStart](QWidget *c) {
            confirmation = modal::Answer([history, cancelAtStart](QWidget *d) {
                d->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
                if (cancelAtStart) // reaches the button when the undo first handles window messages
                    QMetaObject::invokeMethod(history->CancelBtn, &QPushButton::click, Qt::QueuedConnection);
            });
            c->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        });
        history->UndoBtn->click(); // the newest run is chosen
        undone.log = history->Log->toPlainText();
        for (int row = 0; row < history->Runs->topLevelItemCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < history->Runs->columnCount(); ++column)
                cells.append(history->Runs->topLevelItem(row)->text(column));
            undone.rows.append(cells);
        }
        history->CloseBtn->click();
    });
    QTest::keyClick(window.form->EdContext, Qt::Key_F6);
    if (!history.done() || !consent.done() || !confirmation.done())
        undone.log = QStringLiteral("a window did not come up");
    return undone;
}

} // namespace

class HistoryWindowsTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void preview_equalsCommandLine_data();
    void preview_equalsCommandLine();
    void undo_equalsCommandLine_data();
    void undo_equalsCommandLine();
    void undo_cancelled_triesNoUserAndLeavesRunOpen();
};

void HistoryWindowsTest::initTestCase()
{
    // Not Qt's test folders: the window and the command line share one data folder.
    QCoreApplication::setApplicationName(QStringLiteral("klassomat"));
}

void HistoryWindowsTest::preview_equalsCommandLine_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<bool>("subtree");
    QTest::addColumn<int>("form");
    QTest::newRow("the school, whole subtree, container names") << "Gym" << true << 0;
    QTest::newRow("the school, whole subtree, classes (one missing)") << "Gym" << true << 1;
    QTest::newRow("the school, whole subtree, class and container") << "Gym" << true << 2;
    QTest::newRow("one class, one level, container and class") << "Gym\\Abi05a" << false << 3;
    QTest::newRow("a class with a class below it, one level") << "Gym\\Bwl07c" << false << 1;
}

void HistoryWindowsTest::preview_equalsCommandLine()
{
    QFETCH(QString, context);
    QFETCH(bool, subtree);
    QFETCH(int, form);
    const Folder folder;
    QStringList arguments{QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("NDS:\\\\SCHULE\\") + context,
                          QStringLiteral("--form"), QString::number(form)};
    if (subtree)
        arguments.append(QStringLiteral("--subtree"));
    const Result printed = folder.klassomat(arguments);
    QVERIFY2(printed.code == 0, qPrintable(printed.err));

    Window window(folder);
    window.choose(context, subtree, form);
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    QStringList shown;
    const modal::Answer answer([&shown](QWidget *w) {
        auto *preview = qobject_cast<ui::PreviewWindow *>(w);
        QVERIFY(preview);
        shown = shownAsText(preview);
        checks::accessible(preview);
        QTest::keyClick(preview, Qt::Key_Escape);
    });
    QTest::keyClick(window.form->ChSub, Qt::Key_F5); // the key works wherever the focus is
    QVERIFY(answer.done());
    QCOMPARE(shown, printed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    QVERIFY(messages().isEmpty());
}

void HistoryWindowsTest::undo_equalsCommandLine_data()
{
    QTest::addColumn<QString>("laterChange"); // a user's value changed after the run, or none
    QTest::addColumn<QString>("state");       // the run's state afterwards; %1: the undo
    QTest::newRow("every user back") << QString() << "zurückgenommen von %1";
    QTest::newRow("a value changed since is skipped") << "Gym\\Abi05a\\a1" << "teilweise zurückgenommen (1 offen)";
}

// The same run in two folders; one is taken back in the window, the other by
// the command line: the same values come back and the same record is written.
void HistoryWindowsTest::undo_equalsCommandLine()
{
    QFETCH(QString, laterChange);
    QFETCH(QString, state);
    const Folder inWindow;
    const Folder onCommandLine;
    for (const Folder *folder : {&inWindow, &onCommandLine}) {
        folder->run(QStringLiteral("Gym"));
        if (!laterChange.isEmpty())
            folder->put(laterChange, QStringLiteral("fremd"));
    }
    const Result undone = onCommandLine.klassomat({QStringLiteral("undo"), onCommandLine.records().last().header.id});
    QVERIFY2(undone.code == (laterChange.isEmpty() ? 0 : 1), qPrintable(undone.err));
    const auto [log, rows] = undoInWindow(inWindow, false);
    QVERIFY2(messages().isEmpty(), qPrintable(messages().join(QLatin1Char('\n'))));

    // What the window said is what the command line said.
    const QStringList said = undone.out.split(QLatin1Char('\n'));
    QVERIFY2(log.contains(said.first()), qPrintable(log)); // "Zurückgenommen: …"
    static const QRegularExpression fullName(QStringLiteral("NDS:[^:]*"));
    for (QString line : undone.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString name = fullName.match(line).captured();
        QVERIFY2(log.contains(line.replace(name, ndk::ToDottedName(name))), qPrintable(line)); // the window's log names users as its lines do
    }
    for (const QString &user : {QStringLiteral("Gym\\Abi05a\\a1"), QStringLiteral("Gym\\Abi05a\\a2"), QStringLiteral("Gym\\Bwl07c\\b1"),
                                QStringLiteral("Gym\\Bwl07c\\Unter\\u1"), QStringLiteral("Gym\\Mehr\\m1")})
        QCOMPARE(inWindow.ou(user), onCommandLine.ou(user));
    QCOMPARE(inWindow.newestRecord(), onCommandLine.newestRecord());

    // The listing is `klassomat runs` (the state after the counts, the server
    // before the context), the undone run marked.
    QStringList listed;
    for (QStringList cells : rows) {
        const QString state = cells.at(6);
        cells.move(8, 4);
        cells.removeAt(7);
        if (state != QLatin1String("zu Ende"))
            cells.last() += QStringLiteral(", ") + state;
        listed.append(cells.join(QLatin1Char('\t')));
    }
    QCOMPARE(listed, inWindow.klassomat({QStringLiteral("runs")}).out.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    QCOMPARE(rows.first().at(6), state.arg(inWindow.records().last().header.id));
}

// Cancel pressed as the undo starts: no user is sent, the log says so, and
// the run stays open for the next undo.
void HistoryWindowsTest::undo_cancelled_triesNoUserAndLeavesRunOpen()
{
    const Folder folder;
    folder.run(QStringLiteral("Gym\\Abi05a"));
    const auto [log, rows] = undoInWindow(folder, true);
    const runs::RecordedRun undo = folder.records().last();
    QVERIFY2(log.endsWith(QStringLiteral("***abgebrochen***\nZurückgenommen: 0, übersprungen: 0, abgelehnt: 0, unbestätigt: 0\n"
                                         "nicht versucht: 3\nLaufprotokoll: %1 (%2)").arg(undo.path, undo.header.id)),
             qPrintable(log));
    QCOMPARE(undo.users.size(), 0);
    QVERIFY2(rows.first().at(6).contains(QStringLiteral("(3 offen)")), qPrintable(rows.first().at(6))); // the next undo takes them back
    QCOMPARE(folder.ou(QStringLiteral("Gym\\Abi05a\\a1")), QStringList{"Abi05a"});
}

QTEST_MAIN(HistoryWindowsTest)
#include "test_history_windows.moc"
