#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace modal {

// Answers the next modal window: once one is up, `act` gets it (and must end
// it). Keep the Answer until the modal call has returned, then check done().
// A window that does not come up within the timeout leaves done() false; one
// that `act` leaves open is closed at the timeout, so a test fails instead of
// hanging.
class Answer {
public:
    Answer() = default;
    explicit Answer(std::function<void(QWidget *)> act, int timeoutMs = 10000)
        : m_state(std::make_shared<State>())
    {
        m_state->act = std::move(act);
        m_state->clock.start();
        m_state->timer.setInterval(10);
        QObject::connect(&m_state->timer, &QTimer::timeout, [state = std::weak_ptr<State>(m_state), timeoutMs] {
            if (const auto s = state.lock())
                s->poll(timeoutMs);
        });
        m_state->timer.start();
    }

    // Whether `act` was handed a window and returned.
    [[nodiscard]] bool done() const { return m_state && m_state->done; }

private:
    struct State {
        std::function<void(QWidget *)> act;
        QTimer timer;
        QElapsedTimer clock;
        QWidget *answered = nullptr;
        bool done = false;

        void poll(int timeoutMs)
        {
            QWidget *window = QApplication::activeModalWidget();
            if (!answered && window && window->isVisible()) {
                answered = window;
                act(window);
                done = true;
                timer.stop();
            } else if (clock.elapsed() > timeoutMs) {
                timer.stop();
                if (window)
                    window->close();
            }
        }
    };
    std::shared_ptr<State> m_state;
};

// Runs `act` once `condition` holds, checking while window messages are handled
// (as they are during a run); gives up after the timeout.
inline void when(std::function<bool()> condition, std::function<void()> act, int timeoutMs = 10000)
{
    auto *timer = new QTimer;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (condition())
            act();
        else if (clock.elapsed() <= timeoutMs)
            return;
        timer->deleteLater();
        timer->stop();
    });
    timer->start(5);
}

} // namespace modal
