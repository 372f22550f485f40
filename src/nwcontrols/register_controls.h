#pragma once

namespace directory {
class Client;
}

namespace nwcontrols {

// Registers the session, directory and browse controls, working on `client`,
// under their control class ids. `client` must outlive every control.
void registerControls(directory::Client &client);

} // namespace nwcontrols
