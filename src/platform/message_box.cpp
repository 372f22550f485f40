#include "platform/message_box.h"

#include <QApplication>

namespace platform {

namespace {
MessageSink &sink()
{
    static MessageSink instance;
    return instance;
}
} // namespace

MessageSink setMessageSink(MessageSink newSink)
{
    return std::exchange(sink(), std::move(newSink));
}

void showMessage(QMessageBox::Icon icon, const QString &text)
{
    const MessageRecord record{icon, QApplication::applicationDisplayName(), text};
    if (sink()) {
        sink()(record);
        return;
    }
    QMessageBox box(record.icon, record.title, record.text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // messages quote names from the directory, which may look like HTML
    box.exec();
}

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void showErrorBox(const QString &message)
{
    showMessage(QMessageBox::Critical, errorBoxText(message));
}

} // namespace platform
