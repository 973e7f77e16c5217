// Which device commands a selection enables, and the URLs "Retrieve XML"
// and "Visit" open, on a tree laid out as the Device Explorer builds it:
// a device of the network, a loaded file (inactive), a running virtual
// device and a filtered one.
#include "commandRules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace lumivar;
using Cmd = DeviceCommand;

constexpr char kPower[] = "urn:schemas-upnp-org:service:SwitchPower:1";

TreeNode &add(DeviceTree &tree, TreeNode &parent, const std::string &text, uint16_t kind, QN_ENTITY entity)
{
    return tree.appendChild(parent, {text, kind, entity});
}

// A device node with its location, properties and one service with an
// action, an argument value, a variable and its value.
void addDevice(DeviceTree &tree, NodeKind root, const std::string &title, QN_ENTITY e, const std::string &location,
               const std::string &scpdUrl)
{
    TreeNode &dev = add(tree, tree.root(root), title, NK_DEVICE, e);
    dev.key = location;
    add(tree, add(tree, dev, "Location", NK_LOCATION, e), location, NK_LOCATION_URL, e);
    TreeNode &props = add(tree, dev, "Properties", NK_PROPERTIES, e);
    add(tree, add(tree, props, "manufacturerURL", NK_MANUFACTURER_URL, e), "http://maker.example/", 22, e);
    add(tree, props, "presentationURL", NK_PRESENTATION_URL, e); // no value, as GUPnP's light
    TreeNode &service = add(tree, add(tree, dev, "Service List", NK_SERVICE_LIST, e), kPower, NK_SERVICE, e);
    add(tree, service, "Subcription", NK_SUBSCRIPTION, e);
    add(tree, add(tree, add(tree, service, "Properties", NK_PROPERTIES, e), "SCPDURL", NK_SCPD_URL, e), scpdUrl, 28, e);
    TreeNode &action = add(tree, add(tree, service, "Actions", NK_ACTIONS, e), "SetTarget", NK_ACTION, e);
    add(tree, add(tree, action, "newTargetValue", NK_ARGUMENT, e), "1", NK_ARGUMENT_VALUE, e);
    TreeNode &variable = add(tree, add(tree, service, "Variables", NK_VARIABLES, e), "Status", NK_VARIABLE, e);
    add(tree, variable, "0", NK_VARIABLE_VALUE, e);
}

struct Fixture {
    DeviceTree tree;
    Fixture()
    {
        addDevice(tree, NK_ACTIVE_ROOT, "Light", 3, "http://10.0.0.2:4000/desc/light.xml", "/SwitchPower.xml");
        addDevice(tree, NK_INACTIVE_ROOT, "File", 5, "http://10.0.0.9:30909/files/light.xml", "/scpd/Power.xml");
        addDevice(tree, NK_VIRTUAL_ROOT, "Virtual", 6, "C:\\devices\\light.xml", "scpd/Power.xml");
        addDevice(tree, NK_ACTIVE_ROOT, "Relative", 7, "http://10.0.0.3/d/desc.xml", "scpd/Power.xml");
        addDevice(tree, NK_ACTIVE_ROOT, "Absolute", 8, "http://10.0.0.4/desc.xml", "http://10.0.0.5:81/Power.xml");
        TreeNode &dropped = add(tree, tree.root(NK_FILTERED_ROOT), "http://10.0.0.6/desc.xml", NK_DEVICE,
                                QN_INVALID_CONTROL_POINT);
        dropped.key = dropped.text;
    }
    // {} nothing; {"Active Devices"} a root; else root, device, then below.
    uint64_t idOf(const std::vector<std::string> &path) const
    {
        const TreeNode *node = path.empty() ? nullptr : tree.findPath(path);
        return node != nullptr ? node->id : 0;
    }
};

const std::vector<std::string> kPowerPath = {"Service List", kPower};

std::vector<std::string> under(const std::string &root, const std::string &device, std::vector<std::string> tail = {},
                               bool inService = false)
{
    std::vector<std::string> path = {root, device};
    if (inService)
        path.insert(path.end(), kPowerPath.begin(), kPowerPath.end());
    path.insert(path.end(), tail.begin(), tail.end());
    return path;
}

