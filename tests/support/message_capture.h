#pragma once

#include "platform/message_box.h"

#include <QList>
#include <QStringList>

#include <functional>

// Records every message box while it lives, instead of showing it, and puts
// back whatever took the boxes before, however the test is left.
class MessageCapture {
public:
    MessageCapture()
        : m_previous(platform::setMessageSink([this](const platform::MessageRecord &record) {
              m_records.append(record);
              if (onMessage)
                  onMessage(record);
          }))
    {
    }
    ~MessageCapture() { platform::setMessageSink(std::move(m_previous)); }
    Q_DISABLE_COPY_MOVE(MessageCapture)

    [[nodiscard]] QStringList texts() const
    {
        QStringList result;
        for (const platform::MessageRecord &record : m_records)
            result.append(record.text);
        return result;
    }
    [[nodiscard]] const QList<platform::MessageRecord> &records() const { return m_records; }

    // Runs at each box once it is recorded (to look at the windows while it would show).
    std::function<void(const platform::MessageRecord &)> onMessage;

private:
    QList<platform::MessageRecord> m_records;
    platform::MessageSink m_previous;
};
