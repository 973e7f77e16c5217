// The Device Explorer's side of GENA: the values a device control point
// receives (MT_CP_EVENT, on the server thread) go into the variable items of
// the device's tree and into the event value table.
#include "deviceExplorer.h"

#include "modelLock.h"

#include <algorithm>
#include <ctime>

namespace lumivar {

namespace {

// The device node (under any root) of the device control point cp.
TreeNode *controlPointNode(const DeviceTree &tree, QN_ENTITY cp)
{
    for (const auto &r : tree.roots())
        for (const auto &c : r->children)
            if (c->kind() == NK_DEVICE && c->entity() == cp)
                return c.get();
    return nullptr;
}

// The first variable item named name at or below node, in tree order.
TreeNode *findVariable(TreeNode &node, std::string_view name)
{
    if (node.kind() == NK_VARIABLE && node.text == name)
        return &node;
    for (auto &c : node.children)
        if (TreeNode *found = findVariable(*c, name))
            return found;
    return nullptr;
}

// The SID item of a service item, or null.
const TreeNode *sidOf(const TreeNode &service)
{
    for (const auto &part : service.children)
        if (part->kind() == NK_SUBSCRIPTION)
            return part->children.empty() ? nullptr : part->children.front().get();
    return nullptr;
}

TreeNode *serviceWithSid(TreeNode &node, const std::string &sid)
{
    if (node.kind() == NK_SERVICE) {
        const TreeNode *item = sidOf(node);
        return item != nullptr && item->text == sid ? &node : nullptr;
    }
    for (auto &c : node.children)
        if (TreeNode *found = serviceWithSid(*c, sid))
            return found;
    return nullptr;
}

std::string unknownVariableText(int index, int count, const char *action, const std::string &name)
{
    return "Unknown variable(" + std::to_string(index) + "/" + std::to_string(count) + ") for action " + action +
           ": " + name + "!";
}

} // namespace

void DeviceExplorer::expectEvents(QN_ENTITY entity, uint64_t serviceNodeId, bool expecting)
{
    std::lock_guard guard(mutex_);
    auto same = [&](const ExpectedEvents &e) { return e.entity == entity && e.serviceNodeId == serviceNodeId; };
    if (expecting)
        expected_.push_back({entity, serviceNodeId});
    else if (auto it = std::find_if(expected_.begin(), expected_.end(), same); it != expected_.end())
        expected_.erase(it);
}

// Variable names repeat across services (LastChange is in both of a media
// renderer's): the service is the one whose subscription sent the event.
TreeNode *DeviceExplorer::serviceOfEvent(TreeNode &device, QN_ENTITY cp, const std::string &sid)
{
    if (!sid.empty())
        if (TreeNode *service = serviceWithSid(device, sid))
            return service;
    for (auto it = expected_.rbegin(); it != expected_.rend(); ++it)
        if (it->entity == cp)
            if (TreeNode *service = tree_.findById(it->serviceNodeId))
                return service;
    return nullptr;
}

// Runs on the server thread, which already holds the stack's lock: it never
// waits for the window, unknown names are queued as messages.
QN_RET DeviceExplorer::eventReceived(QN_ENTITY cp, const QNApiEvent &event)
{
    ModelLock stack;
    std::lock_guard guard(mutex_);
    TreeNode *device = controlPointNode(tree_, cp);
    TreeNode *service = device != nullptr ? serviceOfEvent(*device, cp, event.errDesc) : nullptr;
    auto now = static_cast<uint32_t>(std::time(nullptr));
    int count = std::min<int>(event.argNum, QN_ARG_MAX_NUM);
    bool stored = false;
    for (int i = 0; i < count; ++i) {
        std::string_view received = event.argNV[i].name;
        std::string_view name = received.substr(received.find(':') == std::string_view::npos
                                                    ? 0
                                                    : received.find(':') + 1);
        TreeNode *variable = service != nullptr ? findVariable(*service, name) : nullptr;
        if (variable == nullptr && device != nullptr)
            variable = findVariable(*device, name);
        if (variable == nullptr) {
            tree_.notify({TreeNotification::MESSAGE_BOX, 0,
                          unknownVariableText(i + 1, count, event.action, std::string(received))});
            continue;
        }
        const char *value = event.argNV[i].val;
        tree_.rebuildChildren(*variable, {{value, NK_VARIABLE_VALUE, cp, NI_ITEM}});
        tree_.notify({TreeNotification::NODE_CHANGED, variable->id, ""});
        // Stored under the variable's own name, which the Event window looks up.
        events_.store(static_cast<uint32_t>(cp), variable->text, value, now);
        stored = true;
    }
    if (stored)
        tree_.notify({TreeNotification::EVENT_STORED, 0, "", cp});
    return 0;
}

} // namespace lumivar
