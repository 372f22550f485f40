#pragma once

#include "platform/error.h"

#include <QString>

#include <functional>

// The message of the error that `step` raises; empty when it raises none.
inline QString errorOf(const std::function<void()> &step)
{
    try {
        step();
    } catch (const std::exception &e) {
        return platform::messageOf(e);
    }
    return {};
}
