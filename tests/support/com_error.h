// Runs a port operation that must fail and hands back the EComPort it raised.
#pragma once

#include <gtest/gtest.h>

#include "link/Cport.h"

template <typename F>
EComPort CatchComError(F&& f) {
    try {
        f();
    } catch (const EComPort& e) {
        return e;
    }
    ADD_FAILURE() << "no EComPort raised";
    return EComPort(0);
}
