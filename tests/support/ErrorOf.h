#pragma once

#include "serial/MSComm.h"

#include <functional>

// Runs f and returns the number of the MSCommError it raised, 0 when none,
// -1 for an error without its text (every error carries one).
inline int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const MSCommError& e) {
        if (e.text().isEmpty()) return -1;
        return e.number();
    }
    return 0;
}
