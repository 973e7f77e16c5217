// The device operations against real devices inside the test's private
// network: a BinaryLight of the stack in a child process whose handler
// refuses some values with a UPnP error, and GUPnP's network light. Each
// script is a table of operations on tree items with the rows, message and
// tree values they must give; events arrive from the devices meanwhile.
// A last test runs operations on a worker thread while the handlers publish.
#include "deviceOperations.h"
#include "eventRows.h"
#include "setValueDialog.h"
#include "waitFor.h"

#include "childProcess.h"
#include "deviceProcess.h"
#include "explorerStack.h"
#include "gupnpPeer.h"
#include "sdkThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace lumivar;
using namespace std::chrono_literals;
using qntest::DeviceProcess;
using qntest::waitFor;

constexpr char kPower[] = "urn:schemas-upnp-org:service:SwitchPower:1";
constexpr char kDimming[] = "urn:schemas-upnp-org:service:Dimming:1";

// ---- The light in the child process ------------------------------------------------------

// Runs in the child only, on its server thread. SetTarget takes "0" and "1"
// and refuses other spellings with UPnP error 600; a change is evented with
// a variable the SCPD lacks. Queries of Target are refused.
std::string childTarget = "0";

QN_RET childLight(QN_ENTITY device, int32_t type, QN_COOKIE, void *arg)
{
    if (type == MT_DEV_GET_VAR) {
        auto *nv = static_cast<QNNameVal *>(arg);
        if (std::string(nv->name) == "Target")
            return QN_ERR;
        qnSetNVVal(nv->val, childTarget.c_str());
        return QN_OK;
    }
    if (type != MT_DEV_ACTION)
        return QN_OK;
    auto *a = static_cast<QNApiAction *>(arg);
    std::string name = a->action;
    if (name == "SetTarget") {
        std::string value = a->argNum == 1 ? a->argNV[0].val : "";
        if (value != "0" && value != "1") {
            a->errCode = 600;
            qnSetNVVal(a->errDesc, "Argument Value Invalid");
            return QN_ERR;
        }
        childTarget = value;
        a->argNum = 0;
        QNNameVal vars[2]{};
        qnSetNVNameVal(&vars[0], "Status", value.c_str());
        qnSetNVNameVal(&vars[1], "X_Flicker", "1");
        qnDevNotify(device, kPower, vars, 2);
        return QN_OK;
    }
    qnSetNVNameVal(&a->argNV[0], name == "GetTarget" ? "RetTargetValue" : "ResultStatus", childTarget.c_str());
    a->argNum = 1;
    return QN_OK;
}

// ---- The test's side ------------------------------------------------------------------------

using Stack = qntest::ExplorerStack;

// The person: dismisses message boxes (recording them) and types the
// script's values into the dialog's editable entries.
class FakePrompts : public UserPrompts {
public:
    void messageBox(const std::string &text) override
    {
        std::lock_guard guard(mutex_);
        messages_.push_back(text);
    }
    bool editValues(SetValueDialog &dialog) override
    {
        std::lock_guard guard(mutex_);
        for (size_t i = 0; i < dialog.entries.size() && i < enter_.size(); ++i)
            if (dialog.entries[i].editable)
                dialog.entries[i].value = enter_[i];
        shown_ = dialog;
        return true;
    }
    std::optional<std::string> chooseOpenFile(const std::string &) override { return std::nullopt; }

