#pragma once

#include <QDialog>

class QPushButton;
class QTextBrowser;

namespace ui {

// The help that F1 opens beside the main window: what klassomat does, the four
// forms, the class list and where it is looked for, the keyboard, the run
// records and how to take a run back, and where the manual page is.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    // `programFolder`: where the class list is looked for first.
    HelpWindow(QWidget *owner, const QString &programFolder);

    QTextBrowser *Text;
    QPushButton *AboutBtn;
    QPushButton *CloseBtn;
};

// Shows the help window of `owner` (the one it has, or a new one) in front.
void showHelp(QWidget *owner, const QString &programFolder);

// What "Über klassomat" says: the version and the credit.
QString aboutText();

} // namespace ui
