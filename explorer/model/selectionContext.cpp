#include "selectionContext.h"

namespace lumivar {

namespace {

bool isRoot(const TreeNode &node) { return node.parent == nullptr; }

} // namespace

SelectionContext selectionContextOf(const DeviceTree &tree, uint64_t selectedId)
{
    SelectionContext ctx;
    const TreeNode *selected = selectedId != 0 ? tree.findById(selectedId) : nullptr;
    if (selected == nullptr)
        return ctx;
    ctx.selectedId = selectedId;
    ctx.selectedKind = selected->kind();
    if (isRoot(*selected))
        return ctx;
    // Kinds 8, 10 and 14 also name nothing but services, actions and
    // variables deeper down, so the nearest one of each is the target.
    for (const TreeNode *n = selected; n != nullptr && !isRoot(*n); n = n->parent) {
        uint16_t kind = n->kind();
        if (kind == NK_SERVICE && ctx.serviceNodeId == 0) {
            ctx.serviceNodeId = n->id;
            ctx.service = n->text;
        } else if (kind == NK_ACTION && ctx.actionNodeId == 0) {
            ctx.actionNodeId = n->id;
            ctx.action = n->text;
        } else if (kind == NK_VARIABLE && ctx.variableNodeId == 0) {
            ctx.variableNodeId = n->id;
            ctx.variable = n->text;
        }
        if (n->parent != nullptr && isRoot(*n->parent)) {
            ctx.deviceNodeId = n->id;
            ctx.rootKind = static_cast<NodeKind>(n->parent->kind());
            ctx.entity = n->entity();
            ctx.location = n->key;
        }
    }
    return ctx;
}

} // namespace lumivar