    void enter(std::vector<std::string> values)
    {
        std::lock_guard guard(mutex_);
        enter_ = std::move(values);
    }
    std::vector<std::string> takeMessages()
    {
        std::lock_guard guard(mutex_);
        return std::exchange(messages_, {});
    }
    SetValueDialog shown()
    {
        std::lock_guard guard(mutex_);
        return shown_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> messages_;
    std::vector<std::string> enter_;
    SetValueDialog shown_;
};

// The Device Explorer on the loopback and the operations on it, as the
// window has them; the explorer's control points listen on callbackPort.
struct Workbench {
    explicit Workbench(uint16_t callbackPort) { settings.callbackPort = callbackPort; }
    static bool start(DeviceExplorer &explorer)
    {
        explorer.setBindAddress("127.0.0.1");
        return explorer.startExplorer(true);
    }
    AppSettings settings;
    DeviceExplorer ex{settings};
    bool started = start(ex);
    FakePrompts prompts;
    DeviceOperations ops{ex, prompts};
};

// path followed by tail.
std::vector<std::string> below(std::vector<std::string> path, const std::vector<std::string> &tail)
{
    path.insert(path.end(), tail.begin(), tail.end());
    return path;
}

// The node at path below the device node of location ({} the device node);
// its id, and the text of its first child.
struct Found {
    uint64_t id = 0;
    std::string value;
    bool hasValue = false;
};

Found find(const DeviceExplorer &ex, const std::string &location, const std::vector<std::string> &path)
{
    Found f;
    ex.readTree([&](const DeviceTree &tree) {
        const TreeNode *node = tree.findDevice(location);
        for (const auto &step : path)
            node = node != nullptr ? node->child(step) : nullptr;
        if (node == nullptr)
            return;
        f.id = node->id;
        if (!node->children.empty()) {
            f.hasValue = true;
            f.value = node->children.front()->text;
        }
    });
    return f;
}

// Notifications the window would take: message boxes and stored events.
struct Window {
    std::vector<std::string> messages;
    int eventsStored = 0;
    void take(DeviceExplorer &ex)
    {
        for (auto &n : ex.takeNotifications()) {
            if (n.type == TreeNotification::MESSAGE_BOX)
                messages.push_back(n.text);
            else if (n.type == TreeNotification::EVENT_STORED)
                ++eventsStored;
        }
    }
};

enum class Op { DISCOVER, EXECUTE, QUERY, SUBSCRIBE, UNSUBSCRIBE, SHOW, SET_VALUE };

InfoRows run(DeviceOperations &ops, Op op, uint64_t id)
{
    switch (op) {
    case Op::DISCOVER:
        return ops.discover(id);
    case Op::EXECUTE:
        return ops.executeAction(id);
    case Op::QUERY:
        return ops.queryVariable(id);
    case Op::SUBSCRIBE:
        return ops.subscribe(id, true);
    case Op::UNSUBSCRIBE:
        return ops.subscribe(id, false);
    case Op::SHOW:
        return ops.showSubscription(id);
    case Op::SET_VALUE:
        ops.setValue(id);
        return {};
    }
    return {};
}

// "Operation 80|Result 160|Note 400": a layout as the window sets it up.
std::string layoutOf(const InfoRows &rows)
{
    std::string text;
    for (const auto &c : rows.columns)
        text += (text.empty() ? "" : "|") + c.title + " " + std::to_string(c.width);
    return text;
}

using Rows = std::vector<std::vector<std::string>>;

struct Step {
    const char *name;
    Op op;
    std::vector<std::string> select; // below the device node
    Rows rows;                       // none: stopped (by a message box, or SET_VALUE)
    std::string message = "";
    std::vector<std::string> enter = {}; // SET_VALUE: what the person types
    // A tree item whose first child must then hold value.
    std::vector<std::string> valueAt = {};
    std::string value = "";
};

// "*" in an expected cell matches any non-empty text (a SID).
void expectRows(const InfoRows &got, const Rows &want)
{
    if (want.empty()) {
        EXPECT_TRUE(got.empty()) << layoutOf(got);
        return;
    }
    EXPECT_EQ(layoutOf(got), want.front().size() == 3 ? "Operation 80|Result 160|Note 400" : "Name 160|Value 400");
    ASSERT_EQ(got.rows.size(), want.size());
    for (size_t r = 0; r < want.size(); ++r)
        for (size_t c = 0; c < want[r].size(); ++c) {
            if (want[r][c] == "*")
                EXPECT_FALSE(got.rows[r][c].empty()) << "row " << r;
            else
                EXPECT_EQ(got.rows[r][c], want[r][c]) << "row " << r << " column " << c;
        }
}

void runSteps(DeviceExplorer &ex, DeviceOperations &ops, FakePrompts &prompts, const std::string &location,
              const std::vector<Step> &steps)
{
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        Found target = find(ex, location, step.select);
        ASSERT_NE(target.id, 0u) << ex.dumpTree();
        prompts.enter(step.enter);
        expectRows(run(ops, step.op, target.id), step.rows);
        std::vector<std::string> messages = prompts.takeMessages();
        EXPECT_EQ(messages, step.message.empty() ? std::vector<std::string>{} : std::vector{step.message});
        if (!step.valueAt.empty()) {
            Found item = find(ex, location, step.valueAt);
            EXPECT_TRUE(item.hasValue);
            EXPECT_EQ(item.value, step.value);
        }
    }
}

