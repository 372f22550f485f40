#pragma once

#include "automation/control.h"

namespace directory {
class Client;
}

namespace nwcontrols {

// The session control over the directory client: lists the attached trees.
class SessionControl final : public automation::Control {
public:
    explicit SessionControl(directory::Client &client) : m_client(client) {}
    QVariant invoke(automation::DispId id, automation::InvokeKind kind, const QVariantList &args) override;

private:
    directory::Client &m_client;
};

} // namespace nwcontrols
