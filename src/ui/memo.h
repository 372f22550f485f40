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

    // Adds one line (hides QTextEdit::append, which takes text that looks
    // like HTML for HTML).
    void append(const QString &line);
};

} // namespace ui
