#pragma once

#include <QPlainTextEdit>

namespace ui {

// The run's log: lines in a box, added at the end in constant time. A list
// view lays all its rows out again on each insert, which made a long run
// quadratic (1.6 ms a line after 50,000 lines); a plain text document
// appends a block without touching the others.
class LogList final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogList(QWidget *parent);

    void addLine(const QString &line);
    void clearLines();
    [[nodiscard]] int count() const { return m_count; }
    [[nodiscard]] QString line(int index) const;
    // Brings the last line into view; no line stays highlighted.
    void scrollToEnd();

private:
    int m_count = 0;
};

} // namespace ui
