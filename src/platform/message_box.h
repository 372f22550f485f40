#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace platform {

// Every message box of the program goes through here, so tests can answer or
// record a box instead of a real modal window blocking them.
struct MessageRecord {
    QMessageBox::Icon icon;
    QString title;
    QString text;
};
using MessageSink = std::function<void(const MessageRecord &)>;

// Installs a sink that receives every box instead of showing it; an empty
// sink restores real boxes. Returns the previous sink.
MessageSink setMessageSink(MessageSink sink);

void showMessage(QMessageBox::Icon icon, const QString &text);

// The standard error box: the application's title, the error icon, OK, and
// the message with a full stop appended when its last character sorts after ".".
void showErrorBox(const QString &message);
QString errorBoxText(const QString &message);

} // namespace platform
