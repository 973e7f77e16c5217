// What the window's tests share: a tree document of their own behind the
// model's reader interface, and prompts that record what the window asked
// instead of showing it.
#pragma once

#include "deviceTree.h"
#include "documentTreeModel.h"
#include "explorerLinks.h"
#include "setValueDialog.h"
#include "userPrompts.h"

#include <QMenu>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace uitest {

struct Document {
    explicit Document(lumivar::TreeNotification::Document which = lumivar::TreeNotification::DEVICE_TREE)
        : tree(which)
    {
    }
    std::mutex mutex;
    lumivar::DeviceTree tree;

    lumivarui::DocumentTreeModel::Reader reader()
    {
        return [this](const std::function<void(const lumivar::DeviceTree &)> &read) {
            std::lock_guard guard(mutex);
            read(tree);
        };
    }
};

// Answers for the window; safe from the operations' worker thread.
class RecordingPrompts : public lumivar::UserPrompts {
public:
    void messageBox(const std::string &text) override
    {
        std::lock_guard guard(mutex_);
        messages_.push_back(text);
    }
    bool editValues(lumivar::SetValueDialog &dialog) override
    {
        return editor ? editor(dialog) : false;
    }
    std::optional<std::string> chooseOpenFile(const std::string &filterText) override
    {
        std::lock_guard guard(mutex_);
        fileFilters_.push_back(filterText);
        return chosenFile;
    }

    std::vector<std::string> messages() const
    {
        std::lock_guard guard(mutex_);
        return messages_;
    }
    std::vector<std::string> fileFilters() const
    {
        std::lock_guard guard(mutex_);
        return fileFilters_;
    }

    std::function<bool(lumivar::SetValueDialog &)> editor; // the "Set Value" dialog's stand-in
    std::optional<std::string> chosenFile;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    std::vector<std::string> fileFilters_;
};

// A menu's entries as shown, "-" for a separator.
inline std::vector<std::string> menuTexts(const QMenu &menu)
{
    std::vector<std::string> out;
    for (const QAction *a : menu.actions())
        out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
}

} // namespace uitest
