#pragma once

#include "automation/control.h"

#include <QPointer>

class QModelIndex;
class QTreeView;

namespace nwcontrols {

class DirectoryModel;

// The browse control: a tree view of the directory below the directory
// control's FullName, limited to the classes of its Filters. Children are read
// only when a node is expanded, so a tree of any size opens at once.
//
// Expand modes:
//   0  the base entry is shown collapsed;
//   1  the base entry is shown expanded one level;
//   2  as 1, and a single click on an entry also expands it.
class BrowseControl final : public automation::Control {
public:
    BrowseControl();
    ~BrowseControl() override;

    QVariant invoke(automation::DispId id, automation::InvokeKind kind, const QVariantList &args) override;
    QWidget *createWidget(QWidget *parent) override;

private:
    void rebuild();
    void clicked(const QModelIndex &index);

    automation::DispatchPtr m_directory;
    qint32 m_expandMode = 0;
    QPointer<QTreeView> m_view;
    DirectoryModel *m_model = nullptr; // owned by the view
};

} // namespace nwcontrols
