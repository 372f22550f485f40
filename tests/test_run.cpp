// The assignment run: its writes, log and status on every path.
#include "directory/embedded/ldif_tree.h"
#include "ndk/ndk_u.h"
#include "platform/error.h"
#include "platform/message_pump.h"
#include "support/form_fixture.h"
#include "support/ldif_fixture.h"
#include "support/live_window.h"
#include "support/message_capture.h"
#include "runs/run_record.h"
#include "runs/run_state.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/status_bar.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QtTest>

#include <optional>

namespace {
const QByteArray kClassList("8a;Abi05a\n9x;Abi04x\n");
const QString kHyphens(52, QLatin1Char('-'));

QVariantList users(int count)
{
    QVariantList names;
    for (int i = 1; i <= count; ++i)
        names.append(QStringLiteral("NDS:\\\\TREE\\Gym\\Abi05a\\u%1").arg(i));
    return names;
}
} // namespace

class RunTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void embeddedTree_eachForm_data();
    void embeddedTree_eachForm();
    void oneLevelVersusSubtree();
    void classOrName_skippedAsTheCommandLineRefuses_data();
    void classOrName_skippedAsTheCommandLineRefuses();
    void statusAfterEachUser_andScopeResetAfterRun();
    void cancelDuringSearch_writesNothing();
    void cancelWhileSearchNeverEnds_stopsWaiting();
    void cancelAfterK_stopsBeforeNext();
    void writeErrorOnUserKPlus1_endsThroughFailurePath();
    void failingSearch_endsThroughFailurePath();
    void formSwitchedDuringRun_appliesToNextUser();
    void secondRun_clearsLog();
    void longDottedName_notCut_emptyDesignation();
    void noUsers();
    void delay_waitsAtLeastAndZeroHandlesNothing();
    void logLine_nameWithPlaceholder_keptAsItIs();
    void record_refusedWrite_recordedAndNotCounted();
    void record_secondRun_unchangedUsersNotWrittenButCounted();
    void multiValued_otherValuesNeverWiped();

private:
    std::optional<MessageCapture> m_boxes;
};

void RunTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void RunTest::init()
{
    QDir(runs::runsFolder()).removeRecursively();
    m_boxes.emplace();
}

void RunTest::cleanup()
{
    m_boxes.reset();
}

void RunTest::embeddedTree_eachForm_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("anna");
    QTest::addColumn<QString>("juergen");
    QTest::newRow("0 container") << 0 << "Abi05a" << "Abi04x";
    QTest::newRow("1 class") << 1 << "8a" << "9x";
    QTest::newRow("2 class, container") << 2 << "8a, Abi05a" << "9x, Abi04x";
    QTest::newRow("3 container, class") << 3 << "Abi05a, 8a" << "Abi04x, 9x";
}

void RunTest::embeddedTree_eachForm()
{
    QFETCH(int, form);
    QFETCH(QString, anna);
    QFETCH(QString, juergen);
    LiveWindow live(kClassList);
    TForm1 &window = *live.form;
    window.FStartContext = QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a");
    window.ChSub->setChecked(true);
    window.raForm->setItemIndex(form);
    window.SetRunButtonFace(window.FGlyphCancel);
    window.RunAssignment();

    directory::LdifTree &tree = live.tree();
    const QString annaName = QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\Schmidt, Anna");
    const QString juergenName = QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a\\Abi04x\\Jürgen Łodzę");
    QCOMPARE(tree.values(annaName, QStringLiteral("ou")), QStringList{anna});
    QCOMPARE(tree.values(juergenName, QStringLiteral("ou")), QStringList{juergen});
    const QStringList log = live.log();
    const runs::RecordedRun record = runs::listRunRecords(runs::runsFolder(), nullptr).constFirst();
    QCOMPARE(log.first(), QStringLiteral("Laufprotokoll: %1 (%2)").arg(QDir::toNativeSeparators(record.path), record.header.id));
    const QString mueller = form == 0 || form == 3 ? QStringLiteral("Abi05a") + (form == 3 ? QStringLiteral(", 8a") : QString())
                                                   : QStringLiteral("8a") + (form == 2 ? QStringLiteral(", Abi05a") : QString());
    QCOMPARE(log.mid(1), (QStringList{QStringLiteral("%1 %2").arg(QStringLiteral("mueller.Abi05a.Gym"), -40).arg(mueller),
                               QStringLiteral("%1 %2").arg(QStringLiteral("Schmidt, Anna.Abi05a.Gym"), -40).arg(anna),
                               QStringLiteral("%1 %2").arg(QStringLiteral("Jürgen Łodzę.Abi04x.Abi05a.Gym"), -40).arg(juergen),
                               kHyphens, QStringLiteral("eingetragen bei 3 Benutzern")}));
    QCOMPARE(window.StatusBar1->panelText(0), QStringLiteral("3/3"));
    // The journal holds what was stored, replayable with ldapmodify.
    QFile journal(tree.journalPath());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QVERIFY(journal.readAll().contains("dn: cn=Schmidt\\, Anna,ou=Abi05a,o=Gym\nchangetype: modify\ndelete: ou\nou: alt\n-\nadd: ou\n"));
    QCOMPARE(m_boxes->texts(), QStringList());
}

