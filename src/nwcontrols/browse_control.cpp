#include "nwcontrols/browse_control.h"

#include "nwcontrols/NWBrowseLib_TLB.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/class_icons.h"
#include "platform/handler_guard.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QAbstractItemModel>
#include <QTreeView>

#include <functional>
#include <utility>
#include <memory>
#include <vector>

using automation::DispId;
using automation::InvokeKind;

namespace nwcontrols {

namespace {

enum Role { FullNameRole = Qt::UserRole + 1 };

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
    const qsizetype slash = fullName.lastIndexOf(QLatin1Char('\\'));
    return slash < 0 || slash == fullName.size() - 1 ? fullName : fullName.mid(slash + 1);
}

// Moving to an entry with the keyboard counts as a click on it, so that the
// choice can be made without a mouse and always follows the highlighted entry.
// The entries in view are read ahead, so that only an entry that has entries
// of its own shows an expander; reading the rows in view, not all, keeps a
// unit of 10,000 classes as quick to open as before.
class TreeView final : public QTreeView {
public:
    explicit TreeView(QWidget *parent) : QTreeView(parent)
    {
        connect(this, &QTreeView::expanded, this, &TreeView::readVisible);
    }
    std::function<void(const QModelIndex &)> onKeyboardMove;
    std::function<void(const QModelIndex &)> readAhead;

    void readVisible()
    {
        // A read may wait for the directory and handle events meanwhile.
        if (!readAhead || std::exchange(m_reading, true))
            return;
        executeDelayedItemsLayout();
        for (QModelIndex index = indexAt(QPoint(0, 0)); index.isValid() && visualRect(index).top() < viewport()->height();
             index = indexBelow(index))
            readAhead(index);
        m_reading = false;
    }

protected:
    void scrollContentsBy(int dx, int dy) override
    {
        QTreeView::scrollContentsBy(dx, dy);
        readVisible();
    }
    void resizeEvent(QResizeEvent *event) override
    {
        QTreeView::resizeEvent(event);
        readVisible();
    }

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

    bool m_reading = false;
};

} // namespace

// The directory's entries as a tree whose nodes read their children from the
// directory control the first time they are expanded. Plain nodes instead of
// one item object with a variant per role: a unit of 10,000 classes lists in
// a few milliseconds.
class DirectoryModel final : public QAbstractItemModel {
public:
    explicit DirectoryModel(QObject *parent) : QAbstractItemModel(parent) {}

    void setRoot(const QString &fullName, const QString &className, automation::DispatchPtr directory)
    {
        beginResetModel();
        m_directory = std::move(directory);
        m_root = std::make_unique<Node>(Node{fullName, ownName(fullName), classCode(className), nullptr, 0, false, {}});
        endResetModel();
    }

    QModelIndex index(int row, int column, const QModelIndex &parent) const override
    {
        if (column != 0 || row < 0)
            return {};
        if (!parent.isValid())
            return row == 0 && m_root ? createIndex(0, 0, m_root.get()) : QModelIndex();
        const Node *node = nodeOf(parent);
        return row < static_cast<int>(node->children.size()) ? createIndex(row, 0, node->children[static_cast<size_t>(row)].get())
                                                               : QModelIndex();
    }
    QModelIndex parent(const QModelIndex &child) const override
    {
        const Node *parent = child.isValid() ? nodeOf(child)->parent : nullptr;
        return parent ? createIndex(parent->row, 0, parent) : QModelIndex();
    }
    int rowCount(const QModelIndex &parent) const override
    {
        if (!parent.isValid())
            return m_root ? 1 : 0;
        return static_cast<int>(nodeOf(parent)->children.size());
    }
    int columnCount(const QModelIndex &) const override { return 1; }
    // A node not yet read may have children: it shows that it can expand.
    bool hasChildren(const QModelIndex &parent) const override
    {
        return !parent.isValid() ? m_root != nullptr : !nodeOf(parent)->fetched || !nodeOf(parent)->children.empty();
    }
    bool canFetchMore(const QModelIndex &parent) const override { return parent.isValid() && !nodeOf(parent)->fetched; }
    void fetchMore(const QModelIndex &parent) override
    {
        if (canFetchMore(parent))
            platform::guarded([&] { fetch(parent); });
    }
    // Reads a node's entries before it is expanded. A node that cannot be
    // read keeps its expander: expanding it says why.
    void readAhead(const QModelIndex &index)
    {
        if (!canFetchMore(index))
            return;
        try {
            fetch(index);
        } catch (const std::exception &) {
            nodeOf(index)->fetched = false;
        }
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        const Node *node = nodeOf(index);
        switch (role) {
        case Qt::DisplayRole:
            return node->name;
        case Qt::DecorationRole:
            return icons().value(node->code);
        case Qt::AccessibleDescriptionRole:
            return classTitle(node->code);
        case FullNameRole:
            return node->fullName;
        default:
            return {};
        }
    }

private:
    struct Node {
        QString fullName;
        QString name;
        qint32 code;
        Node *parent;
        int row;
        bool fetched;
        std::vector<std::unique_ptr<Node>> children;
    };

