// The device tree document without a network: child lists rebuilt in place,
// the placement rule, item values and notifications.
#include "deviceTree.h"
#include "fileView.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace lumivar;

std::vector<std::string> texts(const TreeNode &node)
{
    std::vector<std::string> out;
    for (const auto &c : node.children)
        out.push_back(c->text);
    return out;
}

std::vector<WantedChild> wanted(const std::vector<std::string> &names, uint16_t kind = NK_ACTION, QN_ENTITY e = 3)
{
    std::vector<WantedChild> out;
    for (const auto &n : names)
        out.push_back({n, kind, e, NI_ITEM});
    return out;
}

TEST(DeviceTree, RebuildInPlace)
{
    struct Case {
        const char *name;
        std::vector<std::string> before;
        std::vector<std::string> want;
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"same list", {"a", "b", "c"}, {"a", "b", "c"}, {"a", "b", "c"}},
        {"middle dropped", {"a", "b", "c"}, {"a", "c"}, {"a", "c"}},
        {"new ones appended at the end", {"b", "c"}, {"a", "b", "c", "d"}, {"b", "c", "a", "d"}},
        {"everything dropped", {"a", "b"}, {}, {}},
        {"repeated text is one node", {}, {"x", "x", "y"}, {"x", "y"}},
        {"text compares case-sensitively", {"Name"}, {"name"}, {"name"}},
    };
    for (const auto &c : cases) {
        DeviceTree tree;
        TreeNode &parent = tree.root(NK_ACTIVE_ROOT);
        tree.rebuildChildren(parent, wanted(c.before));
        std::vector<uint64_t> idsBefore;
        for (const auto &child : parent.children)
            idsBefore.push_back(child->id);
        if (!parent.children.empty())
            parent.children.front()->expanded = true; // what a view would keep
        std::vector<TreeNode *> nodes = tree.rebuildChildren(parent, wanted(c.want, NK_VARIABLE, 7));
        EXPECT_EQ(texts(parent), c.after) << c.name;
        ASSERT_EQ(nodes.size(), c.want.size()) << c.name;
        for (size_t i = 0; i < nodes.size(); ++i) {
            EXPECT_EQ(nodes[i]->text, c.want[i]) << c.name;
            EXPECT_EQ(nodes[i]->value, itemValue(NK_VARIABLE, 7)) << c.name;
        }
        // A surviving node is the same node: its id and view state are kept.
        for (const auto &child : parent.children) {
            for (size_t i = 0; i < c.before.size(); ++i)
                if (c.before[i] == child->text) {
                    EXPECT_EQ(child->id, idsBefore[i]) << c.name << " " << child->text;
                    EXPECT_EQ(child->expanded, i == 0) << c.name;
                }
        }
    }
}

TEST(DeviceTree, SubscriptionSidSurvivesRebuildAndUpsertNeverDuplicates)
{
    DeviceTree tree;
    TreeNode &sub = tree.upsertChild(tree.root(NK_ACTIVE_ROOT), {"Subcription", NK_SUBSCRIPTION, 5});
    tree.upsertChild(sub, {"uuid:sid-1", NK_SUBSCRIPTION_SID, 5});
    tree.upsertChild(sub, {"stale", NK_PROPERTY, 5});
    tree.rebuildChildren(sub, {});
    EXPECT_EQ(texts(sub), std::vector<std::string>{"uuid:sid-1"});
    TreeNode &again = tree.upsertChild(tree.root(NK_ACTIVE_ROOT), {"Subcription", NK_SUBSCRIPTION, 6});
    EXPECT_EQ(&again, &sub);
    EXPECT_EQ(tree.root(NK_ACTIVE_ROOT).children.size(), 1u);
    EXPECT_EQ(sub.entity(), 6);
}

TEST(DeviceTree, PlacementRule)
{
    struct Case {
        bool active, isVirtual, filtered;
        NodeKind root;
    };
    const Case cases[] = {
        {true, false, false, NK_ACTIVE_ROOT},    {true, true, false, NK_VIRTUAL_ROOT},
        {false, false, false, NK_INACTIVE_ROOT}, {false, true, false, NK_INACTIVE_ROOT},
        {true, false, true, NK_FILTERED_ROOT},   {true, true, true, NK_FILTERED_ROOT},
        {false, false, true, NK_FILTERED_ROOT},  {false, true, true, NK_FILTERED_ROOT},
    };
    for (const auto &c : cases)
        EXPECT_EQ(rootKindFor(c.active, c.isVirtual, c.filtered), c.root)
            << c.active << c.isVirtual << c.filtered;
    DeviceTree tree;
    std::vector<std::string> rootTexts;
    for (const auto &r : tree.roots())
        rootTexts.push_back(r->text + "/" + std::to_string(r->kind()));
    EXPECT_EQ(rootTexts, (std::vector<std::string>{"Active Devices/1", "Virtual Devices/2", "Inactive Devices/3",
                                                   "Filtered Devices/4"}));
}

