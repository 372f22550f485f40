#include "platform/placement.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace platform {

namespace {

QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle && handle->isExposed() ? handle->frameMargins() : QMargins();
}

QMargins likelyFrame(const QWidget *window)
{
    const QMargins own = frameOf(window);
    if (!own.isNull())
        return own;
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (other != window && other->isVisible() && !frameOf(other).isNull())
            return frameOf(other);
    }
    return {};
}

// For a top-level window, move() places the frame's corner.
void place(QWidget *window, const QMargins &frame)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize outer = window->size().grownBy(frame);
    window->move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
}

class Centring final : public QObject {
public:
    explicit Centring(QWidget *window)
        : QObject(window), m_window(window)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Show) {
            m_window->removeEventFilter(this);
            if (m_window->testAttribute(Qt::WA_Moved))
                return false; // placed by its owner
            m_guess = likelyFrame(m_window);
            place(m_window, m_guess);
            if (QWindow *handle = m_window->windowHandle())
                handle->installEventFilter(this);
        } else if (watched == m_window->windowHandle() && event->type() == QEvent::Expose && m_window->windowHandle()->isExposed()) {
            watched->removeEventFilter(this);
            if (frameOf(m_window) != m_guess)
                place(m_window, frameOf(m_window));
        }
        return false;
    }

private:
    QWidget *m_window;
    QMargins m_guess;
};

} // namespace

void centreOnScreen(QWidget *window)
{
    new Centring(window);
}

} // namespace platform
