#include "platform/placement.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QTimer>
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

// Places the client area, not the frame's corner as move() would: what the
// window manager does with a frame position depends on what it believes the
// frame to be at that moment, while the client area stays where it is put.
void place(QWidget *window, const QMargins &frame)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize outer = window->size().grownBy(frame);
    const QPoint corner(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
    window->setGeometry(QRect(corner + QPoint(frame.left(), frame.top()), window->size()));
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
            m_placedFor = likelyFrame(m_window);
            place(m_window, m_placedFor);
            if (QWindow *handle = m_window->windowHandle()) {
                handle->installEventFilter(this);
                // Without a window manager no frame ever comes.
                QTimer::singleShot(3000, this, [this, handle] { handle->removeEventFilter(this); });
            }
        } else if (watched == m_window->windowHandle()
                   && (event->type() == QEvent::Expose || event->type() == QEvent::Move)) {
            // The frame becomes known some time after the window is mapped.
            const QMargins frame = frameOf(m_window);
            if (!frame.isNull()) {
                watched->removeEventFilter(this);
                if (frame != m_placedFor)
                    place(m_window, frame);
            }
        }
        return false;
    }

private:
    QWidget *m_window;
    QMargins m_placedFor;
};

} // namespace

void centreOnScreen(QWidget *window)
{
    new Centring(window);
}

} // namespace platform
