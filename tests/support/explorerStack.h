// What the explorer model's network tests share: the stack for one test
// (its console quiet, its server on a thread of its own), and user prompts
// that record what the model asked instead of asking anyone.
#pragma once

#include "qnSdkApi.h"
#include "sdkThread.h"
#include "userPrompts.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qntest {

// Made after any forked peer (a fork must not see the server thread).
struct ExplorerStack {
    ExplorerStack()
    {
        qnSetConsoleSink([](const char *) {});
        QNApiSdkConfig config{1, 0, 1 << 20, startThread, 0, 0};
        ok = qnSdkInit(&config) == QN_OK;
    }
    ~ExplorerStack()
    {
        qnSdkClean();
        qnSetConsoleSink(nullptr);
    }
    ExplorerStack(const ExplorerStack &) = delete;
    ExplorerStack &operator=(const ExplorerStack &) = delete;
    bool ok = false;
};

class RecordedPrompts : public lumivar::UserPrompts {
public:
    void messageBox(const std::string &text) override
    {
        std::lock_guard guard(lock_);
        boxes_.push_back(text);
    }
    bool editValues(lumivar::SetValueDialog &) override { return false; }
    std::optional<std::string> chooseOpenFile(const std::string &) override { return std::nullopt; }

    // The message boxes shown since the last call, joined by '|'.
    std::string take()
    {
        std::lock_guard guard(lock_);
        std::string out;
        for (const auto &b : boxes_)
            out += (out.empty() ? "" : "|") + b;
        boxes_.clear();
        return out;
    }

private:
    std::mutex lock_;
    std::vector<std::string> boxes_;
};

} // namespace qntest
