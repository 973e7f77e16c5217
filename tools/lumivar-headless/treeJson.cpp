#include "treeJson.h"

#include <nlohmann/json.hpp>

namespace lumivar {

namespace {

using Json = nlohmann::ordered_json;

// Device descriptions nest a bounded number of levels, so recursion is shallow.
Json nodeJson(const TreeNode &node)
{
    Json children = Json::array();
    for (const auto &child : node.children)
        children.push_back(nodeJson(*child));
    return Json{{"text", node.text},
                {"kind", node.kind()},
                {"entity", node.entity()},
                {"image", node.image},
                {"children", std::move(children)}};
}

} // namespace

std::string treeJson(const DeviceTree &tree, const std::optional<std::vector<std::string>> &controlPoints)
{
    Json roots = Json::array();
    for (const auto &root : tree.roots())
        roots.push_back(nodeJson(*root));
    Json document{{"roots", std::move(roots)}};
    if (controlPoints)
        document["activeControlPoints"] = *controlPoints;
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace lumivar
