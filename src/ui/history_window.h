#pragma once

#include "runs/run_record.h"

#include <QDialog>

#include <functional>

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace ui {

// Fills in a header's server, base, identity and attribute for its tree as
// the program reaches it now (the main window's FDescribeTree).
using DescribeTree = std::function<void(runs::RunHeader &header)>;

// The runs of this data folder, a run's record as text, and taking a run
// back: its dry run first, consent and confirmation, then the undo with a
// live log and Cancel.
class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    HistoryWindow(QWidget *owner, DescribeTree describe);

    QTreeWidget *Runs;
    QPlainTextEdit *Record;
    QPlainTextEdit *Log;
    QPushButton *UndoBtn;
    QPushButton *CancelBtn;
    QPushButton *CloseBtn;

    // Reads the records again; `select`: the id of the run to show.
    void fill(const QString &select = {});
    void UndoBtnClick();
    // An undo handles window messages; the window stays until it is over.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void RunsCurrentChange();
    // `run` is a copy: the listing is read anew at the end.
    void undo(runs::RecordedRun run);
    void setUndoing(bool undoing);

    DescribeTree m_describe;
    QList<runs::RecordedRun> m_records;
    bool m_undoing = false;
    bool m_cancelRequested = false;
};

// Shows the history modally.
void showHistory(QWidget *owner, const DescribeTree &describe);

} // namespace ui
