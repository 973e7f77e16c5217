// Model queries on devices loaded from real description folders: MiniDLNA,
// the GUPnP network light, the BinaryLight example, and a hub with embedded
// devices (tests/data/devices/embedded). Adding a device opens sockets,
// hence a network test.
#include "entity.h"
#include "log.h"
#include "netns.h"
#include "qnSdkApi.h"
#include "query.h"
#include "rawnet.h"
#include "scpd.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

QN_RET quietHandler(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_OK; }
void quietConsole(const char *) {}

constexpr char kHub[] = "urn:qn-test:device:Hub:1";
constexpr char kLamp[] = "urn:schemas-upnp-org:device:BinaryLight:1";
constexpr char kSensor[] = "urn:qn-test:device:Sensor:1";
constexpr char kStatus[] = "urn:qn-test:service:Status:1";
constexpr char kSwitch[] = "urn:schemas-upnp-org:service:SwitchPower:1";
constexpr char kLight[] = "urn:qn-test:service:Light:1";
constexpr char kContentDir[] = "urn:schemas-upnp-org:service:ContentDirectory:1";

std::string dataDir(const std::string &relative) { return qntest::dataPath(relative); }
std::string exampleDir() { return std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight"; }

QNApiDevSettings deviceSettings(const std::string &dir, const char *descFile, const char *webPath = "/")
{
    QNApiDevSettings s{};
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.httpPort = 30909;
    s.soapPort = 30909;
    copyBounded(s.localPath, sizeof s.localPath, dir);
    copyBounded(s.webPath, sizeof s.webPath, webPath);
    copyBounded(s.descFile, sizeof s.descFile, descFile);
    s.msgHandler = quietHandler;
    s.adPeriod = 20;
    return s;
}

std::vector<std::string> texts(const char *const *list, int32_t count)
{
    std::vector<std::string> out;
    for (int32_t i = 0; i < count; ++i)
        out.emplace_back(list[i] != nullptr ? list[i] : "(null)");
    return out;
}

using Strings = std::vector<std::string>;

class Queries : public testing::Test {
protected:
    void SetUp() override
    {
        setConsoleSink(quietConsole);
        QNApiSdkConfig config{1, 0, 65536, nullptr, 0, 0};
        ASSERT_EQ(qnSdkInit(&config), QN_OK);
        hub_ = add(deviceSettings(dataDir("devices/embedded"), "Hub.xml"));
        dlna_ = add(deviceSettings(dataDir("fixtures/devices/minidlna"), "rootDesc.xml", "\\media\\"));
        light_ = add(deviceSettings(dataDir("fixtures/devices/network-light"), "network-light-desc.xml"));
        binary_ = add(deviceSettings(exampleDir(), "BinaryLight.xml"));
    }
    void TearDown() override
    {
        qnSdkClean();
        setConsoleSink(nullptr);
    }

    static QN_DEVICE add(const QNApiDevSettings &s)
    {
        QN_DEVICE dev = qnAddDevice(&s);
        EXPECT_NE(dev, QN_INVALID_DEVICE) << s.localPath << "/" << s.descFile;
        return dev;
    }

    Strings devList(QN_ENTITY e, const char *type, int32_t capacity = QN_ARG_MAX_NUM, QN_RET *rc = nullptr)
    {
        const char *list[QN_ARG_MAX_NUM] = {};
        QN_RET r = qnGetDevList(e, type, list, &capacity);
        if (rc != nullptr)
            *rc = r;
        return r == QN_OK ? texts(list, capacity) : Strings{};
    }
    Strings servList(QN_ENTITY e, const char *type, int32_t capacity = QN_ARG_MAX_NUM)
    {
        const char *list[QN_ARG_MAX_NUM] = {};
        return qnGetServList(e, type, list, &capacity) == QN_OK ? texts(list, capacity) : Strings{};
    }

public: // the cases name the devices by member pointer
    QN_DEVICE hub_ = QN_INVALID_DEVICE, dlna_ = QN_INVALID_DEVICE, light_ = QN_INVALID_DEVICE,
              binary_ = QN_INVALID_DEVICE;
};

// ---- Lists ------------------------------------------------------------------------

TEST_F(Queries, DeviceAndServiceListsOfRealDevices)
{
    struct Case {
        const char *name;
        QN_DEVICE Queries::*device;
        const char *deviceType;
        Strings devices; // qnGetDevList with deviceType
        Strings services;
    } cases[] = {
        {"root of the hub", &Queries::hub_, "", {kHub}, {kStatus}},
        {"hub by its type", &Queries::hub_, kHub, {kLamp, kLamp}, {kStatus}},
        {"first of two lamps", &Queries::hub_, kLamp, {kSensor}, {kSwitch}},
        {"device two levels down", &Queries::hub_, kSensor, {}, {kLight}},
        {"minidlna",
         &Queries::dlna_,
         "urn:schemas-upnp-org:device:MediaServer:1",
         {},
         {kContentDir, "urn:schemas-upnp-org:service:ConnectionManager:1",
          "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1"}},
        {"network light",
         &Queries::light_,
         "urn:schemas-upnp-org:device:DimmableLight:1",
         {},
         {kSwitch, "urn:schemas-upnp-org:service:Dimming:1"}},
        {"binary light", &Queries::binary_, kLamp, {}, {kSwitch}},
    };
    for (const Case &c : cases) {
        QN_DEVICE dev = this->*c.device;
        QN_RET rc = QN_ERR;
        EXPECT_EQ(devList(dev, c.deviceType, QN_ARG_MAX_NUM, &rc), c.devices) << c.name;
        EXPECT_EQ(rc, QN_OK) << c.name;
        EXPECT_EQ(servList(dev, c.deviceType), c.services) << c.name;
    }
    // The empty type is the root device for the service list too.
    EXPECT_EQ(servList(dlna_, "").size(), 3u);
}

TEST_F(Queries, CountIsTheSmallerOfCapacityAndAvailable)
{
    const char *list[QN_ARG_MAX_NUM] = {};
    struct Case {
        const char *name;
        int32_t capacity;
        QN_RET rc;
        int32_t count;
    } cases[] = {
        {"two of three", 2, QN_OK, 2},
        {"exactly three", 3, QN_OK, 3},
        {"more room than services", QN_ARG_MAX_NUM, QN_OK, 3},
        {"one", 1, QN_OK, 1},
        {"zero", 0, QN_ERR_ARG, 0},
        {"negative", -5, QN_ERR_ARG, -5},
    };
    for (const Case &c : cases) {
        int32_t count = c.capacity;
        EXPECT_EQ(qnGetServList(dlna_, "", list, &count), c.rc) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
    }
    int32_t count = 2;
    ASSERT_EQ(qnGetServList(dlna_, "", list, &count), QN_OK);
    EXPECT_STREQ(list[0], kContentDir);
    EXPECT_STREQ(list[1], "urn:schemas-upnp-org:service:ConnectionManager:1");

    // The root's device list has exactly one entry, whatever the capacity.
    count = QN_ARG_MAX_NUM;
    ASSERT_EQ(qnGetDevList(hub_, "", list, &count), QN_OK);
    EXPECT_EQ(count, 1);
}

TEST_F(Queries, ActionAndVariableLists)
{
    const char *list[160] = {};
    uint8_t events[160];
    struct Case {
        const char *name;
        QN_DEVICE Queries::*device;
        const char *serviceType;
        Strings firstActions;
        int32_t actions;
        int32_t vars;
        Strings eventedVars;
    } cases[] = {
        {"content directory", &Queries::dlna_, kContentDir,
         {"GetSearchCapabilities", "GetSortCapabilities", "GetSystemUpdateID", "Browse"}, 6, 14,
         {"TransferIDs", "SystemUpdateID"}},
        {"dimming", &Queries::light_, "urn:schemas-upnp-org:service:Dimming:1",
         {"SetLoadLevelTarget", "GetLoadLevelTarget", "GetLoadLevelStatus"}, 3, 2, {"LoadLevelStatus"}},
        {"first switch of the hub", &Queries::hub_, kSwitch, {"SetTarget", "GetStatus"}, 2, 2, {"Status"}},
        {"light in a nested device, sendEvents left out", &Queries::hub_, kLight, {"GetLevel", "GetStatus"}, 2, 1,
         {"Level"}},
    };
    for (const Case &c : cases) {
        QN_DEVICE dev = this->*c.device;
        int32_t count = 160;
        ASSERT_EQ(qnGetActionList(dev, c.serviceType, list, &count), QN_OK) << c.name;
        EXPECT_EQ(count, c.actions) << c.name;
        Strings got = texts(list, std::min<int32_t>(count, static_cast<int32_t>(c.firstActions.size())));
        EXPECT_EQ(got, c.firstActions) << c.name;

        count = 160;
        std::memset(events, 7, sizeof events);
        ASSERT_EQ(qnGetVarList(dev, c.serviceType, list, events, &count), QN_OK) << c.name;
        EXPECT_EQ(count, c.vars) << c.name;
        Strings evented;
        for (int32_t i = 0; i < count; ++i) {
            ASSERT_LE(events[i], 1) << c.name << " " << i;
            if (events[i] == 1)
                evented.emplace_back(list[i]);
        }
        EXPECT_EQ(evented, c.eventedVars) << c.name;
        EXPECT_EQ(events[count], 7) << c.name << ": written past the count";
        // The flags are optional.
        count = 1;
        EXPECT_EQ(qnGetVarList(dev, c.serviceType, list, nullptr, &count), QN_OK) << c.name;
        EXPECT_EQ(count, 1) << c.name;
    }
}

TEST_F(Queries, FieldsOfDevicesAndServices)
{
    const char *names[kMaxFields] = {};
    const char *values[kMaxFields] = {};
    int32_t count = kMaxFields;
    ASSERT_EQ(qnGetDevInfo(dlna_, "", names, values, &count), QN_OK);
    // Twelve device leaves, the dlna: prefixed one among them.
    ASSERT_EQ(count, 12);
    EXPECT_STREQ(names[0], "deviceType");
    EXPECT_STREQ(names[10], "dlna:X_DLNADOC");
    EXPECT_STREQ(values[10], "DMS-1.50");

    count = 2;
    ASSERT_EQ(qnGetDevInfo(hub_, kLamp, names, values, &count), QN_OK);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(values[1], "Lamp A"); // the first device of the type

    count = kMaxFields;
    ASSERT_EQ(qnGetServInfo(hub_, kLight, names, values, &count), QN_OK);
    ASSERT_EQ(count, 5);
    EXPECT_STREQ(names[3], "controlURL");
    EXPECT_STREQ(values[3], "/ctl/Light");
    count = kMaxFields;
    ASSERT_EQ(qnGetServInfo(hub_, kSwitch, names, values, &count), QN_OK);
    EXPECT_STREQ(values[3], "/ctl/SwitchA");
}

TEST_F(Queries, NotFoundAndInvalidArguments)
{
    const char *list[QN_ARG_MAX_NUM];
    const char *values[QN_ARG_MAX_NUM];
    uint8_t events[QN_ARG_MAX_NUM];
    QN_DEVICE universal = QN_INVALID_DEVICE;
    {
        QNApiDevSettings u{};
        copyBounded(u.ipAddr, sizeof u.ipAddr, "127.0.0.1");
        copyBounded(u.serverName, sizeof u.serverName, kUniversalServerName);
        universal = qnAddDevice(&u);
        ASSERT_NE(universal, QN_INVALID_DEVICE);
    }
    int32_t n = 0;
    auto count = [&n](int32_t value = QN_ARG_MAX_NUM) {
        n = value;
        return &n;
    };
    struct Case {
        const char *name;
        QN_RET got;
        QN_RET want;
    } cases[] = {
        {"unknown device type", qnGetDevList(hub_, "urn:x:device:None:1", list, count()), QN_ERR},
        {"unknown device for services", qnGetServList(hub_, "urn:x:device:None:1", list, count()), QN_ERR},
        {"device type in another case", qnGetServList(hub_, "urn:qn-test:device:hub:1", list, count()), QN_ERR},
        {"unknown service", qnGetActionList(hub_, "urn:x:service:None:1", list, count()), QN_ERR},
        {"empty service type for actions", qnGetActionList(hub_, "", list, count()), QN_ERR},
        {"empty service type for fields", qnGetServInfo(hub_, "", list, values, count()), QN_ERR},
        {"unknown service for variables", qnGetVarList(hub_, "x", list, events, count()), QN_ERR},
        {"entity -1", qnGetDevList(-1, "", list, count()), QN_ERR_ARG},
        {"entity 16", qnGetServList(QN_MAX_ENTITY, "", list, count()), QN_ERR_ARG},
        {"free slot", qnGetActionList(QN_MAX_ENTITY - 1, kSwitch, list, count()), QN_ERR_ARG},
        {"no model", qnGetDevInfo(universal, "", list, values, count()), QN_ERR_ARG},
        {"absent list", qnGetDevList(hub_, "", nullptr, count()), QN_ERR_ARG},
        {"absent count", qnGetServList(hub_, "", list, nullptr), QN_ERR_ARG},
        {"absent type", qnGetServList(hub_, nullptr, list, count()), QN_ERR_ARG},
        {"absent values", qnGetDevInfo(hub_, "", list, nullptr, count()), QN_ERR_ARG},
        {"count 0", qnGetVarList(hub_, kStatus, list, events, count(0)), QN_ERR_ARG},
        {"absent action", qnGetActionArgs(hub_, nullptr), QN_ERR_ARG},
        {"address without model", qnGetDevAddr(universal, nullptr, nullptr), QN_ERR_NODESC},
        {"address of a free slot", qnGetDevAddr(QN_MAX_ENTITY - 1, nullptr, nullptr), QN_ERR_ARG},
        {"walk without callback", qnWalkDesc(hub_, "", nullptr, nullptr), QN_ERR_ARG},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.want) << c.name;
    EXPECT_EQ(qnFindDescValue(universal, "", "", "deviceType", "", 1, 1, 1), nullptr);
    EXPECT_EQ(qnFindDescValue(hub_, "", "", nullptr, "", 1, 1, 1), nullptr);
}

// A control point that did not download a service's SCPD: the service is
// there, its actions and variables are not.
TEST_F(Queries, ServiceWithoutParsedScpd)
{
    {
        std::lock_guard guard(stackLock());
        QNServDesc *serv = findServiceByType(&entityDesc(dlna_)->device, kContentDir);
        ASSERT_NE(serv, nullptr);
        freeScpd(serv->scpd);
        deleteScpd(serv->scpd);
        serv->scpd = nullptr;
    }
    const char *list[QN_ARG_MAX_NUM];
    const char *values[QN_ARG_MAX_NUM];
    int32_t count = QN_ARG_MAX_NUM;
    EXPECT_EQ(qnGetActionList(dlna_, kContentDir, list, &count), QN_ERR);
    EXPECT_EQ(count, 0);
    count = QN_ARG_MAX_NUM;
    EXPECT_EQ(qnGetVarList(dlna_, kContentDir, list, nullptr, &count), QN_ERR);
    count = QN_ARG_MAX_NUM;
    EXPECT_EQ(qnGetServInfo(dlna_, kContentDir, list, values, &count), QN_OK);
    QNApiAction action{};
    copyBounded(action.action, sizeof action.action, "Browse");
    EXPECT_EQ(qnGetActionArgs(dlna_, &action), QN_ERR);
    std::lock_guard guard(stackLock());
    QNDevDesc *root = &entityDesc(dlna_)->device;
    EXPECT_EQ(checkServiceType(root, kContentDir), -1);
    EXPECT_EQ(checkServiceType(root, "urn:schemas-upnp-org:service:ConnectionManager:1"), 0);
    // The search for the control URL ends at the service without SCPD.
    EXPECT_EQ(getScpdByControlUrl(root, "/ctl/ContentDir"), nullptr);
    EXPECT_NE(findInDevice(root, "/ctl/ContentDir", "controlURL", FM_SERVICE), nullptr);
}

// ---- Action arguments -------------------------------------------------------------

TEST_F(Queries, ActionArgumentsAndDirections)
{
    struct Case {
        const char *name;
        QN_DEVICE Queries::*device;
        const char *action;
        std::vector<std::pair<std::string, int32_t>> args;
    } cases[] = {
        {"browse", &Queries::dlna_, "Browse",
         {{"ObjectID", AD_IN}, {"BrowseFlag", AD_IN}, {"Filter", AD_IN}, {"StartingIndex", AD_IN},
          {"RequestedCount", AD_IN}, {"SortCriteria", AD_IN}, {"Result", AD_OUT}, {"NumberReturned", AD_OUT},
          {"TotalMatches", AD_OUT}, {"UpdateID", AD_OUT}}},
        {"in dimming", &Queries::light_, "SetLoadLevelTarget", {{"newLoadlevelTarget", AD_IN}}},
        // Depth first: the root's Status service comes before the lamps'
        // switches; "IN" and a missing direction give 3, "inout" 2.
        {"duplicate name, first in depth-first order", &Queries::hub_, "GetStatus",
         {{"Detail", AD_UNKNOWN}, {"Summary", AD_UNKNOWN}, {"Both", AD_INOUT}}},
        {"only in a nested device", &Queries::hub_, "GetLevel", {{"Level", AD_OUT}}},
        {"one out argument", &Queries::dlna_, "GetSearchCapabilities", {{"SearchCaps", AD_OUT}}},
    };
    for (const Case &c : cases) {
        QNApiAction action{};
        copyBounded(action.action, sizeof action.action, c.action);
        copyBounded(action.argNV[0].val, sizeof action.argNV[0].val, "kept");
        ASSERT_EQ(qnGetActionArgs(this->*c.device, &action), QN_OK) << c.name;
        std::vector<std::pair<std::string, int32_t>> got;
        for (int i = 0; i < action.argNum; ++i)
            got.emplace_back(action.argNV[i].name, action.argDirection[i]);
        EXPECT_EQ(got, c.args) << c.name;
        EXPECT_STREQ(action.argNV[0].val, "kept") << c.name << ": values are not touched";
    }
    QNApiAction action{};
    EXPECT_EQ(qnGetActionArgs(hub_, &action), QN_ERR_ARG);
    copyBounded(action.action, sizeof action.action, "getstatus");
    EXPECT_EQ(qnGetActionArgs(hub_, &action), QN_ERR);
    // An application's name that fills the whole field without terminator.
    std::memset(action.action, 'A', sizeof action.action);
    EXPECT_EQ(qnGetActionArgs(hub_, &action), QN_ERR);
}

// ---- Single values ----------------------------------------------------------------

TEST_F(Queries, DescriptionUrlAndUdn)
{
    char buf[QN_VAL_MAX_LEN + 8];
    ASSERT_EQ(qnGetDescUrl(dlna_, kContentDir, buf, sizeof buf), QN_OK);
    EXPECT_STREQ(buf, "/media/ContentDir.xml"); // moved under the web path when added
    ASSERT_EQ(qnGetDescUrl(dlna_, "", buf, sizeof buf), QN_OK);
    EXPECT_EQ(std::string(buf), dataDir("fixtures/devices/minidlna") + "/rootDesc.xml");
    EXPECT_EQ(qnGetDescUrl(dlna_, "urn:x:service:None:1", buf, sizeof buf), QN_ERR);
    EXPECT_EQ(qnGetDescUrl(dlna_, kContentDir, buf, 0), QN_ERR_ARG);
    EXPECT_EQ(qnGetDescUrl(dlna_, kContentDir, nullptr, 8), QN_ERR_ARG);

    struct Cut {
        int32_t len;
        const char *want;
    } cuts[] = {{1, ""}, {2, "/"}, {8, "/media/"}, {22, "/media/ContentDir.xml"}};
    for (const Cut &c : cuts) {
        std::memset(buf, '#', sizeof buf);
        ASSERT_EQ(qnGetDescUrl(dlna_, kContentDir, buf, c.len), QN_OK) << c.len;
        EXPECT_STREQ(buf, c.want) << c.len;
        EXPECT_EQ(buf[c.len], '#') << c.len << ": written past len";
    }
    // A local path that fills the buffer leaves no room for the slash.
    std::string dir = dataDir("devices/embedded");
    std::memset(buf, '#', sizeof buf);
    ASSERT_EQ(qnGetDescUrl(hub_, "", buf, static_cast<int32_t>(dir.size() + 1)), QN_OK);
    EXPECT_EQ(std::string(buf), dir);

    ASSERT_EQ(qnGetUdn(light_, buf, sizeof buf), QN_OK);
    EXPECT_STREQ(buf, "uuid:23b0189c-549f-11dc-a7c7-001641597c49");
    ASSERT_EQ(qnGetUdn(light_, buf, 6), QN_OK);
    EXPECT_STREQ(buf, "uuid:");
    EXPECT_EQ(qnGetUdn(light_, buf, 0), QN_ERR_ARG);
}

TEST_F(Queries, DescriptionUrlOfAControlPoint)
{
    QNApiCtrlPointSettings s{};
    s.cpType = CPT_DESC;
    copyBounded(s.descFile, sizeof s.descFile, "BinaryLight.xml");
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.eventPort = 30808;
    copyBounded(s.localPath, sizeof s.localPath, exampleDir());
    s.msgHandler = quietHandler;
    QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    ASSERT_NE(cp, QN_INVALID_CONTROL_POINT);
    char buf[QN_VAL_MAX_LEN];
    ASSERT_EQ(qnGetDescUrl(cp, "", buf, sizeof buf), QN_OK);
    EXPECT_STREQ(buf, "BinaryLight.xml");
    ASSERT_EQ(qnGetDescUrl(cp, kSwitch, buf, sizeof buf), QN_OK);
    EXPECT_STREQ(buf, "/SwitchPower.xml");
}

TEST_F(Queries, DeviceAddressInHostOrder)
{
    {
        std::lock_guard guard(stackLock());
        entityDesc(light_)->hostAddr = htonl(0x0A4D0001);
        entityDesc(light_)->hostPort = htons(49152);
    }
    uint32_t addr = 0;
    uint16_t port = 0;
    ASSERT_EQ(qnGetDevAddr(light_, &addr, &port), QN_OK);
    EXPECT_EQ(addr, 0x0A4D0001u);
    EXPECT_EQ(port, 49152);
    EXPECT_EQ(qnGetDevAddr(light_, nullptr, &port), QN_OK);
    EXPECT_EQ(qnGetDevAddr(light_, &addr, nullptr), QN_OK);
}

TEST(NameValueSetters, CutToTheirFields)
{
    QNNameVal nv{};
    const std::string longName(300, 'n'), longVal(900, 'v');
    ASSERT_EQ(qnSetNVNameVal(&nv, longName.c_str(), longVal.c_str()), QN_OK);
    EXPECT_EQ(std::strlen(nv.name), QN_NAME_MAX_LEN - 1u);
    EXPECT_EQ(std::strlen(nv.val), QN_VAL_MAX_LEN - 1u);
    ASSERT_EQ(qnSetNVVal(nv.val, "short"), QN_OK);
    EXPECT_STREQ(nv.val, "short");
    EXPECT_EQ(qnSetNVVal(nullptr, "x"), QN_ERR_ARG);
    EXPECT_EQ(qnSetNVVal(nv.val, nullptr), QN_ERR_ARG);
    EXPECT_EQ(qnSetNVNameVal(nullptr, "a", "b"), QN_ERR_ARG);
}

// ---- Walk and search --------------------------------------------------------------

struct Visit {
    std::string type;
    int32_t isDevice;
    bool operator==(const Visit &o) const { return type == o.type && isDevice == o.isDevice; }
};
std::ostream &operator<<(std::ostream &out, const Visit &v) { return out << v.type << "/" << v.isDevice; }

struct Recorder {
    std::vector<Visit> visits;
    int32_t answer = 0;
};

int32_t record(QN_ENTITY, const char *type, int32_t isDevice, void *user)
{
    auto *r = static_cast<Recorder *>(user);
    r->visits.push_back({type != nullptr ? type : "(null)", isDevice});
    return r->answer;
}

TEST_F(Queries, WalkVisitsEveryNodeDepthFirst)
{
    const std::vector<Visit> whole = {{kHub, 1},  {kStatus, 0}, {kLamp, 1},  {kSwitch, 0},
                                      {kSensor, 1}, {kLight, 0},  {kLamp, 1}, {kSwitch, 0}};
    struct Case {
        const char *name;
        const char *start;
        int32_t answer;
        std::vector<Visit> visits;
    } cases[] = {
        {"from the root", "", 0, whole},
        // Only the root's answer ends the walk.
        {"root answers stop", "", 1, {{kHub, 1}}},
        {"answers below the root are ignored", kHub, 1, std::vector<Visit>(whole.begin() + 1, whole.end())},
        {"from the first lamp", kLamp, 0, {{kSwitch, 0}, {kSensor, 1}, {kLight, 0}}},
        {"unknown type", "urn:x:device:None:1", 0, {}},
    };
    for (const Case &c : cases) {
        Recorder r;
        r.answer = c.answer;
        EXPECT_EQ(qnWalkDesc(hub_, c.start, record, &r), QN_OK) << c.name;
        EXPECT_EQ(r.visits, c.visits) << c.name;
    }
}

// The explorer builds its tree inside the walk: callbacks query the model
// on the same thread while the walk holds the stack lock.
int32_t countActions(QN_ENTITY entity, const char *type, int32_t isDevice, void *user)
{
    if (isDevice)
        return 0;
    const char *list[kMaxActions];
    int32_t count = kMaxActions;
    if (qnGetActionList(entity, type, list, &count) == QN_OK)
        *static_cast<int32_t *>(user) += count;
    return 0;
}

TEST_F(Queries, WalkCallbacksMayQueryTheModel)
{
    int32_t actions = 0;
    EXPECT_EQ(qnWalkDesc(hub_, "", countActions, &actions), QN_OK);
    EXPECT_EQ(actions, 1 + 2 + 2 + 2); // Status, first switch, light, first switch again
}

// An embedded device that repeats its parent's deviceType: resolving types
// again at every level would walk back into the parent for ever.
TEST_F(Queries, WalkEndsOnADeviceThatRepeatsItsParentsType)
{
    std::string dir = testing::TempDir() + "/qn-query-repeat";
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    std::string inner = "<device><deviceType>urn:x:device:Same:1</deviceType><UDN>uuid:2</UDN></device>";
    std::ofstream(dir + "/d.xml") << "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                                     "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
                                     "<deviceType>urn:x:device:Same:1</deviceType><UDN>uuid:1</UDN>"
                                     "<deviceList>" + inner + "</deviceList></device></root>";
    QN_DEVICE dev = add(deviceSettings(dir, "d.xml"));
    ASSERT_NE(dev, QN_INVALID_DEVICE);
    Recorder r;
    EXPECT_EQ(qnWalkDesc(dev, "", record, &r), QN_OK);
    EXPECT_EQ(r.visits, (std::vector<Visit>{{"urn:x:device:Same:1", 1}, {"urn:x:device:Same:1", 1}}));
    // The list queries resolve the type to the first device: the root.
    EXPECT_EQ(devList(dev, "urn:x:device:Same:1"), (Strings{"urn:x:device:Same:1"}));
}

TEST_F(Queries, FindDescValueSearchesTheWholeTree)
{
    struct Case {
        const char *name;
        const char *field;
        const char *pattern;
        int32_t devices;
        int32_t services;
        const char *want; // nullptr: no match
    } cases[] = {
        {"service in an embedded device", "serviceType", "Light:1", 1, 1, kLight},
        {"first service of a shared type", "controlURL", "/ctl/Switch", 1, 1, "/ctl/SwitchA"},
        {"devices only", "friendlyName", "Lamp", 1, 0, "Lamp A"},
        {"second lamp by a longer pattern", "friendlyName", "Lamp B", 1, 1, "Lamp B"},
        {"root first", "UDN", "uuid:", 1, 1, "uuid:0b5e0000-0000-4000-8000-000000000001"},
        {"services not wanted", "serviceType", "Light", 1, 0, nullptr},
        {"devices not wanted", "friendlyName", "Lamp", 0, 1, nullptr},
        {"nothing wanted", "friendlyName", "Lamp", 0, 0, nullptr},
        {"case matters", "friendlyName", "lamp", 1, 1, nullptr},
        {"unknown field", "nothing", "", 1, 1, nullptr},
        {"empty pattern matches the first field present", "friendlyName", "", 1, 1, "Test Hub"},
    };
    for (const Case &c : cases) {
        const char *got = qnFindDescValue(hub_, "", "", c.field, c.pattern, c.devices, c.services, 1);
        if (c.want == nullptr)
            EXPECT_EQ(got, nullptr) << c.name << ": " << got;
        else
            EXPECT_STREQ(got, c.want) << c.name;
    }
}

// ---- Internal lookups -------------------------------------------------------------

TEST_F(Queries, LookupsByPathAreExact)
{
    std::lock_guard guard(stackLock());
    QNDevDesc *root = &entityDesc(hub_)->device;
    QNDevDesc *lampA = root->devices[0];
    QNDevDesc *sensor = lampA->devices[0];
    QNServDesc *light = sensor->services[0];
    struct Case {
        const char *name;
        void *got;
        void *want;
    } cases[] = {
        {"device by type", findInDevice(root, kSensor, "deviceType", FM_DEVICE), sensor},
        {"owner of a service", findInDevice(root, "/ctl/Light", "controlURL", FM_SERVICE_OWNER), sensor},
        {"service", findInDevice(root, "/evt/Light", "eventSubURL", FM_SERVICE), light},
        {"scpd", findInDevice(root, "/Light.xml", "SCPDURL", FM_SCPD), light->scpd},
        {"device mode ignores services", findInDevice(root, kLight, "serviceType", FM_DEVICE), nullptr},
        {"service modes ignore devices", findInDevice(root, kSensor, "deviceType", FM_SERVICE), nullptr},
        {"empty value", findInDevice(root, "", "UDN", FM_DEVICE), nullptr},
        {"empty field name", findInDevice(root, kSensor, "", FM_DEVICE), nullptr},
        {"mode out of range", findInDevice(root, kSensor, "deviceType", 4), nullptr},
        {"control url", getScpdByControlUrl(root, "/ctl/Light"), light->scpd},
        {"control url without its leading slash", getScpdByControlUrl(root, "ctl/Light"), nullptr},
        {"control url with a query", getScpdByControlUrl(root, "/ctl/Light?x"), nullptr},
        {"event url", getScpdByEventSubUrl(root, "/evt/SwitchB"), root->devices[1]->services[0]->scpd},
        {"event url in another case", getScpdByEventSubUrl(root, "/EVT/SwitchB"), nullptr},
        {"scpd url", getScpdByScpdUrl(root, "/Status.xml"), root->services[0]->scpd},
        {"action over the whole tree", findActionInDevice(root, "GetLevel"), light->scpd->actions[0]},
        {"first action of a name", findActionInDevice(root, "GetStatus"), root->services[0]->scpd->actions[0]},
        {"action in one scpd", findActionInScpd(light->scpd, "GetStatus"), light->scpd->actions[1]},
        {"no action of that name", findActionInScpd(light->scpd, "SetTarget"), nullptr},
        {"empty action name", findActionInDevice(root, ""), nullptr},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.want) << c.name;
    EXPECT_EQ(checkServiceType(root, kLight), 0);
    EXPECT_EQ(checkServiceType(root, "urn:qn-test:service:light:1"), -1);
}

} // namespace