void RunTest::oneLevelVersusSubtree()
{
    FormFixture f(&kClassList);
    f.form->FStartContext = QStringLiteral("NDS:\\\\TREE\\Gym");
    f.form->ChSub->setChecked(false);
    f.run();
    f.form->ChSub->setChecked(true);
    f.run();
    // The search text names the attribute whose old values each hit brings.
    QCOMPARE(f.fakes.directory->searches.at(0), (QVariantList{QStringLiteral("OU"), QStringLiteral("User"), 1, QStringLiteral("NDS:\\\\TREE\\Gym"), 0}));
    QCOMPARE(f.fakes.directory->searches.at(1).at(2).toInt(), 2);
}

void RunTest::classOrName_skippedAsTheCommandLineRefuses_data()
{
    QTest::addColumn<QByteArray>("classList");
    QTest::addColumn<int>("form");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("logged"); // after each dotted name
    const QStringList one{QStringLiteral("NDS:\\\\TREE\\Gym\\Bwl07c\\x")};
    const QString skipped = QStringLiteral("– nicht eingetragen: ");
    QTest::newRow("missing class, form 2") << QByteArray("8a;Abi05a\n") << 2 << one << QStringList{skipped + "Klasse fehlt in der Klassenliste"};
    QTest::newRow("class empty on purpose, form 2") << QByteArray(";Bwl07c\n") << 2 << one << QStringList{", Bwl07c"};
    QTest::newRow("class empty on purpose, form 3") << QByteArray(";Bwl07c\n") << 3 << one << QStringList{"Bwl07c, "};
    QTest::newRow("twin names, then another user") << QByteArray(";Bwl07c\n") << 0 << QStringList{one.first(), one.first(), "NDS:\\\\TREE\\Gym\\Bwl07c\\y"}
                                                   << QStringList{skipped + "Name nicht eindeutig", skipped + "Name nicht eindeutig", "Bwl07c"};
}

// The window cannot refuse a run before it starts, as the command line does:
// it leaves the user out, says why, and goes on.
void RunTest::classOrName_skippedAsTheCommandLineRefuses()
{
    QFETCH(QByteArray, classList);
    QFETCH(int, form);
    QFETCH(QStringList, names);
    QFETCH(QStringList, logged);
    FormFixture f(&classList);
    f.fakes.directory->results = QVariantList(names.cbegin(), names.cend());
    f.form->raForm->setItemIndex(form);
    f.run();
    QStringList expected;
    QList<QStringList> stores;
    for (qsizetype i = 0; i < names.size(); ++i) {
        expected.append(QString(names.at(i).section(QLatin1Char('\\'), -1) + QStringLiteral(".Bwl07c.Gym")).leftJustified(40) + QLatin1Char(' ') + logged.at(i));
        if (!logged.at(i).startsWith(QStringLiteral("–")))
            stores.append({names.at(i), QStringLiteral("OU"), logged.at(i)});
    }
    expected << kHyphens << QStringLiteral("eingetragen bei %1 Benutzern").arg(stores.size());
    QCOMPARE(f.log().mid(1), expected); // after the record's line
    QCOMPARE(f.fakes.directory->stores, stores);
}

