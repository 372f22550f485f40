#include "nwcontrols/browse_control.h"

#include "nwcontrols/NWBrowseLib_TLB.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/class_icons.h"
#include "platform/handler_guard.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStandardItemModel>
#include <QTreeView>

#include <functional>

using automation::DispId;
using automation::InvokeKind;

namespace nwcontrols {

namespace {

enum Role { FullNameRole = Qt::UserRole + 1, ClassRole, FetchedRole };

class ClickedEntry final : public automation::Dispatch {
public:
    explicit ClickedEntry(QString fullName) : m_fullName(std::move(fullName)) {}
    QVariant invoke(DispId id, InvokeKind kind, const QVariantList &) override
    {
        if (id == NWBrowseLib_TLB::dispid::INWNetworkName::FullName && kind == InvokeKind::PropertyGet)
            return m_fullName;
        automation::throwUnknownMember("INWNetworkName", id, kind);
    }

private:
    QString m_fullName;
};

// The entry's own name: the last component of its full name, or the tree's
// name for the tree root.
QString ownName(const QString &fullName)
{
    QString name = fullName.section(QLatin1Char('\\'), -1);
    return name.isEmpty() ? fullName : name;
}

// Moving to an entry with the keyboard counts as a click on it, so that the
// choice can be made without a mouse and always follows the highlighted entry.
class TreeView final : public QTreeView {
public:
    using QTreeView::QTreeView;
    std::function<void(const QModelIndex &)> onKeyboardMove;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const QModelIndex before = currentIndex();
        QTreeView::keyPressEvent(event);
        reportMoveFrom(before);
    }

    // Tabbing into the tree highlights its first entry.
    void focusInEvent(QFocusEvent *event) override
    {
        const QModelIndex before = currentIndex();
        QTreeView::focusInEvent(event);
        reportMoveFrom(before);
    }

private:
    void reportMoveFrom(const QModelIndex &before)
    {
        if (currentIndex().isValid() && currentIndex() != before)
            onKeyboardMove(currentIndex());
    }
};

} // namespace

BrowseControl::BrowseControl() = default;

BrowseControl::~BrowseControl()
{
    delete m_view.data();
}

QWidget *BrowseControl::createWidget(QWidget *parent)
{
    auto *view = new TreeView(parent);
    view->onKeyboardMove = [this](const QModelIndex &index) { clicked(index); };
    m_view = view;
    m_model = new QStandardItemModel(m_view);
    m_view->setModel(m_model);
    m_view->setHeaderHidden(true);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setUniformRowHeights(true);
    m_view->setIconSize(QSize(16, 16));
    QObject::connect(m_view, &QTreeView::expanded, m_view, [this](const QModelIndex &index) {
        platform::guarded([&] { fetchChildren(m_model->itemFromIndex(index)); });
    });
    QObject::connect(m_view, &QTreeView::clicked, m_view, [this](const QModelIndex &index) { clicked(index); });
    return m_view;
}

QVariant BrowseControl::invoke(DispId id, InvokeKind kind, const QVariantList &args)
{
    using namespace NWBrowseLib_TLB::dispid::DNWBrowse;
    if (kind == InvokeKind::PropertyPut && id == ExpandMode) {
        m_expandMode = automation::argumentAt(args, 0).toInt();
        if (m_directory)
            rebuild();
        return {};
    }
    if (kind == InvokeKind::PropertyPut && id == DirectorySource) {
        m_directory = automation::toDispatch(automation::argumentAt(args, 0));
        rebuild();
        return {};
    }
    if (kind == InvokeKind::PropertyGet && id == ExpandMode)
        return QVariant::fromValue(m_expandMode);
    automation::throwUnknownMember("_DNWBrowse", id, kind);
}

QStandardItem *BrowseControl::makeItem(const QString &fullName, const QString &className) const
{
    static const QList<QPixmap> icons = classIcons();
    const qint32 code = classCode(className);
    auto *item = new QStandardItem(QIcon(icons.value(code)), ownName(fullName));
    item->setData(classTitle(code), Qt::AccessibleDescriptionRole);
    item->setData(fullName, FullNameRole);
    item->setData(className, ClassRole);
    item->setData(false, FetchedRole);
    item->appendRow(new QStandardItem()); // placeholder, so the node shows it can expand
    return item;
}

void BrowseControl::rebuild()
{
    if (!m_model)
        return;
    m_model->clear();
    const QString base = m_directory->invoke(NWDirLib_TLB::dispid::DNWDir::FullName, InvokeKind::PropertyGet).toString();
    const auto entry = automation::toDispatch(m_directory->invoke(NWDirLib_TLB::dispid::DNWDir::Entry, InvokeKind::PropertyGet));
    const auto description = automation::toDispatch(entry->invoke(NWDirLib_TLB::dispid::INWEntry::Class, InvokeKind::PropertyGet));
    const QString className = description->invoke(NWDirLib_TLB::dispid::INWClassDescription::Name, InvokeKind::PropertyGet).toString();
    QStandardItem *root = makeItem(base, className);
    m_model->appendRow(root);
    if (m_expandMode >= 1 && m_view)
        m_view->expand(root->index());
}

void BrowseControl::fetchChildren(QStandardItem *item)
{
    if (!item || item->data(FetchedRole).toBool())
        return;
    item->setData(true, FetchedRole);
    item->removeRows(0, item->rowCount());
    // The directory control may stand anywhere (a click's class look-up moves
    // it), so point it at the node first.
    m_directory->invoke(NWDirLib_TLB::dispid::DNWDir::FullName, InvokeKind::PropertyPut, {item->data(FullNameRole)});
    const QVariantList children =
        m_directory->invoke(NWDirLib_TLB::dispid::DNWDir::Entries, InvokeKind::PropertyGet).toList();
    QList<QStandardItem *> rows;
    rows.reserve(children.size());
    for (const QVariant &child : children) {
        const QVariantList pair = child.toList();
        rows.append(makeItem(pair.value(0).toString(), pair.value(1).toString()));
    }
    for (QStandardItem *row : rows)
        item->appendRow(row);
}

void BrowseControl::clicked(const QModelIndex &index)
{
    const QString fullName = index.data(FullNameRole).toString();
    if (fullName.isEmpty())
        return;
    if (m_expandMode == 2 && m_view)
        m_view->expand(index);
    postEvent(NWBrowseLib_TLB::dispid::DNWBrowseEvents::OnEntryClicked,
              {automation::fromDispatch(std::make_shared<ClickedEntry>(fullName))});
}

} // namespace nwcontrols