// ---- Typed variables and arguments ------------------------------------------------

TEST_F(Queries, VarInfoCopiesTypesDefaultsAndAllowedValues)
{
    QN_DEVICE av = add(deviceSettings(dataDir("devices/av"), "AVDevice.xml"));
    constexpr char kTransport[] = "urn:schemas-upnp-org:service:AVTransport:2";
    constexpr char kRendering[] = "urn:schemas-upnp-org:service:RenderingControl:2";
    struct Case {
        const char *name;
        const char *serviceType;
        const char *var;
        const char *dataType;
        const char *defaultValue; // nullptr: none
        int sendEvents;
        Strings list;
        Strings range; // minimum, maximum, step; empty: no range
    } cases[] = {
        {"list of seven states", kTransport, "TransportState", "string", nullptr, 0,
         {"STOPPED", "PAUSED_PLAYBACK", "PAUSED_RECORDING", "PLAYING", "RECORDING", "TRANSITIONING",
          "NO_MEDIA_PRESENT"},
         {}},
        {"default value, no allowed values", kTransport, "TransportPlaySpeed", "string", "1", 0, {}, {}},
        {"evented, neither list nor range", kTransport, "LastChange", "string", nullptr, 1, {}, {}},
        {"range with a step", kRendering, "Volume", "ui2", nullptr, 0, {}, {"0", "100", "1"}},
    };
    for (const Case &c : cases) {
        QNApiVarInfo info;
        std::memset(&info, 0x55, sizeof info); // the query clears what it does not fill
        ASSERT_EQ(qnGetVarInfo(av, c.serviceType, c.var, &info), QN_OK) << c.name;
        EXPECT_STREQ(info.name, c.var) << c.name;
        EXPECT_STREQ(info.dataType, c.dataType) << c.name;
        EXPECT_EQ(info.hasDefault, c.defaultValue != nullptr ? 1 : 0) << c.name;
        EXPECT_STREQ(info.defaultValue, c.defaultValue != nullptr ? c.defaultValue : "") << c.name;
        EXPECT_EQ(info.sendEvents, c.sendEvents) << c.name;
        EXPECT_EQ(info.hasList, c.list.empty() ? 0 : 1) << c.name;
        EXPECT_EQ(texts(std::vector<const char *>(std::begin(info.allowed), std::end(info.allowed)).data(),
                        info.allowedNum),
                  c.list)
            << c.name;
        EXPECT_EQ(info.hasRange, c.range.empty() ? 0 : 1) << c.name;
        Strings range = info.hasRange ? Strings{info.minimum, info.maximum, info.step} : Strings{};
        EXPECT_EQ(range, c.range) << c.name;
    }
    QNApiVarInfo info{};
    EXPECT_EQ(qnGetVarInfo(av, kTransport, "NoSuchVariable", &info), QN_ERR);
    EXPECT_EQ(qnGetVarInfo(av, "urn:x:service:None:1", "Volume", &info), QN_ERR);
    EXPECT_EQ(qnGetVarInfo(av, kRendering, "", &info), QN_ERR);
    EXPECT_EQ(qnGetVarInfo(av, kRendering, "Volume", nullptr), QN_ERR_ARG);
    EXPECT_EQ(qnGetVarInfo(QN_MAX_ENTITY, kRendering, "Volume", &info), QN_ERR_ARG);
}