void RunTest::statusAfterEachUser_andScopeResetAfterRun()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = users(3);
    QStringList statuses;
    f.fakes.directory->onStore = [&] { statuses.append(f.form->StatusBar1->panelText(0)); };
    f.form->ChSub->setChecked(false);
    f.run();
    statuses.append(f.form->StatusBar1->panelText(0));
    QCOMPARE(statuses, (QStringList{"", "0/3 ", "1/3 ", "3/3"}));
    QCOMPARE(NDK->FScope, 2);
    QCOMPARE(f.form->buAusfuehren->text(), QStringLiteral("&Ausfuehren"));
    QVERIFY(f.form->buAusfuehren->isEnabled());
    QCOMPARE(f.form->ListBox1->currentRow(), -1);
}

void RunTest::cancelDuringSearch_writesNothing()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = users(4);
    f.fakes.directory->onSearch = [&] { f.form->buAusfuehren->click(); };
    f.run();
    QCOMPARE(f.fakes.directory->stores.size(), 0);
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("0/4"));
    QCOMPARE(f.log(), (QStringList{"***abgebrochen***", "während der Suche, nichts geschrieben"}));
    QVERIFY(f.form->buAusfuehren->isEnabled());
    QVERIFY(runs::listRunRecords(runs::runsFolder(), nullptr).isEmpty()); // nothing planned, nothing recorded
}

void RunTest::cancelWhileSearchNeverEnds_stopsWaiting()
{
    FormFixture f(&kClassList);
    f.fakes.directory->completes = false;
    // Only a run still waiting takes this answer (it would show 0/1); it keeps
    // the test from hanging.
    const QVariantList stale{QStringLiteral("NDS:\\\\TREE\\Alt\\x")};
    QTimer::singleShot(2000, f.form.get(), [&] { f.fakes.directory->completeWith(stale); });
    QTimer::singleShot(0, f.form->buAusfuehren, &QToolButton::click);
    f.run();
    QCOMPARE(f.log(), (QStringList{"***abgebrochen***", "während der Suche, nichts geschrieben"}));
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("0/0"));
    QVERIFY(f.form->buAusfuehren->isEnabled());

    // The given-up search answers just before the next run's search: its
    // hits are not that run's.
    f.fakes.directory->completeWith(stale);
    f.fakes.directory->completes = true;
    f.fakes.directory->results = users(3);
    f.run();
    QCOMPARE(f.fakes.directory->stores.size(), 3);
    QCOMPARE(f.log().last(), QStringLiteral("eingetragen bei 3 Benutzern"));
}

void RunTest::cancelAfterK_stopsBeforeNext()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = users(5);
    f.fakes.directory->onStore = [&] {
        if (f.fakes.directory->stores.size() == 1) // while user 2 is handled
            QTimer::singleShot(0, f.form->buAusfuehren, &QToolButton::click);
    };
    f.run();
    QCOMPARE(f.fakes.directory->stores.size(), 2);
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("2/5"));
    QCOMPARE(f.log().size(), 5); // the record, two users, the closing lines
    QCOMPARE(f.log().mid(3), (QStringList{"***abgebrochen***", "nicht versucht: 3"}));
    const QList<runs::RecordedRun> records = runs::listRunRecords(runs::runsFolder(), nullptr);
    QCOMPARE(runs::runState(records.constFirst(), records), QStringLiteral("abgebrochen, nicht versucht: 3"));
    QCOMPARE(f.form->buAusfuehren->text(), QStringLiteral("&Ausfuehren"));
    QVERIFY(f.form->buAusfuehren->isEnabled());
}

