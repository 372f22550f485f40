#pragma once

#include <QTextEdit>

namespace ui {

// A memo of lines of plain text. Its lines may come from the directory or the
// administrator, so they are never read as markup: a context named like HTML
// shows as typed, not rendered.
class Memo : public QTextEdit {
    Q_OBJECT
public:
    explicit Memo(QWidget *parent);

    // Adds one line at the end; an empty line is a line like any other.
    void addLine(const QString &line);
    void clearLines();
    [[nodiscard]] int lineCount() const { return m_lines; }

private:
    int m_lines = 0;
};

} // namespace ui