TEST_F(Queries, ActionArgVarsNameEachArgumentsStateVariable)
{
    QN_DEVICE av = add(deviceSettings(dataDir("devices/av"), "AVDevice.xml"));
    struct Case {
        const char *name;
        const char *serviceType;
        const char *action;
        QN_RET rc;
        Strings args; // name=relatedStateVariable/direction
    } cases[] = {
        {"AVTransport's Play", "urn:schemas-upnp-org:service:AVTransport:2", "Play", QN_OK,
         {"InstanceID=A_ARG_TYPE_InstanceID/0", "Speed=TransportPlaySpeed/0"}},
        {"any service", "", "GetVolume", QN_OK,
         {"InstanceID=A_ARG_TYPE_InstanceID/0", "Channel=A_ARG_TYPE_Channel/0", "CurrentVolume=Volume/1"}},
        {"action of another service", "urn:schemas-upnp-org:service:AVTransport:2", "GetVolume", QN_ERR, {}},
        {"no such action", "", "Fly", QN_ERR, {}},
    };
    for (const Case &c : cases) {
        QNApiAction a{};
        copyBounded(a.action, sizeof a.action, c.action);
        ASSERT_EQ(qnGetActionArgVars(av, c.serviceType, &a), c.rc) << c.name;
        Strings args;
        for (int i = 0; i < a.argNum; ++i)
            args.push_back(std::string(a.argNV[i].name) + "=" + a.argNV[i].val + "/" +
                           std::to_string(a.argDirection[i]));
        EXPECT_EQ(args, c.args) << c.name;
    }
}

TEST_F(Queries, IconListCopiesEachIcon)
{
    QNApiIcon icons[8];
    int32_t count = 8;
    ASSERT_EQ(qnGetIconList(dlna_, "", icons, &count), QN_OK);
    ASSERT_EQ(count, 4);
    EXPECT_STREQ(icons[1].mimetype, "image/png");
    EXPECT_EQ(icons[1].width, 120);
    EXPECT_EQ(icons[1].height, 120);
    EXPECT_EQ(icons[1].depth, 24);
    EXPECT_STREQ(icons[1].url, "/icons/lrg.png");
    count = 2; // capacity
    ASSERT_EQ(qnGetIconList(dlna_, "", icons, &count), QN_OK);
    EXPECT_EQ(count, 2);
    count = 8;
    ASSERT_EQ(qnGetIconList(binary_, "", icons, &count), QN_OK);
    EXPECT_EQ(count, 0);
    count = 8;
    EXPECT_EQ(qnGetIconList(hub_, "urn:x:device:None:1", icons, &count), QN_ERR);
    count = 0;
    EXPECT_EQ(qnGetIconList(dlna_, "", icons, &count), QN_ERR_ARG);
}