void RunTest::writeErrorOnUserKPlus1_endsThroughFailurePath()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = users(5);
    f.fakes.directory->failStoreAt = 3;
    f.form->SetRunButtonFace(f.form->FGlyphCancel);
    QVERIFY_THROWS_EXCEPTION(platform::Error, f.form->RunAssignment());
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("3/5"));
    QCOMPARE(f.log().size(), 6);
    // The refused write is not counted, and the users after it are not tried.
    QCOMPARE(f.log().mid(3), (QStringList{kHyphens, "eingetragen bei 2 Benutzern", "abgelehnt bei 1 Benutzern, nicht versucht: 2"}));
    QCOMPARE(f.form->buAusfuehren->text(), QStringLiteral("&Ausfuehren"));
    QVERIFY(f.form->buAusfuehren->isEnabled());
    QCOMPARE(NDK->FScope, 2);

    QCOMPARE(m_boxes->texts(), QStringList());
}

void RunTest::failingSearch_endsThroughFailurePath()
{
    FormFixture f(&kClassList);
    f.fakes.directory->failSearch = true;
    f.form->ListBox1->addLine(QStringLiteral("alt"));
    QVERIFY_THROWS_EXCEPTION(platform::Error, f.run());
    QCOMPARE(f.log(), (QStringList{kHyphens, "eingetragen bei 0 Benutzern"}));
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("0/0"));
    QVERIFY(!NDK->FSearching);
}

void RunTest::formSwitchedDuringRun_appliesToNextUser()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = users(3);
    f.fakes.directory->onStore = [&] {
        if (f.fakes.directory->stores.size() == 1) // while user 2 is handled
            QTimer::singleShot(0, [&] { f.form->raForm->setItemIndex(1); });
    };
    f.run();
    QCOMPARE(f.fakes.directory->stores.at(0).at(2), QStringLiteral("Abi05a"));
    QCOMPARE(f.fakes.directory->stores.at(1).at(2), QStringLiteral("Abi05a")); // switched while it was written
    QCOMPARE(f.fakes.directory->stores.at(2).at(2), QStringLiteral("8a"));
}

void RunTest::secondRun_clearsLog()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = users(2);
    f.run();
    f.run();
    QCOMPARE(f.log().size(), 5);
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("2/2"));
}

void RunTest::longDottedName_notCut_emptyDesignation()
{
    FormFixture f(&kClassList);
    const QString longName = QString(45, QLatin1Char('n'));
    f.fakes.directory->results = QVariantList{QStringLiteral("NDS:\\\\TREE\\G\\Abi05a\\") + longName,
                                              QStringLiteral("NDS:\\\\TREE\\G\\Nix\\k")};
    f.form->raForm->setItemIndex(1);
    f.run();
    QCOMPARE(f.log().at(1), longName + QStringLiteral(".Abi05a.G 8a"));
    QCOMPARE(f.log().at(2), QStringLiteral("k.Nix.G").leftJustified(40) + QStringLiteral(" – nicht eingetragen: Klasse fehlt in der Klassenliste"));
    // A missing class is not written, nor counted.
    QCOMPARE(f.fakes.directory->stores.size(), 1);
    QCOMPARE(f.log().last(), QStringLiteral("eingetragen bei 1 Benutzern"));
}

void RunTest::noUsers()
{
    FormFixture f(&kClassList);
    f.run();
    QCOMPARE(f.log().mid(1), (QStringList{kHyphens, "eingetragen bei 0 Benutzern"}));
    QCOMPARE(f.form->StatusBar1->panelText(0), QStringLiteral("0/0"));
}

void RunTest::delay_waitsAtLeastAndZeroHandlesNothing()
{
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    platform::DelayWithMessages(0);
    QVERIFY(!handled);
    QElapsedTimer clock;
    clock.start();
    platform::DelayWithMessages(30);
    QVERIFY(clock.elapsed() >= 30);
    QVERIFY(handled);
}

void RunTest::logLine_nameWithPlaceholder_keptAsItIs()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = QVariantList{QStringLiteral("NDS:\\\\TREE\\G\\Abi05a\\x%1y%2")};
    f.form->raForm->setItemIndex(3);
    f.run();
    QCOMPARE(f.log().at(1), QStringLiteral("x%1y%2.Abi05a.G").leftJustified(40) + QStringLiteral(" Abi05a, 8a"));
}

