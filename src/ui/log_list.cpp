#include "ui/log_list.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>

#include <utility>

namespace ui {

namespace {

// A scroll bar that repaints only when what it shows changes: in a long log
// the slider moves by a pixel only every few lines, though each line moves
// it. A line changes range and value one after the other, so the look is
// compared once both are set.
class SteadyScrollBar final : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        if (change == SliderOrientationChange) {
            QScrollBar::sliderChange(change);
            return;
        }
        if (std::exchange(m_checkPosted, true))
            return;
        QMetaObject::invokeMethod(this, [this] {
            m_checkPosted = false;
            if (look() != m_shown)
                update();
        }, Qt::QueuedConnection);
    }
    void paintEvent(QPaintEvent *event) override
    {
        m_shown = look();
        QScrollBar::paintEvent(event);
    }

private:
    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false; // a style may grey the arrow at an end
        friend bool operator==(const Look &, const Look &) = default;
    };
    [[nodiscard]] Look look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }

    Look m_shown;
    bool m_checkPosted = false;
};

} // namespace

LogList::LogList(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, this));
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    updateScrollBars();
}

void LogList::addLine(const QString &line)
{
    // A line break inside a name would start a line of its own.
    QString text = line;
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    measure(text);
    m_lines.append(text);
    updateScrollBars();
    if (rowRect(count() - 1).intersects(viewport()->rect()))
        viewport()->update(rowRect(count() - 1));
    if (QAccessible::isActive()) {
        QAccessibleEvent added(this, QAccessible::ObjectCreated);
        added.setChild(count() - 1);
        QAccessible::updateAccessibility(&added);
    }
}

int LogList::widthBound(const QString &text)
{
    if (m_advances.isEmpty()) {
        const QFontMetrics metrics = fontMetrics();
        m_advances.resize(256);
        for (char16_t c = 0x20; c < 0x100; ++c)
            m_advances[c] = metrics.horizontalAdvance(QChar(c));
    }
    int sum = 0;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0xff)
            return -1; // shaped for certain
        sum += m_advances.at(c.unicode());
    }
    // Shaping narrows a Latin line (kerning, ligatures) far more often than it
    // widens it; the margin covers the few pairs that do.
    return sum + sum / 8 + 8;
}

void LogList::measure(const QString &text)
{
    // Shaping a line costs more than the rest of adding it; a run's lines,
    // much alike and narrower than the view, are mostly not shaped at all.
    const int bound = widthBound(text);
    if (bound >= 0 && bound <= qMax(m_widest, viewport()->width() - 4)) {
        m_unmeasured = qMax(m_unmeasured, bound);
        return;
    }
    m_widest = qMax(m_widest, fontMetrics().horizontalAdvance(text));
}

void LogList::measureAll()
{
    m_widest = 0;
    m_unmeasured = 0;
    for (const QString &line : std::as_const(m_lines))
        measure(line);
    updateScrollBars();
}

void LogList::clearLines()
{
    m_lines.clear();
    m_current = -1;
    m_widest = 0;
    m_unmeasured = 0;
    updateScrollBars();
    viewport()->update();
}

void LogList::setCurrentRow(int row)
{
    row = row >= 0 && row < count() ? row : -1;
    if (row == m_current)
        return;
    if (m_current >= 0)
        viewport()->update(rowRect(m_current));
    m_current = row;
    if (row < 0)
        return;
    // Keep the row in view, as a list box does.
    if (row < verticalScrollBar()->value())
        verticalScrollBar()->setValue(row);
    else if (row >= verticalScrollBar()->value() + rowsInView())
        verticalScrollBar()->setValue(row - rowsInView() + 1);
    viewport()->update(rowRect(row));
    if (QAccessible::isActive()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(row);
        QAccessible::updateAccessibility(&focus);
    }
}

void LogList::scrollToEnd()
{
    setCurrentRow(count() - 1);
    setCurrentRow(-1);
    horizontalScrollBar()->setValue(0);
}

QRect LogList::rowRect(int row) const
{
    return {-horizontalScrollBar()->value(), (row - verticalScrollBar()->value()) * kLineHeight,
            qMax(viewport()->width(), m_widest + 4), kLineHeight};
}

int LogList::rowsInView() const
{
    return qMax(1, viewport()->height() / kLineHeight);
}

void LogList::updateScrollBars()
{
    verticalScrollBar()->setRange(0, qMax(0, count() - rowsInView()));
    verticalScrollBar()->setPageStep(rowsInView());
    horizontalScrollBar()->setRange(0, qMax(0, m_widest + 4 - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void LogList::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int first = verticalScrollBar()->value() + event->rect().top() / kLineHeight;
    const int last = qMin(count() - 1, verticalScrollBar()->value() + event->rect().bottom() / kLineHeight);
    for (int row = first; row <= last; ++row) {
        const QRect rect = rowRect(row);
        const bool current = row == m_current;
        if (current)
            painter.fillRect(rect, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(current ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_lines.at(row));
        if (current && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect;
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
}

void LogList::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int row = verticalScrollBar()->value() + static_cast<int>(event->position().y()) / kLineHeight;
    if (row < count())
        setCurrentRow(row);
}

void LogList::keyPressEvent(QKeyEvent *event)
{
    const int row = m_current < 0 ? verticalScrollBar()->value() - 1 : m_current;
    switch (event->key()) {
    case Qt::Key_Down: setCurrentRow(qMin(row + 1, count() - 1)); break;
    case Qt::Key_Up: setCurrentRow(qMax(row - 1, 0)); break;
    case Qt::Key_PageDown: setCurrentRow(qMin(row + rowsInView(), count() - 1)); break;
    case Qt::Key_PageUp: setCurrentRow(qMax(row - rowsInView(), 0)); break;
    case Qt::Key_Home: setCurrentRow(0); break;
    case Qt::Key_End: setCurrentRow(count() - 1); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
}

void LogList::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    // A narrower view may now be narrower than a line that was not measured.
    if (m_unmeasured > qMax(m_widest, viewport()->width() - 4))
        measureAll();
    else
        updateScrollBars();
}

void LogList::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_advances.clear();
        measureAll();
    }
}

void LogList::scrollContentsBy(int dx, int dy)
{
    // The rows still in view move as they are; only the new ones are drawn,
    // one row per user during a run instead of the whole list.
    viewport()->scroll(dx, dy * kLineHeight);
}

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
        s.selected = m_list->currentRow() == m_row;
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
