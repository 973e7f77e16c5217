// "Subscribe", "Unsubscribe" and "Show Subcriptoins": a service's
// subscription and the SID item (kind 32) that its "Subcription" item holds.
#include "deviceOperations.h"

#include "text.h"

#include <utility>

namespace lumivar {

namespace {

TreeNode *subscriptionItemOf(const TreeNode &service)
{
    for (const auto &part : service.children)
        if (part->kind() == NK_SUBSCRIPTION)
            return part.get();
    return nullptr;
}

// The SID the tree shows for the service, "" when it shows none.
std::string sidOf(const DeviceTree &tree, uint64_t serviceNodeId)
{
    const TreeNode *service = tree.findById(serviceNodeId);
    const TreeNode *item = service != nullptr ? subscriptionItemOf(*service) : nullptr;
    return item != nullptr && !item->children.empty() ? item->children.front()->text : "";
}

// Shows sid as the service's SID item, or removes the item when sid is "".
void showSid(DeviceTree &tree, uint64_t serviceNodeId, QN_ENTITY entity, const std::string &sid)
{
    TreeNode *service = tree.findById(serviceNodeId);
    TreeNode *item = service != nullptr ? subscriptionItemOf(*service) : nullptr;
    if (item == nullptr)
        return;
    if (sid.empty()) {
        if (item->children.empty())
            return;
        item->children.clear();
    } else if (item->children.empty()) {
        tree.appendChild(*item, {sid, NK_SUBSCRIPTION_SID, entity, NI_ITEM});
    } else {
        TreeNode &sidItem = *item->children.front();
        sidItem.text = sid;
        sidItem.value = itemValue(NK_SUBSCRIPTION_SID, entity);
        item->children.resize(1);
    }
    tree.notify({TreeNotification::NODE_CHANGED, item->id, ""});
}

// The selection's context and the SID its service item shows, read in one go.
std::pair<SelectionContext, std::string> selectedService(const DeviceExplorer &explorer, uint64_t selectedId)
{
    std::pair<SelectionContext, std::string> out;
    explorer.readTree([&](const DeviceTree &tree) {
        out.first = selectionContextOf(tree, selectedId);
        out.second = sidOf(tree, out.first.serviceNodeId);
    });
    return out;
}

InfoRows subscriptionRows(const char *title, bool ok, const std::string &service, const std::string &sid)
{
    InfoRows rows = valuesLayout();
    if (!ok) {
        rows.add({title, "failed"});
        return rows;
    }
    rows.add({title, "Success"});
    rows.add({"Service", service});
    rows.add({"SID", sid});
    return rows;
}

} // namespace

// True (after its message, if any) when the selection holds no service.
bool DeviceOperations::stopWithoutService(const SelectionContext &ctx)
{
    if (ctx.serviceNodeId != 0)
        return false;
    if (ctx.deviceNodeId == 0)
        prompts_.messageBox(kSelectDeviceOrServiceFirst);
    else if (ctx.rootKind == NK_ACTIVE_ROOT)
        prompts_.messageBox(kSelectServiceFirst);
    return true;
}

InfoRows DeviceOperations::subscribe(uint64_t selectedId, bool on)
{
    auto selected = selectedService(explorer_, selectedId);
    const SelectionContext &ctx = selected.first;
    std::string &sid = selected.second;
    if (stopWithoutService(ctx))
        return {};
    const char *title = on ? "Subscription" : "Unsubscription";
    bool ok = false;
    if (on) {
        // A SID held already is renewed, so a second "Subscribe" does not
        // leave a first subscription behind at the device.
        char buf[QN_VAL_MAX_LEN];
        copyBounded(buf, sizeof buf, sid);
        explorer_.expectEvents(ctx.entity, ctx.serviceNodeId, true);
        ok = qnCPSubscribe(ctx.entity, ctx.service.c_str(), kEventCallbackPath, kSubscriptionTimeout, buf,
                           sizeof buf) == QN_OK &&
             buf[0] != '\0';
        sid = ok ? buf : "";
    } else {
        ok = !sid.empty() && qnCPUnsubscribe(ctx.entity, ctx.service.c_str(), sid.c_str()) == QN_OK;
    }
    // A failure removes the SID item too: the tree never shows a SID the
    // stack no longer holds.
    if (on || !sid.empty())
        explorer_.editTree([&](DeviceTree &tree) { showSid(tree, ctx.serviceNodeId, ctx.entity, on ? sid : ""); });
    if (on)
        explorer_.expectEvents(ctx.entity, ctx.serviceNodeId, false);
    return subscriptionRows(title, ok, ctx.service, sid);
}

InfoRows DeviceOperations::showSubscription(uint64_t selectedId)
{
    auto selected = selectedService(explorer_, selectedId);
    const SelectionContext &ctx = selected.first;
    std::string &sid = selected.second;
    if (stopWithoutService(ctx))
        return {};
    return subscriptionRows("Subscription", !sid.empty(), ctx.service, sid);
}

} // namespace lumivar
