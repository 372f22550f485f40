#include "ui/history_window.h"

#include "ndk/names.h"
#include "ndk/ndk_u.h"
#include "platform/design_fonts.h"
#include "platform/error.h"
#include "platform/handler_guard.h"
#include "platform/message_box.h"
#include "platform/message_pump.h"
#include "runs/run.h"
#include "runs/run_state.h"
#include "runs/undo.h"
#include "ui/HaftungsZustimmung.h"
#include "ui/facade_users.h"
#include "ui/preview_model.h"
#include "ui/yes_no_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace ui {

namespace {

// The state before the counts, so that it shows without scrolling.
enum Column { Id, When, Who, Tree, Context, What, State, Counts, Server, ColumnCount };

QString countsText(const runs::RecordedRun &r)
{
    return QStringLiteral("geschrieben %1, unverändert %2, abgelehnt %3, unbestätigt %4, übersprungen %5")
        .arg(r.count(runs::Outcome::Written)).arg(r.count(runs::Outcome::Unchanged)).arg(r.count(runs::Outcome::Refused))
        .arg(r.count(runs::Outcome::Unconfirmed)).arg(r.count(runs::Outcome::Skipped));
}

// The state as `klassomat runs` tells it, after the counts.
QString stateText(const runs::RecordedRun &r, const QList<runs::RecordedRun> &records)
{
    QStringList state;
    if (!r.damage.isEmpty())
        state.append(QStringLiteral("beschädigt (%1)").arg(r.damage));
    if (const QString text = runs::runState(r, records); !text.isEmpty())
        state.append(text);
    return state.isEmpty() ? QStringLiteral("zu Ende") : state.join(QStringLiteral(", "));
}

QString changeLine(const runs::RecordedUser &change)
{
    return QStringLiteral("%1 %2 -> %3")
        .arg(ndk::ToDottedName(change.fullName).leftJustified(40), valuesText(change.before), valuesText(change.after));
}

// The undo's changes go through the facade, one at a time, into `attribute`:
// the values found are deleted, the values once taken back added.
runs::Store storeThroughFacade(const QString &attribute)
{
    return [attribute](const QList<runs::RecordedUser> &changes, const runs::Answered &answered) {
        for (qsizetype i = 0; i < changes.size(); ++i) {
            std::exception_ptr failure;
            try {
                TheNDK().SetAttributeValues(changes.at(i).fullName, attribute, changes.at(i).before, changes.at(i).after);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!answered(i, failure))
                return;
        }
    };
}

bool confirmed(QWidget *owner, const runs::RecordedRun &run, qsizetype changes, int skipped)
{
    {
        TFZustimmung consent(owner);
        FZustimmung = &consent;
        const auto cleared = qScopeGuard([] { FZustimmung = nullptr; });
        if (consent.exec() != platform::ModalDialog::ResultOk)
            return false;
    }
    YesNoDialog confirmation(owner, {.clientHeight = 179,
                                     .cancelText = QStringLiteral("Abbrechen"),
                                     .memoText = Qt::black,
                                     .question = QStringLiteral("Die Rücknahme soll jetzt durchgeführt werden"),
                                     .questionLeft = 16});
    confirmation.setObjectName(QStringLiteral("UndoConfirmation"));
    confirmation.setWindowTitle(QStringLiteral("Zurücknehmen"));
    confirmation.Memo1->setAccessibleName(QStringLiteral("Zusammenfassung der Rücknahme"));
    confirmation.Memo1->addLine(QStringLiteral("Lauf %1").arg(run.header.id));
    confirmation.Memo1->addLine(QStringLiteral("vom %1 im Kontext").arg(run.header.when.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"))));
    confirmation.Memo1->addLine(ndk::ToDottedName(run.header.context));
    confirmation.Memo1->addLine(QStringLiteral("wird bei %1 Benutzern zurückgenommen").arg(changes));
    confirmation.Memo1->addLine(QStringLiteral("(übersprungen: %1)").arg(skipped));
    confirmation.Memo1->addLine(QString());
    confirmation.Memo1->addLine(QStringLiteral("(Die Anwendung erfolgt auf eigene Gefahr!)"));
    return confirmation.exec() == platform::ModalDialog::ResultOk;
}

} // namespace

HistoryWindow::HistoryWindow(QWidget *owner, DescribeTree describe)
    : QDialog(owner), m_describe(std::move(describe))
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("klassomat – Verlauf"));
    resize(760, 460); // fits a screen 512 pixels high (1366 × 768 at 150 %) with its frame

