#pragma once

#include <QDialog>
#include <QList>

class QLabel;
class QPushButton;

namespace ui {

// The help that F1 opens beside the main window: what klassomat does, the
// start context and the subtree, the four forms, the class list and where it
// is looked for, the preview, the history and the log's menu, the keyboard,
// the run records and how to take a run back, and where the manual page is.
// It scrolls, so it fits a small screen; each section is a label of its own,
// which a screen reader reads as plain text and Tab reaches.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    // `programFolder`: where the class list is looked for first.
    HelpWindow(QWidget *owner, const QString &programFolder);

    // The sections' text, as a screen reader gets it.
    [[nodiscard]] QString plainText() const;

    QList<QLabel *> Sections;
    QPushButton *AboutBtn;
    QPushButton *CloseBtn;
};

// Shows the help window of `owner` (the one it has, or a new one) in front.
void showHelp(QWidget *owner, const QString &programFolder);

// What "Über klassomat" says: the version and the credit.
QString aboutText();

} // namespace ui
