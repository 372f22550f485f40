#pragma once

#include "automation/control.h"
#include "nwcontrols/NWSessLib_TLB.h"

#include <QString>

#include <functional>

class QWidget;

// The browse control's interface, called by dispatch id, and its host class.
namespace NWBrowseLib_TLB {

inline const QString CLASS_NWBrowse = QStringLiteral("{E1CE1308-933E-11D2-A9E3-8287644B6D5E}");

// Dispatch ids, one namespace per interface.
namespace dispid {
namespace DNWBrowse {
constexpr automation::DispId ExpandMode = 2;
constexpr automation::DispId DirectorySource = 3;
} // namespace DNWBrowse
namespace DNWBrowseEvents {
constexpr automation::DispId OnEntryClicked = 1;
} // namespace DNWBrowseEvents
// A clicked entry is a network name, as the session library declares it.
namespace INWNetworkName = NWSessLib_TLB::dispid::INWNetworkName;
} // namespace dispid

using INWNetworkName = NWSessLib_TLB::INWNetworkName;

} // namespace NWBrowseLib_TLB

// Hosts the browse control and its window.
class TNWBrowse {
public:
    explicit TNWBrowse(QWidget *parent);
    Q_DISABLE_COPY_MOVE(TNWBrowse)

    [[nodiscard]] QWidget *Widget() const { return m_widget; }
    void SetExpandMode(qint32 mode);
    void SetDirectorySource(const automation::DispatchPtr &directory);

    std::function<void(TNWBrowse *Sender, const NWBrowseLib_TLB::INWNetworkName &Entry)> OnEntryClicked;

private:
    automation::ControlPtr m_control;
    QWidget *m_widget;
};