    Runs = new QTreeWidget(this);
    Runs->setObjectName(QStringLiteral("Runs"));
    Runs->setAccessibleName(QStringLiteral("Läufe"));
    Runs->setAccessibleDescription(QStringLiteral("Die Läufe dieses Datenordners, der älteste zuerst."));
    Runs->setRootIsDecorated(false);
    Runs->setUniformRowHeights(true);
    Runs->setHeaderLabels({QStringLiteral("Lauf"), QStringLiteral("Zeit"), QStringLiteral("Wer"), QStringLiteral("Baum"),
                           QStringLiteral("Kontext"), QStringLiteral("Art"), QStringLiteral("Zustand"),
                           QStringLiteral("Ergebnis"), QStringLiteral("Server")});
    connect(Runs, &QTreeWidget::currentItemChanged, this, [this] { platform::guarded([this] { RunsCurrentChange(); }); });

    Record = new QPlainTextEdit(this);
    Record->setObjectName(QStringLiteral("Record"));
    Record->setReadOnly(true);
    Record->setLineWrapMode(QPlainTextEdit::NoWrap);
    Record->setFont(platform::monospacedDesignFont());
    Record->setAccessibleName(QStringLiteral("Laufprotokoll"));
    Record->setAccessibleDescription(QStringLiteral("Das Laufprotokoll des gewählten Laufs als Text."));

    Log = new QPlainTextEdit(this);
    Log->setObjectName(QStringLiteral("Log"));
    Log->setReadOnly(true);
    Log->setLineWrapMode(QPlainTextEdit::NoWrap);
    Log->setFont(platform::monospacedDesignFont());
    Log->setAccessibleName(QStringLiteral("Rücknahme"));
    Log->setAccessibleDescription(QStringLiteral("Was die Rücknahme täte und was sie tut, Benutzer für Benutzer."));

