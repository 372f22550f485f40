#include "ui/log_list.h"

#include "platform/error.h"
#include "platform/handler_guard.h"

#include <QAccessible>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QSaveFile>
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
    m_anchor = -1;
    m_announced = 0;
    m_widest = 0;
    m_unmeasured = 0;
    updateScrollBars();
    viewport()->update();
}

void LogList::setCurrentRow(int row)
{
    moveCurrent(row, false);
}

void LogList::moveCurrent(int row, bool extend)
{
    row = row >= 0 && row < count() ? row : -1;
    if (row == m_current && (extend || m_anchor == row))
        return;
    const bool wasRange = m_anchor != m_current;
    if (m_current >= 0)
        viewport()->update(rowRect(m_current));
    m_current = row;
    if (!extend || m_anchor < 0)
        m_anchor = row;
    if (wasRange || m_anchor != m_current)
        viewport()->update();
    if (row < 0)
        return;
    // Keep the row in view, as a list box does.
    if (row < verticalScrollBar()->value())
        verticalScrollBar()->setValue(row);
    else if (row >= verticalScrollBar()->value() + rowsInView())
        verticalScrollBar()->setValue(row - rowsInView() + 1);
    viewport()->update(rowRect(row));
    // Only the line the keyboard is on has the focus: a run that scrolls
    // the log while the user is elsewhere moves no screen reader's focus.
    if (hasFocus() && QAccessible::isActive()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(row);
        QAccessible::updateAccessibility(&focus);
    }
}

void LogList::selectAll()
{
    if (count() == 0)
        return;
    m_anchor = 0;
    m_current = count() - 1;
    viewport()->update();
}

bool LogList::isSelected(int row) const
{
    return m_current >= 0 && row >= qMin(m_anchor, m_current) && row <= qMax(m_anchor, m_current);
}

QStringList LogList::selectedLines() const
{
    if (m_current < 0)
        return {};
    const int first = qMin(m_anchor, m_current);
    return m_lines.mid(first, qMax(m_anchor, m_current) - first + 1);
}

void LogList::copySelection() const
{
    if (const QStringList selected = selectedLines(); !selected.isEmpty())
        QGuiApplication::clipboard()->setText(selected.join(QLatin1Char('\n')));
}

void LogList::copyAll() const
{
    if (count() > 0)
        QGuiApplication::clipboard()->setText(m_lines.join(QLatin1Char('\n')));
}

void LogList::saveLines(const QString &path) const
{
    QSaveFile file(path);
    QByteArray text;
    for (const QString &line : m_lines)
        text += line.toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw platform::Error(QStringLiteral("Das Protokoll kann nicht in %1 gespeichert werden: %2")
                                  .arg(QDir::toNativeSeparators(path), file.errorString()));
}

void LogList::askAndSave()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Protokoll speichern"),
                                                      QDir::home().filePath(QStringLiteral("klassomat-protokoll.txt")),
                                                      QStringLiteral("Textdateien (*.txt);;Alle Dateien (*)"));
    if (!path.isEmpty())
        saveLines(path);
}

std::unique_ptr<QMenu> LogList::makeContextMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    QAction *copy = menu->addAction(QStringLiteral("Kopieren"), this, [this] { copySelection(); });
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(m_current >= 0);
    menu->addAction(QStringLiteral("Alles kopieren"), this, [this] { copyAll(); })->setEnabled(count() > 0);
    menu->addAction(QStringLiteral("Speichern unter…"), this, [this] { platform::guarded([this] { askAndSave(); }); })
        ->setEnabled(count() > 0);
    if (!actions().isEmpty()) {
        menu->addSeparator();
        menu->addActions(actions());
    }
    return menu;
}

void LogList::contextMenuEvent(QContextMenuEvent *event)
{
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        // As in a list box, the menu is about the line clicked on.
        const int row = verticalScrollBar()->value() + event->pos().y() / kLineHeight;
        if (row < count() && !isSelected(row))
            setCurrentRow(row);
    } else {
        at = viewport()->mapToGlobal(m_current >= 0 ? rowRect(m_current).bottomLeft() : QPoint(0, 0));
    }
    makeContextMenu()->exec(at);
}

void LogList::scrollToEnd()
{
    setCurrentRow(-1);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
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
        const bool selected = isSelected(row);
        if (selected)
            painter.fillRect(rect, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_lines.at(row));
        if (row == m_current && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect;
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
    // New lines are told to a screen reader once per drawn frame, by the
    // list's name, which carries the newest line; Qt 6.4 has no
    // announcement event, and a focus event per line took the reader's
    // focus away from where the user was.
    if (std::exchange(m_announced, count()) < count() && QAccessible::isActive()) {
        QAccessibleEvent told(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&told);
    }
}

void LogList::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int row = verticalScrollBar()->value() + static_cast<int>(event->position().y()) / kLineHeight;
    if (row < count())
        moveCurrent(row, event->modifiers() & Qt::ShiftModifier);
}

void LogList::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        contextMenuEvent(&menu);
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const int row = m_current < 0 ? verticalScrollBar()->value() - 1 : m_current;
    switch (event->key()) {
    case Qt::Key_Down: moveCurrent(qMin(row + 1, count() - 1), extend); break;
    case Qt::Key_Up: moveCurrent(qMax(row - 1, 0), extend); break;
    case Qt::Key_PageDown: moveCurrent(qMin(row + rowsInView(), count() - 1), extend); break;
    case Qt::Key_PageUp: moveCurrent(qMax(row - rowsInView(), 0), extend); break;
    case Qt::Key_Home: moveCurrent(0, extend); break;
    case Qt::Key_End: moveCurrent(count() - 1, extend); break;
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

} // namespace ui
