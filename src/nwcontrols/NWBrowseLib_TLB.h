#pragma once

#include "automation/control.h"
#include "nwcontrols/NWSessLib_TLB.h"

#include <QString>

#include <functional>

class QWidget;

// The browse control's interface, called by dispatch id, and its host class.
namespace NWBrowseLib_TLB {

inline const QString CLASS_NWBrowse = QStringLiteral("{E1CE1308-933E-11D2-A9E3-8287644B6D5E}");

namespace dispid {
constexpr automation::DispId ExpandMode = 2;
constexpr automation::DispId DirectorySource = 3;
constexpr automation::DispId OnEntryClicked = 1; // event
constexpr automation::DispId EntryFullName = 1;
} // namespace dispid

// A clicked entry: a network name, as the session library declares it.
using INWNetworkName = NWSessLib_TLB::INWNetworkName;
static_assert(dispid::EntryFullName == NWSessLib_TLB::dispid::NameFullName);

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
