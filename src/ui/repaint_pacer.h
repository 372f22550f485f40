#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

class QWidget;

namespace ui {

// While it lives, a window is drawn at most once per interval: a run that
// adds a log line and a count every 50 ms shows them in one frame of two.
// Every change still reaches the widgets at once; only their drawing waits,
// and what waits is drawn when the pacer goes.
class RepaintPacer final : public QObject {
public:
    RepaintPacer(QWidget *window, std::chrono::milliseconds interval);
    ~RepaintPacer() override;
    Q_DISABLE_COPY_MOVE(RepaintPacer)

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void draw();

    QWidget *m_window;
    std::chrono::milliseconds m_interval;
    QElapsedTimer m_sinceDrawn;
    QTimer m_later;
    bool m_drawing = false;
};

} // namespace ui
