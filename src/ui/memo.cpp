#include "ui/memo.h"

#include <QTextCursor>

namespace ui {

Memo::Memo(QWidget *parent)
    : QTextEdit(parent)
{
    setAcceptRichText(false);
}

void Memo::append(const QString &line)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
}

} // namespace ui
