#include "ui/repaint_pacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace ui {

RepaintPacer::RepaintPacer(QWidget *window, std::chrono::milliseconds interval)
    : m_window(window), m_interval(interval)
{
    m_later.setSingleShot(true);
    m_later.setTimerType(Qt::PreciseTimer);
    connect(&m_later, &QTimer::timeout, this, &RepaintPacer::draw);
    m_window->installEventFilter(this);
}

RepaintPacer::~RepaintPacer()
{
    m_window->removeEventFilter(this);
    if (m_later.isActive())
        draw();
}

bool RepaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    // Qt asks a window to draw what changed by one UpdateRequest, and asks
    // again only once it has drawn: one held back is sent by draw().
    if (watched != m_window || event->type() != QEvent::UpdateRequest || m_drawing)
        return false;
    const auto since = std::chrono::milliseconds(m_sinceDrawn.isValid() ? m_sinceDrawn.elapsed() : m_interval.count());
    if (since >= m_interval) {
        m_sinceDrawn.start();
        return false;
    }
    if (!m_later.isActive())
        m_later.start(m_interval - since);
    return true;
}

void RepaintPacer::draw()
{
    m_later.stop();
    m_sinceDrawn.start();
    m_drawing = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
    m_drawing = false;
}

} // namespace ui
