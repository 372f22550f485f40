#include "ui/log_list.h"

#include <QScrollBar>
#include <QTextBlock>

namespace ui {

LogList::LogList(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void LogList::addLine(const QString &line)
{
    // A line break inside a name would start a line of its own.
    QString text = line;
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    appendPlainText(text); // the first line goes into the empty document's one block
    ++m_count;
}

void LogList::clearLines()
{
    clear();
    m_count = 0;
}

QString LogList::line(int index) const
{
    if (index < 0 || index >= m_count)
        return {};
    return document()->findBlockByNumber(index).text();
}

void LogList::scrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    horizontalScrollBar()->setValue(0);
}

} // namespace ui