// Waits until the device at location is explored with its services and a
// query through its control point is answered (a device that has just
// started may still be dropping and taking back what it announced).
bool explored(DeviceExplorer &ex, DeviceOperations &ops, const std::string &location,
              const std::vector<std::string> &variable)
{
    return waitFor(
        [&] {
            Found device = find(ex, location, {});
            if (device.id != 0 && find(ex, location, variable).id == 0)
                (void)ops.discover(device.id); // the device control point hears its answer
            Found item = find(ex, location, variable);
            InfoRows rows = item.id != 0 ? ops.queryVariable(item.id) : InfoRows{};
            return !rows.rows.empty() && rows.rows.front()[1] == "Successful";
        },
        20000ms);
}

std::optional<EventEntry> eventOf(DeviceExplorer &ex, const std::string &location, const std::string &name)
{
    for (const DeviceRecord &r : ex.devices())
        if (r.location == location)
            return ex.eventTable().find(static_cast<uint32_t>(r.entity), name);
    return std::nullopt;
}

// ---- The stack's light ------------------------------------------------------------------------

TEST(DeviceOperations, StackLightActionsFaultsQueriesAndEvents)
{
    DeviceProcess process({{"uuid:0be70000-0000-4000-8000-000000000001", 32201}}, true, childLight);
    Stack stack;
    ASSERT_TRUE(stack.ok);
    Workbench bench(32250);
    ASSERT_TRUE(bench.started);
    DeviceExplorer &ex = bench.ex;
    FakePrompts &prompts = bench.prompts;
    DeviceOperations &ops = bench.ops;
    const std::string url = process.url();
    const std::vector<std::string> service = {"Service List", kPower};
    auto at = [&](const std::vector<std::string> &tail) { return below(service, tail); };
    ASSERT_TRUE(explored(ex, ops, url, at({"Variables", "Status"}))) << ex.dumpTree();
    Window window;
    window.take(ex);
    // Nothing selected: the search goes through the main control point.
    InfoRows searched = ops.discover(0);
    ASSERT_EQ(searched.rows.size(), 1u);
    EXPECT_EQ(searched.rows[0][1], "Successful");
    // A variable that never sent a value is listed with empty cells.
    std::optional<EventEntry> status = eventOf(ex, url, "Status");
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->time, 0u);

    const std::vector<std::string> setTarget = at({"Actions", "SetTarget"});
    const std::vector<std::string> newTarget = at({"Actions", "SetTarget", "newTargetValue"});
    const std::vector<Step> steps = {
        {"execute without an action", Op::EXECUTE, {}, {}, "Please select an action first!"},
        {"discover through the device", Op::DISCOVER, {},
         {{"Discover", "Successful", "Discovery sent successfully for all kinds of devices."}}},
        {"in argument without a value", Op::EXECUTE, setTarget, {}, "Please set value of argument \"newTargetValue\"!"},
        {"a value is entered", Op::SET_VALUE, newTarget, {}, "", {"maybe"}, newTarget, "maybe"},
        {"not a boolean: refused before any request", Op::EXECUTE, setTarget, {},
         "Value of argument \"newTargetValue\" is not a valid boolean."},
        {"a boolean the device refuses", Op::SET_VALUE, setTarget, {}, "", {"true"}, newTarget, "true"},
        {"the fault's UPnP error", Op::EXECUTE, setTarget,
         {{"Action", "Failed", "UPnP Action SetTarget failed: 500 Internal Server Error."},
          {"UPnP Error", "600", ""},
          {"Description", "Argument Value Invalid", ""}}},
        {"one it takes", Op::SET_VALUE, newTarget, {}, "", {"1"}, newTarget, "1"},
        {"in argument sent", Op::EXECUTE, newTarget, {{"Action", "Successful"}, {"Out Arguments", "0"}}},
        {"out value written back", Op::EXECUTE, at({"Actions", "GetTarget"}),
         {{"Action", "Successful"}, {"Out Arguments", "1"}, {"RetTargetValue", "1"}}, "", {},
         at({"Actions", "GetTarget", "RetTargetValue"}), "1"},
        {"query replaces the value item", Op::QUERY, at({"Variables", "Status"}),
         {{"Query", "Successful"}, {"Status", "1"}}, "", {}, at({"Variables", "Status"}), "1"},
        {"query refused by the device", Op::QUERY, at({"Variables", "Target"}),
         {{"Query", "Failed", "UPnP Query failed: 500 Internal Server Error."},
          {"UPnP Error", "501", ""},
          {"Description", "XML error", ""}}},
        {"query without a variable", Op::QUERY, setTarget, {}, "Please select a variable first!"},
        {"nothing subscribed", Op::SHOW, service, {{"Subscription", "failed"}}},
        {"unsubscribe without SID", Op::UNSUBSCRIBE, service, {{"Unsubscription", "failed"}}},
        {"subscribe on the device", Op::SUBSCRIBE, {}, {}, "Could not subscribe all services, please select a service first!"},
        {"subscribe", Op::SUBSCRIBE, at({"Actions"}), {{"Subscription", "Success"}, {"Service", kPower}, {"SID", "*"}}},
    };
    runSteps(ex, ops, prompts, url, steps);
    Found sid = find(ex, url, at({"Subcription"}));
    ASSERT_TRUE(sid.hasValue);

    // The initial event, then the one the change sends, with a name the
    // SCPD lacks: a message for the window, never a wait on the server thread.
    ASSERT_TRUE(waitFor([&] { return eventOf(ex, url, "Status").value_or(EventEntry{}).time != 0; }));
    runSteps(ex, ops, prompts, url,
             {{"change", Op::SET_VALUE, newTarget, {}, "", {"0"}},
              {"evented change", Op::EXECUTE, setTarget, {{"Action", "Successful"}, {"Out Arguments", "0"}}}});
    EXPECT_TRUE(waitFor([&] { return find(ex, url, at({"Variables", "Status"})).value == "0"; })) << ex.dumpTree();
    EXPECT_TRUE(waitFor([&] { return eventOf(ex, url, "Status").value_or(EventEntry{}).value == "0"; }));
    // One per evented change; the initial event holds the SCPD's variables only.
    EXPECT_TRUE(waitFor([&] {
        window.take(ex);
        return !window.messages.empty();
    }));
    EXPECT_EQ(window.messages, std::vector<std::string>{"Unknown variable(2/2) for action : X_Flicker!"});
    EXPECT_GE(window.eventsStored, 2);
    EXPECT_FALSE(eventOf(ex, url, "X_Flicker").has_value());
    bool listed = false;
    for (const DeviceRecord &r : ex.devices())
        for (const EventRow &row : eventRowsOf(r.entity, ex.eventTable()))
            listed = listed || (row.variable == "Status" && row.value == "0" && !row.time.empty());
    EXPECT_TRUE(listed);

    // The SID survives the device's re-announcements (tree refreshes).
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(find(ex, url, at({"Subcription"})).value, sid.value);
    runSteps(ex, ops, prompts, url,
             {{"shown without traffic", Op::SHOW, service,
               {{"Subscription", "Success"}, {"Service", kPower}, {"SID", sid.value}}},
              {"unsubscribe", Op::UNSUBSCRIBE, at({"Subcription"}),
               {{"Unsubscription", "Success"}, {"Service", kPower}, {"SID", sid.value}}},
              {"gone", Op::SHOW, service, {{"Subscription", "failed"}}}});
    EXPECT_FALSE(find(ex, url, at({"Subcription"})).hasValue);
}

