#include "nwcontrols/register_controls.h"

#include "automation/control_registry.h"
#include "nwcontrols/NWBrowseLib_TLB.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/browse_control.h"
#include "nwcontrols/NWSessLib_TLB.h"
#include "nwcontrols/directory_control.h"
#include "nwcontrols/session_control.h"

namespace nwcontrols {

void registerControls(directory::Client &client)
{
    auto &registry = automation::ControlRegistry::instance();
    registry.registerClass(NWSessLib_TLB::CLASS_NWSess, [&client] { return std::make_shared<SessionControl>(client); });
    registry.registerClass(NWDirLib_TLB::CLASS_NWDir, [&client] { return std::make_shared<DirectoryControl>(client); });
    registry.registerClass(NWBrowseLib_TLB::CLASS_NWBrowse, [] { return std::make_shared<BrowseControl>(); });
}

} // namespace nwcontrols