TEST(DeviceTree, ItemValuePacking)
{
    struct Case {
        uint16_t kind;
        QN_ENTITY entity;
        uint32_t value;
    };
    const Case cases[] = {
        {NK_ACTIVE_ROOT, 0, 0x00010000u},
        {NK_DEVICE, 15, 0x0006000fu},
        {NK_DEVICE, QN_INVALID_CONTROL_POINT, 0x00060100u}, // "no entity" still fits the low half
        {NK_SUBSCRIPTION_SID, QN_MAX_ENTITY - 1, 0x002000ffu},
        {0xffff, 0xffff, 0xffffffffu},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(itemValue(c.kind, c.entity), c.value);
        EXPECT_EQ(kindOfValue(c.value), c.kind);
        EXPECT_EQ(entityOfValue(c.value), c.entity);
    }
    EXPECT_EQ(propertyKindFor("SCPDURL"), NK_SCPD_URL);
    EXPECT_EQ(propertyKindFor("manufacturerURL"), NK_MANUFACTURER_URL);
    EXPECT_EQ(propertyKindFor("presentationURL"), NK_PRESENTATION_URL);
    EXPECT_EQ(propertyKindFor("scpdurl"), NK_PROPERTY);
}

TEST(DeviceTree, FindAndRemoveAndNotifications)
{
    DeviceTree tree;
    TreeNode &dev = tree.upsertChild(tree.root(NK_FILTERED_ROOT), {"http://a/d.xml", NK_DEVICE, 2, NI_DEVICE});
    dev.key = "http://a/d.xml";
    tree.upsertChild(dev, {"Location", NK_LOCATION, 2});
    EXPECT_EQ(tree.findDevice("http://a/d.xml"), &dev);
    EXPECT_EQ(tree.findPath({"Filtered Devices", "http://a/d.xml", "Location"}), dev.children.front().get());
    EXPECT_EQ(tree.findPath({"Active Devices", "http://a/d.xml"}), nullptr);
    EXPECT_EQ(tree.findById(dev.id), &dev);
    tree.notify({TreeNotification::NODE_CHANGED, dev.id, ""});
    tree.notify({TreeNotification::LOG_LINE, 0, "x\r\n"});
    EXPECT_EQ(tree.takeNotifications().size(), 2u);
    EXPECT_TRUE(tree.takeNotifications().empty());
    uint64_t id = dev.id;
    tree.removeNode(dev);
    EXPECT_EQ(tree.findById(id), nullptr);
    EXPECT_EQ(tree.findDevice("http://a/d.xml"), nullptr);
    tree.removeNode(tree.root(NK_ACTIVE_ROOT)); // roots stay
    EXPECT_EQ(tree.roots().size(), 4u);
}

// A record moves between the roots of the File View as in the device tree,
// and its children follow what the description holds.
TEST(FileView, PlacesRecordsAndFollowsTheirDescription)
{
    DeviceTree view(TreeNotification::FILE_VIEW);
    EXPECT_NE(view.root(NK_ACTIVE_ROOT).id, DeviceTree().root(NK_ACTIVE_ROOT).id);
    DeviceRecord record{.entity = 4, .owner = 1, .location = "http://10.0.0.2:80/d.xml", .name = "Lamp"};
    refreshFileView(view, record, "Lamp", {"Lamp", "Dimmer"});
    TreeNode *node = view.findPath({"Active Devices", "Lamp"});
    ASSERT_NE(node, nullptr) << view.dump();
    EXPECT_EQ(node->value, itemValue(FV_RECORD, 4));
    EXPECT_EQ(texts(*node), (std::vector<std::string>{"Location", "Lamp", "Dimmer"}));
    EXPECT_EQ(view.findPath({"Active Devices", "Lamp", "Dimmer", record.location})->kind(), FV_DEVICE_URL);
    EXPECT_EQ(view.findPath({"Active Devices", "Lamp", "Location", record.location})->kind(), FV_LOCATION_URL);

    record.filtered = true;
    record.entity = QN_INVALID_CONTROL_POINT;
    refreshFileView(view, record, record.location, {});
    EXPECT_TRUE(view.root(NK_ACTIVE_ROOT).children.empty()) << view.dump();
    node = view.findPath({"Filtered Devices", record.location});
    ASSERT_NE(node, nullptr) << view.dump();
    EXPECT_EQ(texts(*node), std::vector<std::string>{"Location"});
    auto notes = view.takeNotifications();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.front().document, TreeNotification::FILE_VIEW);
}

} // namespace
