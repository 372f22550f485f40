#pragma once

#include "runs/plan.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;

namespace ui {

class PreviewModel;

// What the main window would run: its start context, scope, form and class list.
struct RunChoice {
    QString context; // a full name
    bool subtree = false;
    int form = 0;
    QString formName; // the form as the main window names it
    QStringList classList;
};

// What a run of the main window would do, before it does it: per class the
// container, its designation and the counts, then every user with its old
// and new values. It writes nothing.
class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    PreviewWindow(QWidget *owner, const RunChoice &choice, QList<runs::PlannedUser> planned, const QStringList &references);

    QLabel *Summary;
    QTableWidget *Classes;
    QTableView *Users;
    QPushButton *CloseBtn;
    PreviewModel *Model;
};

// Searches the users of `choice` through the facade, plans them as the main
// window's run would and shows the plan modally.
void showPreview(QWidget *owner, const RunChoice &choice);

} // namespace ui