    UndoBtn = new QPushButton(QStringLiteral("&Zurücknehmen…"), this);
    UndoBtn->setObjectName(QStringLiteral("UndoBtn"));
    connect(UndoBtn, &QPushButton::clicked, this, [this] { platform::guarded([this] { UndoBtnClick(); }); });
    CancelBtn = new QPushButton(QStringLiteral("&Abbrechen"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setEnabled(false);
    connect(CancelBtn, &QPushButton::clicked, this, [this] {
        m_cancelRequested = true;
        CancelBtn->setEnabled(false);
    });
    CloseBtn = new QPushButton(QStringLiteral("Schließen"), this);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    connect(CloseBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(Runs);
    split->addWidget(Record);
    split->addWidget(Log);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    split->setStretchFactor(2, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(UndoBtn);
    buttons->addWidget(CancelBtn);
    buttons->addStretch();
    buttons->addWidget(CloseBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);
}

void HistoryWindow::fill(const QString &select)
{
    QStringList problems;
    m_records = runs::listRunRecords(runs::runsFolder(), &problems);
    Runs->clear();
    QTreeWidgetItem *current = nullptr;
    for (const runs::RecordedRun &r : std::as_const(m_records)) {
        const QString what = r.header.kind == QLatin1String("undo") ? QStringLiteral("Rücknahme von %1").arg(r.header.undoes)
                                                                    : QStringLiteral("Form %1").arg(r.header.form);
        auto *item = new QTreeWidgetItem(Runs, {r.header.id, r.header.when.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                                                r.header.who, r.header.tree, ndk::ToDottedName(r.header.context), what,
                                                stateText(r, m_records), countsText(r), r.header.server});
        if (select.isEmpty() || r.header.id == select)
            current = item;
    }
    for (int column = 0; column < ColumnCount; ++column)
        Runs->resizeColumnToContents(column);
    if (current)
        Runs->setCurrentItem(current); // the newest unless told
    if (!problems.isEmpty())
        Log->appendPlainText(problems.join(QLatin1Char('\n')));
}

void HistoryWindow::RunsCurrentChange()
{
    const int row = Runs->indexOfTopLevelItem(Runs->currentItem());
    UndoBtn->setEnabled(row >= 0 && !m_undoing);
    if (row < 0) {
        Record->clear();
        return;
    }
    QFile file(m_records.at(row).path);
    if (!file.open(QIODevice::ReadOnly))
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht gelesen werden: %2").arg(file.fileName(), file.errorString()));
    Record->setPlainText(QString::fromUtf8(file.readAll()));
}

void HistoryWindow::UndoBtnClick()
{
    const int row = Runs->indexOfTopLevelItem(Runs->currentItem());
    if (row < 0 || m_undoing)
        return;
    undo(m_records.at(row));
}

void HistoryWindow::undo(runs::RecordedRun run)
{
    if (!run.damage.isEmpty())
        throw platform::Error(QStringLiteral("Laufprotokoll %1, %2; im Terminal nimmt klassomat undo --ignore-checksum es trotzdem zurück")
                                  .arg(run.path, run.damage));
    const runs::Undo undo(run, m_records);
    if (undo.done()) {
        platform::showMessage(QMessageBox::Information, QStringLiteral("Lauf %1 ist schon zurückgenommen, von Lauf %2.")
                                                            .arg(run.header.id, (undo.history().by.isEmpty() ? undo.history().undos : undo.history().by)
                                                                                    .join(QStringLiteral(", "))));
        return;
    }
    const QString treeHere = ndk::TreeName(TheNDK().TreeRoot());
    if (run.header.tree.compare(treeHere, Qt::CaseInsensitive) != 0)
        throw platform::Error(QStringLiteral("Lauf %1 lief im Baum %2; dieses Fenster arbeitet im Baum %3").arg(run.header.id, run.header.tree, treeHere));
    runs::RunHeader now;
    now.tree = run.header.tree;
    if (m_describe)
        m_describe(now);
    // A record from before identities were kept is judged by server and base.
    const runs::DirectoryPlace here{now.server, now.base, run.header.identity.isEmpty() ? QString() : now.identity};
    if (!undo.sameDirectory(here))
        throw platform::Error(QStringLiteral("Lauf %1 lief auf %2; der Baum zeigt jetzt auf %3").arg(run.header.id, undo.ranOn().text(), here.text()));

    // The dry run.
    Log->clear();
    Log->appendPlainText(QStringLiteral("Rücknahme von Lauf %1, vorher:").arg(run.header.id));
    for (const QString &warning : undo.warnings(now.attribute))
        Log->appendPlainText(warning);
    QList<runs::UndoStep> steps;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        steps = undo.plan(findUsers(run.header.context, run.header.subtree, undo.attribute()));
    }
    qsizetype toWrite = 0;
    int skipped = 0;
    for (const runs::UndoStep &step : std::as_const(steps)) {
        const QString name = ndk::ToDottedName(step.change.fullName);
        if (step.writes) {
            ++toWrite;
            Log->appendPlainText(changeLine(step.change));
            if (!step.reason.isEmpty())
                Log->appendPlainText(QStringLiteral("Zurückzunehmen: %1: %2").arg(name, step.reason));
        } else if (step.settled) {
            Log->appendPlainText(QStringLiteral("Nichts zu tun: %1: %2").arg(name, step.reason));
        } else {
            ++skipped;
            Log->appendPlainText(QStringLiteral("Übersprungen: %1: %2").arg(name, step.reason));
        }
    }
    Log->appendPlainText(QStringLiteral("Zurückzunehmen: %1, übersprungen: %2").arg(toWrite).arg(skipped));
    if (!confirmed(this, run, toWrite, skipped))
        return;

    runs::UndoRun undoing(runs::runsFolder(), undo, here, steps, storeThroughFacade(undo.attribute()));
    setUndoing(true);
    Log->appendPlainText(QString());
    int notTried = 0;
    std::exception_ptr failure;
    try {
        for (const runs::PlannedUser &change : undoing.changes()) {
            platform::processMessages();
            if (m_cancelRequested || undoing.run().stopped()) {
                ++notTried;
                continue;
            }
            const runs::Step step = undoing.run().take({change}).constFirst();
            QString line = changeLine(step.planned.recorded()) + QStringLiteral("  [%1]").arg(runs::outcomeText(step.outcome));
            if (!step.message.isEmpty())
                line += QLatin1Char(' ') + step.message;
            Log->appendPlainText(line);
        }
        if (m_cancelRequested)
            undoing.run().finishCancelled(notTried);
        else
            undoing.run().finish();
    } catch (...) {
        failure = std::current_exception();
    }
    const runs::Counts &counts = undoing.run().counts();
    if (m_cancelRequested)
        Log->appendPlainText(QStringLiteral("***abgebrochen***"));
    Log->appendPlainText(QStringLiteral("Zurückgenommen: %1, übersprungen: %2, abgelehnt: %3, unbestätigt: %4")
                             .arg(counts.written).arg(skipped).arg(counts.refused).arg(counts.unconfirmed));
    if (notTried > 0)
        Log->appendPlainText(QStringLiteral("nicht versucht: %1").arg(notTried));
    Log->appendPlainText(QStringLiteral("Laufprotokoll: %1 (%2)").arg(undoing.record().path(), undoing.record().header().id));
    setUndoing(false);
    fill(undoing.record().header().id);
    if (failure)
        std::rethrow_exception(failure);
}

void HistoryWindow::setUndoing(bool undoing)
{
    m_undoing = undoing;
    m_cancelRequested = false;
    CancelBtn->setEnabled(undoing);
    UndoBtn->setEnabled(!undoing);
    CloseBtn->setEnabled(!undoing);
    Runs->setEnabled(!undoing);
    if (undoing)
        CancelBtn->setFocus();
}

void HistoryWindow::closeEvent(QCloseEvent *event)
{
    if (m_undoing) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void HistoryWindow::reject()
{
    if (!m_undoing)
        QDialog::reject();
}

void showHistory(QWidget *owner, const DescribeTree &describe)
{
    HistoryWindow window(owner, describe);
    window.fill();
    window.exec();
}

} // namespace ui
