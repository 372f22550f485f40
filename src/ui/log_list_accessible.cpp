#include "ui/log_list.h"

#include <QAccessibleWidget>
#include <QPointer>

namespace ui {

namespace {

class LineFace final : public QAccessibleInterface {
public:
    LineFace(LogList *list, int row) : m_list(list), m_row(row) {}
    [[nodiscard]] bool isValid() const override { return m_list && m_row < m_list->count(); }
    [[nodiscard]] QObject *object() const override { return nullptr; }
    [[nodiscard]] QWindow *window() const override { return m_list ? m_list->window()->windowHandle() : nullptr; }
    [[nodiscard]] QAccessibleInterface *parent() const override
    {
        return m_list ? QAccessible::queryAccessibleInterface(m_list) : nullptr;
    }
    [[nodiscard]] QAccessibleInterface *child(int) const override { return nullptr; }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    [[nodiscard]] QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    [[nodiscard]] QString text(QAccessible::Text t) const override
    {
        return m_list && t == QAccessible::Name ? m_list->line(m_row) : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    [[nodiscard]] QRect rect() const override
    {
        if (!m_list)
            return {};
        const QRect r = m_list->rowRect(m_row);
        return QRect(m_list->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::ListItem; }
    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!m_list) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.selected = m_list->isSelected(m_row);
        s.focusable = true;
        s.focused = m_list->hasFocus() && m_list->currentRow() == m_row;
        s.readOnly = true;
        const QRect r = m_list->rowRect(m_row);
        s.invisible = !r.intersects(m_list->viewport()->rect());
        return s;
    }

private:
    QPointer<LogList> m_list;
    int m_row;
};

class ListFace final : public QAccessibleWidget {
public:
    explicit ListFace(LogList *list) : QAccessibleWidget(list, QAccessible::List) {}
    // The name carries the newest line: the log tells its news by a change
    // of its name, as a live region does.
    [[nodiscard]] QString text(QAccessible::Text t) const override
    {
        const QString own = QAccessibleWidget::text(t);
        if (t != QAccessible::Name || list()->count() == 0)
            return own;
        const QString newest = list()->line(list()->count() - 1);
        return own.isEmpty() ? newest : QStringLiteral("%1: %2").arg(own, newest);
    }
    [[nodiscard]] int childCount() const override { return list()->count(); }
    [[nodiscard]] QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= list()->count())
            return nullptr;
        // One face per row, kept by Qt's cache until the program ends; it
        // reads its line afresh, so it serves the row after a clear too.
        QAccessibleInterface *&face = m_rows[index];
        if (!face) {
            face = new LineFace(list(), index);
            QAccessible::registerAccessibleInterface(face);
        }
        return face;
    }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
            if (it.value() == child)
                return it.key();
        }
        return -1;
    }

private:
    [[nodiscard]] LogList *list() const { return static_cast<LogList *>(widget()); }
    mutable QHash<int, QAccessibleInterface *> m_rows;
};

} // namespace

QAccessibleInterface *logListAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("ui::LogList") && object && object->isWidgetType())
        return new ListFace(static_cast<LogList *>(object));
    return nullptr;
}

} // namespace ui
