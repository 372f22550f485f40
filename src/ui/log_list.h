#pragma once

#include <QAbstractScrollArea>
#include <QStringList>

#include <memory>

class QAccessibleInterface;
class QMenu;

namespace ui {

// The run's log, a list box of lines 14 pixels high: a click (or the arrow
// keys) highlights a line's row, Shift widens the highlight to a range, and
// Ctrl+A, Ctrl+C and the context menu give the lines as text for a ticket. It draws only the rows in view, so adding a
// line costs the same however long the log is; a list view lays all its rows
// out again on each insert, which made a long run quadratic.
class LogList final : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int kLineHeight = 14;

    explicit LogList(QWidget *parent);

    void addLine(const QString &line);
    void clearLines();
    [[nodiscard]] int count() const { return static_cast<int>(m_lines.size()); }
    [[nodiscard]] QString line(int index) const { return m_lines.value(index); }
    [[nodiscard]] const QStringList &lines() const { return m_lines; }
    // The highlighted row, or -1.
    [[nodiscard]] int currentRow() const { return m_current; }
    // Highlights `row` alone (-1: none).
    void setCurrentRow(int row);
    void selectAll();
    [[nodiscard]] bool isSelected(int row) const;
    // The highlighted lines, in order.
    [[nodiscard]] QStringList selectedLines() const;
    void copySelection() const;
    void copyAll() const;
    // Writes every line to `path` as UTF-8 text; throws when it cannot.
    void saveLines(const QString &path) const;
    // "Kopieren", "Alles kopieren", "Speichern unter…", then after a
    // separator the actions that others gave this widget (addAction).
    [[nodiscard]] std::unique_ptr<QMenu> makeContextMenu();
    // Brings the last line into view; no line stays highlighted.
    void scrollToEnd();
    // Where a row is drawn, in the viewport's coordinates.
    [[nodiscard]] QRect rowRect(int row) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void moveCurrent(int row, bool extend);
    void askAndSave();
    [[nodiscard]] int rowsInView() const;
    void updateScrollBars();
    // Takes the width of `text` into m_widest where it may matter: a line
    // narrower than the widest or than the view leaves both as they are.
    void measure(const QString &text);
    void measureAll();
    [[nodiscard]] int widthBound(const QString &text);

    QStringList m_lines;
    int m_current = -1;
    int m_anchor = -1;       // the other end of the highlighted range
    int m_announced = 0;     // lines that a screen reader was told of
    int m_widest = 0;        // pixels, of the lines that were measured
    int m_unmeasured = 0;    // the largest bound of those that were not
    QList<int> m_advances;   // of the Latin-1 characters in the list's font
};

// Lets screen readers read the log as a list of its lines.
QAccessibleInterface *logListAccessible(const QString &className, QObject *object);

} // namespace ui