    static Node *nodeOf(const QModelIndex &index) { return static_cast<Node *>(index.internalPointer()); }
    static const QList<QIcon> &icons()
    {
        static const QList<QIcon> shared = [] {
            QList<QIcon> list;
            for (const QPixmap &pixmap : classIcons())
                list.append(QIcon(pixmap));
            return list;
        }();
        return shared;
    }

    void fetch(const QModelIndex &parent)
    {
        Node *node = nodeOf(parent);
        node->fetched = true; // a node that fails to list stays a leaf
        // The directory control may stand anywhere (a click's class look-up
        // moves it), so point it at the node first.
        m_directory->invoke(NWDirLib_TLB::dispid::DNWDir::FullName, InvokeKind::PropertyPut, {node->fullName});
        const QVariantList entries = m_directory->invoke(NWDirLib_TLB::dispid::DNWDir::Entries, InvokeKind::PropertyGet).toList();
        if (entries.isEmpty()) {
            // The expander goes: tell the view the node has changed.
            Q_EMIT dataChanged(parent, parent);
            return;
        }
        std::vector<std::unique_ptr<Node>> children;
        children.reserve(static_cast<size_t>(entries.size()));
        QString lastClass; // siblings mostly share their class: look its code up once
        qint32 code = 0;
        for (const QVariant &entry : entries) {
            const QVariantList pair = entry.toList();
            const QString fullName = pair.value(0).toString();
            const QString className = pair.value(1).toString();
            if (className != lastClass || children.empty()) {
                code = classCode(className);
                lastClass = className;
            }
            children.push_back(std::make_unique<Node>(Node{fullName, ownName(fullName), code, node,
                                                          static_cast<int>(children.size()), false, {}}));
        }
        beginInsertRows(parent, 0, static_cast<int>(children.size()) - 1);
        node->children = std::move(children);
        endInsertRows();
    }

    automation::DispatchPtr m_directory;
    std::unique_ptr<Node> m_root;
};

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
    m_model = new DirectoryModel(m_view);
    view->readAhead = [model = m_model](const QModelIndex &index) { model->readAhead(index); };
    m_view->setModel(m_model);
    m_view->setHeaderHidden(true);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setUniformRowHeights(true);
    m_view->setIconSize(QSize(16, 16));
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

void BrowseControl::rebuild()
{
    if (!m_model)
        return;
    using namespace NWDirLib_TLB::dispid;
    const QString base = m_directory->invoke(DNWDir::FullName, InvokeKind::PropertyGet).toString();
    const auto entry = automation::toDispatch(m_directory->invoke(DNWDir::Entry, InvokeKind::PropertyGet));
    const auto description = automation::toDispatch(entry->invoke(INWEntry::Class, InvokeKind::PropertyGet));
    m_model->setRoot(base, description->invoke(INWClassDescription::Name, InvokeKind::PropertyGet).toString(), m_directory);
    if (m_expandMode >= 1 && m_view)
        m_view->expand(m_model->index(0, 0, {}));
    else if (m_view)
        static_cast<TreeView *>(m_view.data())->readVisible();
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