// ---- GUPnP's network light -------------------------------------------------------------------

TEST(DeviceOperations, GupnpLightTypedValuesAndEvents)
{
    if (!qntest::haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    Stack stack;
    ASSERT_TRUE(stack.ok);
    qntest::ChildProcess light({qntest::kPython, std::string(QN_TEST_DATA_DIR) + "/../interop/gupnp_light.py",
                                std::string(QN_TEST_DATA_DIR) + "/fixtures/devices/network-light"});
    std::string ready = light.waitForLine("READY ", 15000);
    ASSERT_FALSE(ready.empty());
    const std::string url = ready.substr(6);
    Workbench bench(32260);
    ASSERT_TRUE(bench.started);
    DeviceExplorer &ex = bench.ex;
    FakePrompts &prompts = bench.prompts;
    DeviceOperations &ops = bench.ops;
    const std::vector<std::string> service = {"Service List", kDimming};
    auto at = [&](const std::vector<std::string> &tail) { return below(service, tail); };
    ASSERT_TRUE(explored(ex, ops, url, at({"Variables", "LoadLevelStatus"}))) << ex.dumpTree();

    const std::vector<std::string> setLevel = at({"Actions", "SetLoadLevelTarget"});
    const std::vector<std::string> level = at({"Actions", "SetLoadLevelTarget", "newLoadlevelTarget"});
    runSteps(ex, ops, prompts, url,
             {{"above the range", Op::SET_VALUE, level, {}, "", {"150"}, level, "150"},
              {"refused", Op::EXECUTE, setLevel, {}, "Value of argument \"newLoadlevelTarget\" is out of range (0..100)."},
              {"not a number", Op::SET_VALUE, level, {}, "", {"4O"}},
              {"refused too", Op::EXECUTE, setLevel, {}, "Value of argument \"newLoadlevelTarget\" is not a valid ui1."}});
    // The dialog showed what the related state variable allows.
    SetValueDialog shown = prompts.shown();
    EXPECT_EQ(shown.title, "Set Value For Action Argument");
    EXPECT_EQ(shown.actionName, "SetLoadLevelTarget");
    ASSERT_EQ(shown.entries.size(), 1u);
    EXPECT_EQ(shown.entries[0].dataType, "ui1");
    EXPECT_EQ(allowedValuesShown(shown.entries[0]), std::vector<std::string>{"0..100"});
    EXPECT_EQ(shown.entries[0].defaultValue, "0");
    EXPECT_TRUE(shown.entries[0].editable);
    // Neither refusal reached the device.
    for (std::string line = light.readLine(500); !line.empty(); line = light.readLine(500))
        EXPECT_EQ(line.find("ACTION SetLoadLevelTarget"), std::string::npos) << line;

    runSteps(ex, ops, prompts, url,
             {{"subscribe", Op::SUBSCRIBE, service, {{"Subscription", "Success"}, {"Service", kDimming}, {"SID", "*"}}},
              {"in range", Op::SET_VALUE, level, {}, "", {"40"}},
              {"sent", Op::EXECUTE, level, {{"Action", "Successful"}, {"Out Arguments", "0"}}}});
    EXPECT_FALSE(light.waitForLine("ACTION SetLoadLevelTarget newLoadlevelTarget=40", 5000).empty());
    EXPECT_TRUE(waitFor([&] { return find(ex, url, at({"Variables", "LoadLevelStatus"})).value == "40"; }))
        << ex.dumpTree();
    EXPECT_TRUE(waitFor([&] { return eventOf(ex, url, "LoadLevelStatus").value_or(EventEntry{}).value == "40"; }));
    Window window;
    window.take(ex);
    EXPECT_EQ(window.messages, std::vector<std::string>{});
    runSteps(ex, ops, prompts, url,
             {{"out value", Op::EXECUTE, at({"Actions", "GetLoadLevelStatus"}),
               {{"Action", "Successful"}, {"Out Arguments", "1"}, {"retLoadlevelStatus", "40"}}, "", {},
               at({"Actions", "GetLoadLevelStatus", "retLoadlevelStatus"}), "40"},
              {"query", Op::QUERY, at({"Variables", "LoadLevelTarget"}), {{"Query", "Successful"}, {"LoadLevelTarget", "40"}}},
              {"unsubscribe", Op::UNSUBSCRIBE, service, {{"Unsubscription", "Success"}, {"Service", kDimming}, {"SID", "*"}}}});
}

// ---- Threads -------------------------------------------------------------------------------

// A worker runs the operations while the server thread delivers events and
// re-announcements and the filters drop and take back the light (its
// control point removed and added under the operations' feet), and the
// window thread drains notifications and reads the tree and the Event rows.
TEST(DeviceOperations, WorkerOperationsWhileHandlersPublish)
{
    DeviceProcess process({{"uuid:0be70000-0000-4000-8000-000000000002", 32211}}, true, childLight);
    Stack stack;
    ASSERT_TRUE(stack.ok);
    Workbench bench(32270);
    ASSERT_TRUE(bench.started);
    DeviceExplorer &ex = bench.ex;
    FakePrompts &prompts = bench.prompts;
    DeviceOperations &ops = bench.ops;
    const std::string url = process.url();
    const std::vector<std::string> service = {"Service List", kPower};
    ASSERT_TRUE(explored(ex, ops, url, {"Service List", kPower, "Variables", "Status"})) << ex.dumpTree();

    std::atomic<bool> stop{false};
    std::atomic<int> operations{0}, answered{0}, windowRounds{0};
    std::thread worker([&] {
        for (int i = 0; !stop.load(); ++i) {
            auto id = [&](std::vector<std::string> tail) {
                std::vector<std::string> path = service;
                path.insert(path.end(), tail.begin(), tail.end());
                return find(ex, url, path).id;
            };
            prompts.enter({i % 2 == 0 ? "1" : "0"});
            ops.setValue(id({"Actions", "SetTarget", "newTargetValue"}));
            InfoRows rows[] = {ops.executeAction(id({"Actions", "SetTarget"})),
                               ops.queryVariable(id({"Variables", "Status"})), ops.subscribe(id({}), i % 3 != 2),
                               ops.showSubscription(id({}))};
            for (const InfoRows &r : rows) {
                ++operations;
                answered += !r.rows.empty() && (r.rows[0][1] == "Successful" || r.rows[0][1] == "Success");
            }
            (void)prompts.takeMessages();
        }
    });
    std::thread window([&] {
        while (!stop.load()) {
            (void)ex.takeNotifications();
            for (const DeviceRecord &r : ex.devices())
                (void)eventRowsOf(r.entity, ex.eventTable());
            (void)ex.dumpTree();
            ++windowRounds;
            std::this_thread::sleep_for(5ms);
        }
    });
    FilterRecord drop;
    drop.name = "Away";
    drop.type = FT_UDN;
    drop.applyToDevice = true;
    drop.pattern = "uuid:0be70000-0000-4000-8000-000000000002";
    for (int i = 0; i < 6; ++i) {
        ex.changeFilters(i % 2 == 0 ? std::vector<FilterRecord>{drop} : std::vector<FilterRecord>{}, true);
        std::this_thread::sleep_for(1500ms);
    }
    stop = true;
    worker.join();
    window.join();
    EXPECT_GT(operations.load(), 20);
    EXPECT_GT(answered.load(), 0);
    EXPECT_GT(windowRounds.load(), 50);
}

} // namespace
