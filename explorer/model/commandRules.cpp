#include "commandRules.h"

#include <initializer_list>

namespace lumivar {

namespace {

bool isKind(uint16_t kind, std::initializer_list<uint16_t> kinds)
{
    for (uint16_t k : kinds)
        if (kind == k)
            return true;
    return false;
}

bool actionItemSelected(const SelectionContext &ctx)
{
    return isKind(ctx.selectedKind, {NK_ACTION, NK_ARGUMENT, NK_ARGUMENT_VALUE});
}

bool variableItemSelected(const SelectionContext &ctx)
{
    return isKind(ctx.selectedKind, {NK_VARIABLE, NK_VARIABLE_VALUE});
}

bool isRootSelected(const SelectionContext &ctx, NodeKind root)
{
    return ctx.selectedId != 0 && ctx.deviceNodeId == 0 && ctx.selectedKind == root;
}

// The first child's text of node's child titled childText, "" when absent.
std::string valueBelow(const TreeNode *node, std::string_view childText)
{
    const TreeNode *item = node != nullptr ? node->child(childText) : nullptr;
    return item != nullptr && !item->children.empty() ? item->children.front()->text : "";
}

// The scheme, host and port of url ("http://host:port"), "" without "://".
std::string originOf(const std::string &url)
{
    size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return {};
    size_t path = url.find('/', scheme + 3);
    return path == std::string::npos ? url : url.substr(0, path);
}

bool hasScheme(const std::string &url)
{
    size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    for (size_t i = 0; i < colon; ++i) {
        char c = url[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' ||
                                                                                    c == '-' || c == '.'));
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

bool isCommandEnabled(DeviceCommand command, const SelectionContext &ctx, const CommandState &state)
{
    bool notInactive = ctx.rootKind != NK_INACTIVE_ROOT;
    switch (command) {
    case DeviceCommand::DISCOVER:
        return isRootSelected(ctx, NK_ACTIVE_ROOT) || ctx.rootKind == NK_ACTIVE_ROOT;
    case DeviceCommand::EXECUTE_ACTION:
        return notInactive && actionItemSelected(ctx);
    case DeviceCommand::QUERY_VARIABLE:
        return notInactive && variableItemSelected(ctx);
    case DeviceCommand::WALK_VARIABLES:
        return false;
    case DeviceCommand::SUBSCRIBE:
    case DeviceCommand::UNSUBSCRIBE:
        return ctx.rootKind == NK_ACTIVE_ROOT;
    case DeviceCommand::SHOW_SUBSCRIPTIONS:
        return notInactive;
    case DeviceCommand::SET_VALUE:
        return (notInactive && actionItemSelected(ctx)) ||
               (ctx.rootKind == NK_VIRTUAL_ROOT && variableItemSelected(ctx));
    case DeviceCommand::RETRIEVE_XML:
        return ctx.selectedId != 0 && !isRootSelected(ctx, NK_ACTIVE_ROOT);
    case DeviceCommand::VISIT:
        return ctx.selectedKind >= NK_MANUFACTURER_URL && ctx.selectedKind <= NK_PRESENTATION_URL + 1;
    case DeviceCommand::LOAD_XML_FILE:
        return true;
    case DeviceCommand::UNLOAD_XML_FILE:
        return ctx.rootKind == NK_VIRTUAL_ROOT || ctx.rootKind == NK_INACTIVE_ROOT;
    case DeviceCommand::START_MONITOR:
        return !state.monitorRunning;
    case DeviceCommand::STOP_MONITOR:
        return state.monitorRunning;
    case DeviceCommand::RUN_VIRTUAL_DEVICE:
        return ctx.deviceSelected() && ctx.rootKind == NK_INACTIVE_ROOT;
    case DeviceCommand::STOP_VIRTUAL_DEVICE:
        return ctx.deviceSelected() && ctx.rootKind == NK_VIRTUAL_ROOT;
    case DeviceCommand::START_EXPLORER:
        return !state.explorerRunning;
    case DeviceCommand::STOP_EXPLORER:
        return state.explorerRunning;
    }
    return false;
}

std::string scpdUrlOf(const std::string &location, const std::string &scpdUrl, bool loadedFile)
{
    if (scpdUrl.empty())
        return {};
    if (loadedFile) {
        size_t dir = location.find_last_of("/\\");
        size_t name = scpdUrl.find_last_of('/');
        std::string file = name == std::string::npos ? "/" + scpdUrl : scpdUrl.substr(name);
        return dir == std::string::npos ? file.substr(1) : location.substr(0, dir) + file;
    }
    if (hasScheme(scpdUrl))
        return scpdUrl;
    if (scpdUrl.front() == '/') {
        std::string origin = originOf(location);
        return origin.empty() ? std::string() : origin + scpdUrl;
    }
    size_t dir = location.find_last_of('/');
    if (originOf(location).empty() || dir == std::string::npos)
        return {};
    return location.substr(0, dir + 1) + scpdUrl;
}

std::string retrieveXmlUrl(const DeviceTree &tree, uint64_t selectedId)
{
    SelectionContext ctx = selectionContextOf(tree, selectedId);
    const TreeNode *device = ctx.deviceNodeId != 0 ? tree.findById(ctx.deviceNodeId) : nullptr;
    if (device == nullptr)
        return {};
    // A filtered device has no children: its key is the same URL.
    std::string location = valueBelow(device, "Location");
    if (location.empty())
        location = device->key;
    if (ctx.serviceNodeId == 0)
        return location;
    const TreeNode *service = tree.findById(ctx.serviceNodeId);
    std::string scpd = valueBelow(service != nullptr ? service->child("Properties") : nullptr, "SCPDURL");
    bool loadedFile = ctx.rootKind == NK_VIRTUAL_ROOT || ctx.rootKind == NK_INACTIVE_ROOT;
    return scpdUrlOf(location, scpd, loadedFile);
}

std::string visitUrl(const DeviceTree &tree, uint64_t selectedId)
{
    const TreeNode *node = selectedId != 0 ? tree.findById(selectedId) : nullptr;
    if (node == nullptr)
        return {};
    uint16_t kind = node->kind();
    if (kind == NK_MANUFACTURER_URL || kind == NK_PRESENTATION_URL)
        return node->children.empty() ? "" : node->children.front()->text;
    if (kind == NK_MANUFACTURER_URL + 1 || kind == NK_PRESENTATION_URL + 1)
        return node->text;
    return {};
}

} // namespace lumivar
