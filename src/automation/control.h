#pragma once

#include "automation/dispatch.h"

#include <QObject>

#include <functional>

class QWidget;

namespace automation {

// A control behind the dispatch seam. Its events reach the host through the
// message pump: a control posts an event, it never calls the handler from
// inside the method call that started the work.
class Control : public Dispatch {
public:
    using EventHandler = std::function<void(DispId event, const QVariantList &args)>;

    Control() = default;
    Q_DISABLE_COPY_MOVE(Control)

    void setEventHandler(EventHandler handler) { m_eventHandler = std::move(handler); }

    // A visual control makes its window here; others have none.
    virtual QWidget *createWidget(QWidget *parent);

protected:
    // Queues the event; it is delivered when the thread handles its messages,
    // and dropped if the control is gone by then.
    void postEvent(DispId event, QVariantList args);

    // Delivers at once; for controls already running inside the message pump
    // (a click, a socket notification).
    void fireEvent(DispId event, const QVariantList &args);

private:
    EventHandler m_eventHandler;
    QObject m_eventContext;
};

using ControlPtr = std::shared_ptr<Control>;

} // namespace automation
