#include "ui/preview_window.h"

#include "ndk/names.h"
#include "ndk/ndk_u.h"
#include "runs/run.h"
#include "ui/facade_users.h"
#include "ui/preview_model.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ui {

namespace {

// The window's run never writes the empty designation of a missing class.
constexpr bool kAllowEmptyClass = false;

QTableWidget *classTable(QWidget *parent, const QList<runs::PlannedUser> &planned)
{
    QHash<std::pair<QString, QString>, int> writes; // by container and designation, as the totals group
    for (const runs::PlannedUser &p : planned) {
        if (p.writes(kAllowEmptyClass))
            ++writes[{p.container, p.designation}];
    }
    const QList<runs::ClassTotal> totals = runs::classTotals(planned, kAllowEmptyClass);
    auto *table = new QTableWidget(static_cast<int>(totals.size()), 5, parent);
    table->setHorizontalHeaderLabels({QStringLiteral("Container"), QStringLiteral("Bezeichnung"), QStringLiteral("Benutzer"),
                                      QStringLiteral("Ändern"), QStringLiteral("Sonst")});
    for (int row = 0; row < totals.size(); ++row) {
        const runs::ClassTotal &total = totals.at(row);
        QStringList others;
        for (const auto &count : total.counts)
            others.append(QStringLiteral("%1 %2").arg(count.second).arg(count.first));
        const QString cells[] = {total.container,
                                 total.designation.isEmpty() ? QStringLiteral("(leer)") : total.designation,
                                 QString::number(total.users),
                                 QString::number(writes.value({total.container, total.designation})),
                                 others.join(QStringLiteral(", "))};
        for (int column = 0; column < 5; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (column == 2 || column == 3)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(row, column, item);
        }
    }
    return table;
}

// A view of many rows: every row as high as the font's, columns as wide as
// set, so that nothing measures all rows.
void fixRows(QTableView *view)
{
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setWordWrap(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

} // namespace

PreviewWindow::PreviewWindow(QWidget *owner, const RunChoice &choice, QList<runs::PlannedUser> planned,
                             const QStringList &references)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("PreviewWindow"));
    setWindowTitle(QStringLiteral("klassomat – Vorschau"));
    resize(760, 460); // fits a screen 512 pixels high (1366 × 768 at 150 %) with its frame

    QStringList lines = {
        QStringLiteral("Kontext %1, %2").arg(ndk::ToDottedName(choice.context),
                                             choice.subtree ? QStringLiteral("mit dem gesamten Teilbaum")
                                                            : QStringLiteral("nur diese Ebene")),
        QStringLiteral("Form der Eintragung: %1").arg(choice.formName.trimmed()),
        runs::totals(planned, kAllowEmptyClass).text(planned.size()),
    };
    if (!references.isEmpty())
        lines.append(QStringLiteral("Nicht durchsucht, weil der Server dafür auf einen anderen verweist: %1")
                         .arg(references.join(QStringLiteral(", "))));
    lines.append(QStringLiteral("Geschrieben wird erst mit „Ausfuehren“, nach Zustimmung und Bestätigung."));
    Summary = new QLabel(lines.join(QLatin1Char('\n')), this);
    Summary->setObjectName(QStringLiteral("Summary"));
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Summary->setAccessibleName(QStringLiteral("Zusammenfassung"));

    Classes = classTable(this, planned);
    Classes->setObjectName(QStringLiteral("Classes"));
    Classes->setAccessibleName(QStringLiteral("Klassen"));
    Classes->setAccessibleDescription(QStringLiteral("Je Container die Bezeichnung und wie viele Benutzer was erfahren."));
    fixRows(Classes);

    Model = new PreviewModel(std::move(planned), kAllowEmptyClass, this);
    Users = new QTableView(this);
    Users->setObjectName(QStringLiteral("Users"));
    Users->setAccessibleName(QStringLiteral("Benutzer"));
    Users->setAccessibleDescription(QStringLiteral("Je Benutzer die alten und die neuen Werte."));
    Users->setModel(Model);
    fixRows(Users);
    Users->setColumnWidth(PreviewModel::Name, 220);
    Users->setColumnWidth(PreviewModel::Before, 110);
    Users->setColumnWidth(PreviewModel::After, 110);
    Users->setColumnWidth(PreviewModel::Verdict, 160);

    CloseBtn = new QPushButton(QStringLiteral("Schließen"), this);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    CloseBtn->setDefault(true);
    connect(CloseBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(Classes);
    split->addWidget(Users);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CloseBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Summary);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);
    Users->setFocus();
}

void showPreview(QWidget *owner, const RunChoice &choice)
{
    QList<runs::PlannedUser> planned;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        const Qt::CaseSensitivity valueCase = TheNDK().ValuesIgnoreCase(choice.context, QStringLiteral("OU"))
                                                  ? Qt::CaseInsensitive
                                                  : Qt::CaseSensitive;
        planned = runs::plan(findUsers(choice.context, choice.subtree), choice.form, choice.classList, valueCase);
    }
    PreviewWindow window(owner, choice, std::move(planned), TheNDK().FReferences);
    window.exec();
}

} // namespace ui