TEST(CommandRules, EnablingTable)
{
    Fixture f;
    const CommandState monitoring{false, true};
    // Enabled whatever is selected, in the state "running".
    const std::set<Cmd> always = {Cmd::LOAD_XML_FILE, Cmd::START_MONITOR, Cmd::STOP_EXPLORER};
    struct Case {
        const char *name;
        std::vector<std::string> selection;
        std::set<Cmd> enabled; // besides always
        CommandState state = {true, false};
    };
    const Case cases[] = {
        {"nothing selected", {}, {Cmd::SHOW_SUBSCRIPTIONS}},
        {"Active Devices root", {"Active Devices"}, {Cmd::DISCOVER, Cmd::SHOW_SUBSCRIPTIONS}},
        {"Inactive Devices root", {"Inactive Devices"}, {Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML}},
        {"active device",
         under("Active Devices", "Light"),
         {Cmd::DISCOVER, Cmd::SUBSCRIBE, Cmd::UNSUBSCRIBE, Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML}},
        {"active action",
         under("Active Devices", "Light", {"Actions", "SetTarget"}, true),
         {Cmd::DISCOVER, Cmd::SUBSCRIBE, Cmd::UNSUBSCRIBE, Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML,
          Cmd::EXECUTE_ACTION, Cmd::SET_VALUE}},
        {"active argument value",
         under("Active Devices", "Light", {"Actions", "SetTarget", "newTargetValue", "1"}, true),
         {Cmd::DISCOVER, Cmd::SUBSCRIBE, Cmd::UNSUBSCRIBE, Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML,
          Cmd::EXECUTE_ACTION, Cmd::SET_VALUE}},
        {"active variable value",
         under("Active Devices", "Light", {"Variables", "Status", "0"}, true),
         {Cmd::DISCOVER, Cmd::SUBSCRIBE, Cmd::UNSUBSCRIBE, Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML,
          Cmd::QUERY_VARIABLE}},
        {"manufacturerURL value",
         under("Active Devices", "Light", {"Properties", "manufacturerURL", "http://maker.example/"}),
         {Cmd::DISCOVER, Cmd::SUBSCRIBE, Cmd::UNSUBSCRIBE, Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML, Cmd::VISIT}},
        {"loaded file", under("Inactive Devices", "File"),
         {Cmd::RETRIEVE_XML, Cmd::UNLOAD_XML_FILE, Cmd::RUN_VIRTUAL_DEVICE}},
        {"loaded file's action", under("Inactive Devices", "File", {"Actions", "SetTarget"}, true),
         {Cmd::RETRIEVE_XML, Cmd::UNLOAD_XML_FILE}},
        {"virtual device", under("Virtual Devices", "Virtual"),
         {Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML, Cmd::UNLOAD_XML_FILE, Cmd::STOP_VIRTUAL_DEVICE}},
        {"virtual variable", under("Virtual Devices", "Virtual", {"Variables", "Status"}, true),
         {Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML, Cmd::UNLOAD_XML_FILE, Cmd::QUERY_VARIABLE, Cmd::SET_VALUE}},
        {"virtual out argument", under("Virtual Devices", "Virtual", {"Actions", "SetTarget", "newTargetValue"}, true),
         {Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML, Cmd::UNLOAD_XML_FILE, Cmd::EXECUTE_ACTION, Cmd::SET_VALUE}},
        {"filtered device", {"Filtered Devices", "http://10.0.0.6/desc.xml"}, {Cmd::SHOW_SUBSCRIPTIONS, Cmd::RETRIEVE_XML}},
        {"monitor running, explorer stopped", {}, {Cmd::SHOW_SUBSCRIPTIONS, Cmd::STOP_MONITOR, Cmd::START_EXPLORER},
         monitoring},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t id = f.idOf(c.selection);
        ASSERT_EQ(id == 0, c.selection.empty()) << f.tree.dump();
        SelectionContext ctx = selectionContextOf(f.tree, id);
        std::set<Cmd> want = c.enabled;
        if (c.state.explorerRunning)
            want.insert(always.begin(), always.end());
        else
            want.insert(Cmd::LOAD_XML_FILE);
        for (int k = 0; k <= static_cast<int>(Cmd::STOP_EXPLORER); ++k) {
            auto command = static_cast<Cmd>(k);
            EXPECT_EQ(isCommandEnabled(command, ctx, c.state), want.count(command) == 1) << "command " << k;
        }
    }
}

TEST(CommandRules, RetrieveXmlAndVisitUrls)
{
    Fixture f;
    struct Case {
        const char *name;
        std::vector<std::string> selection;
        std::string xml;
        std::string visit = "";
    };
    const Case cases[] = {
        {"device: its description", under("Active Devices", "Light"), "http://10.0.0.2:4000/desc/light.xml"},
        {"service: absolute path on the host", under("Active Devices", "Light", {}, true),
         "http://10.0.0.2:4000/SwitchPower.xml"},
        {"argument value: its service's SCPD", under("Active Devices", "Light", {"Actions", "SetTarget", "newTargetValue"}, true),
         "http://10.0.0.2:4000/SwitchPower.xml"},
        {"relative SCPDURL beside the description", under("Active Devices", "Relative", {}, true),
         "http://10.0.0.3/d/scpd/Power.xml"},
        {"absolute SCPDURL as given", under("Active Devices", "Absolute", {}, true), "http://10.0.0.5:81/Power.xml"},
        {"loaded file: next to its published description", under("Inactive Devices", "File", {}, true),
         "http://10.0.0.9:30909/files/Power.xml"},
        {"file path with backslashes", under("Virtual Devices", "Virtual", {"Variables"}, true),
         "C:\\devices/Power.xml"},
        {"filtered device: its location", {"Filtered Devices", "http://10.0.0.6/desc.xml"}, "http://10.0.0.6/desc.xml"},
        {"a root: none", {"Inactive Devices"}, ""},
        {"manufacturerURL", under("Active Devices", "Light", {"Properties", "manufacturerURL"}),
         "http://10.0.0.2:4000/desc/light.xml", "http://maker.example/"},
        {"its value", under("Active Devices", "Light", {"Properties", "manufacturerURL", "http://maker.example/"}),
         "http://10.0.0.2:4000/desc/light.xml", "http://maker.example/"},
        {"empty presentationURL: none", under("Active Devices", "Light", {"Properties", "presentationURL"}),
         "http://10.0.0.2:4000/desc/light.xml", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t id = f.idOf(c.selection);
        ASSERT_NE(id, 0u);
        EXPECT_EQ(retrieveXmlUrl(f.tree, id), c.xml);
        EXPECT_EQ(visitUrl(f.tree, id), c.visit);
    }
    EXPECT_EQ(retrieveXmlUrl(f.tree, 0), "");
}

} // namespace