void RunTest::record_refusedWrite_recordedAndNotCounted()
{
    FormFixture f(&kClassList);
    f.fakes.directory->results = users(3);
    f.fakes.directory->failStoreAt = 2;
    QVERIFY_THROWS_EXCEPTION(platform::Error, f.run());
    QCOMPARE(f.log().mid(f.log().size() - 2), (QStringList{"eingetragen bei 1 Benutzern", "abgelehnt bei 1 Benutzern, nicht versucht: 1"}));

    const QList<runs::RecordedRun> records = runs::listRunRecords(runs::runsFolder(), nullptr);
    QCOMPARE(records.size(), 1);
    const runs::RecordedRun &r = records.first();
    QCOMPARE(r.header.tree, QStringLiteral("TREE"));
    QCOMPARE(r.header.context, f.form->FStartContext);
    QVERIFY(r.ended);
    QCOMPARE(r.users.size(), 2); // the run stopped at the refusal: user 3 was never reached
    QCOMPARE(r.users.at(0).outcome, runs::Outcome::Written);
    QCOMPARE(r.users.at(1).outcome, runs::Outcome::Refused);
    QVERIFY(r.users.at(1).message.contains(QStringLiteral("verweigert")));
    QCOMPARE(r.users.at(1).after, QStringList{"Abi05a"});
    QCOMPARE(QFileInfo(r.path).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());
}

void RunTest::record_secondRun_unchangedUsersNotWrittenButCounted()
{
    LiveWindow live(kClassList);
    TForm1 &window = *live.form;
    window.FStartContext = QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a");
    window.raForm->setItemIndex(1);
    const auto runOnce = [&] {
        window.SetRunButtonFace(window.FGlyphCancel);
        window.RunAssignment();
    };
    runOnce();
    const qint64 journalAfterFirst = QFileInfo(live.tree().journalPath()).size();
    runOnce();
    QCOMPARE(QFileInfo(live.tree().journalPath()).size(), journalAfterFirst);
    QCOMPARE(live.lastLogLine(), QStringLiteral("eingetragen bei 2 Benutzern"));

    const QList<runs::RecordedRun> records = runs::listRunRecords(runs::runsFolder(), nullptr);
    QCOMPARE(records.size(), 2);
    const runs::RecordedUser &anna = records.at(0).users.at(1);
    QCOMPARE(anna.dn, QStringLiteral("cn=Schmidt\\, Anna,ou=Abi05a,o=Gym"));
    QCOMPARE(anna.before, QStringList{"alt"});
    QCOMPARE(anna.after, QStringList{"8a"});
    QCOMPARE(records.at(0).header.form, 1);
    QCOMPARE(records.at(0).count(runs::Outcome::Written), 2);
    QCOMPARE(records.at(1).count(runs::Outcome::Unchanged), 2);
}

void RunTest::multiValued_otherValuesNeverWiped()
{
    LiveWindow live(kClassList, "dn: o=Gym\nobjectClass: organization\no: Gym\n\n"
                                "dn: ou=Abi05a,o=Gym\nobjectClass: organizationalUnit\nou: Abi05a\n\n"
                                "dn: cn=a,ou=Abi05a,o=Gym\nobjectClass: inetOrgPerson\ncn: a\nsn: A\nou: Schueler\nou: Bibliothek\n");
    TForm1 &window = *live.form;
    window.FStartContext = QStringLiteral("NDS:\\\\SCHULE\\Gym\\Abi05a");
    window.raForm->setItemIndex(1);
    window.SetRunButtonFace(window.FGlyphCancel);
    window.RunAssignment();
    QCOMPARE(live.ou(QStringLiteral("Gym\\Abi05a\\a")), (QStringList{"Schueler", "Bibliothek", "8a"}));
    QCOMPARE(live.lastLogLine(), QStringLiteral("eingetragen bei 1 Benutzern"));
}

QTEST_MAIN(RunTest)
#include "test_run.moc"
