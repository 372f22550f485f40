#pragma once

#include "automation/control.h"

#include <QString>

// The session control's interface, called by dispatch id, and its host class.
namespace NWSessLib_TLB {

inline const QString CLASS_NWSess = QStringLiteral("{EC747AE4-8EF6-11D0-B375-0000E20315E2}");

// Dispatch ids, one namespace per interface.
namespace dispid {
namespace DNWSess {
constexpr automation::DispId AttachedTrees = 10;
} // namespace DNWSess
namespace INWNetworkNames {
constexpr automation::DispId Count = 1;
constexpr automation::DispId Item = 2;
} // namespace INWNetworkNames
namespace INWNetworkName {
constexpr automation::DispId FullName = 1;
} // namespace INWNetworkName
} // namespace dispid

// One network name (a tree): its full name, NDS:\\TREE.
class INWNetworkName {
public:
    explicit INWNetworkName(automation::DispatchPtr object) : m_object(std::move(object)) {}
    [[nodiscard]] QString FullName() const;

private:
    automation::DispatchPtr m_object;
};

class INWNetworkNames {
public:
    explicit INWNetworkNames(automation::DispatchPtr object) : m_object(std::move(object)) {}
    [[nodiscard]] qint32 Count() const;
    [[nodiscard]] INWNetworkName Item(qint32 index) const;

private:
    automation::DispatchPtr m_object;
};

} // namespace NWSessLib_TLB

// Hosts the session control, created through the control registry.
class TNWSess {
public:
    TNWSess();
    Q_DISABLE_COPY_MOVE(TNWSess)

    // The trees this workstation is attached to, read afresh at each call.
    [[nodiscard]] NWSessLib_TLB::INWNetworkNames AttachedTrees() const;

private:
    automation::ControlPtr m_control;
};
