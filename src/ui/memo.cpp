#include "ui/memo.h"

#include <QTextCursor>

namespace ui {

Memo::Memo(QWidget *parent)
    : QTextEdit(parent)
{
    setAcceptRichText(false);
}

void Memo::addLine(const QString &line)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    // An empty document already holds the first line's block.
    if (m_lines > 0)
        cursor.insertBlock();
    cursor.insertText(line);
    ++m_lines;
}

void Memo::clearLines()
{
    clear();
    m_lines = 0;
}

} // namespace ui
