#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace modal {

// Arms a zero timer that, once the next modal window is up, hands it to `act`
// (which answers it), and keeps trying until one appears.
inline void whenShown(std::function<void(QWidget *)> act)
{
    QTimer::singleShot(0, [act = std::move(act)]() mutable {
        if (QWidget *window = QApplication::activeModalWidget())
            act(window);
        else
            whenShown(std::move(act));
    });
}

} // namespace modal
