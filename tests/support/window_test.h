#pragma once

#include "support/message_capture.h"

#include <QObject>
#include <QStringList>

#include <optional>

class QWidget;

// What every window test shares: message boxes are recorded instead of shown,
// the user's own folders stay untouched, and no window outlives its test.
class WindowTest : public QObject {
    Q_OBJECT
protected:
    // The texts of the boxes the test has shown so far.
    [[nodiscard]] QStringList messages() const { return m_boxes->texts(); }
    std::optional<MessageCapture> m_boxes;

protected Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
};

namespace checks {

// Every caption fits its control and every label its window.
void textsFit(QWidget *window);

// Every control a user can reach has an accessible name, and a description
// where it shows no text of its own.
void accessible(QWidget *window);

} // namespace checks
