// Polls a condition until it holds or the time is up: what a test waits for
// arrives from another process or the server thread.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace qntest {

inline bool waitFor(const std::function<bool()> &done,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(8000))
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

} // namespace qntest
