// The device filters against descriptions the stack loaded from files:
// MiniDLNA's, a hub whose two embedded lamps share a deviceType, a shelf
// whose UPC is its eighteenth field, and the BinaryLight example as a
// device entity. Nothing runs, so no socket is opened.
#include "entity.h"
#include "filters.h"
#include "server.h"
#include "text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

using lumivar::FilterRecord;

QN_RET quietHandler(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_OK; }
void quietConsole(const char *) {}

std::string dataDir(const std::string &relative) { return std::string(QN_TEST_DATA_DIR) + "/" + relative; }

constexpr char kShelfDesc[] =
    "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
    "<minor>0</minor></specVersion><device><deviceType>urn:schemas-upnp-org:device:Basic:1</deviceType>"
    "<friendlyName>Shelf</friendlyName><manufacturer>Shelfworks</manufacturer><manufacturerURL>http://s/"
    "</manufacturerURL><modelDescription>d</modelDescription><modelName>m</modelName><modelNumber>1"
    "</modelNumber><modelURL>http://s/m</modelURL><serialNumber>7</serialNumber><UDN>uuid:5e1f0000-0000-"
    "4000-8000-000000000001</UDN><presentationURL>/</presentationURL><X_a>a</X_a><X_b>b</X_b><X_c>c</X_c>"
    "<X_d>d</X_d><X_e>e</X_e><X_f>f</X_f><UPC>012345678905</UPC></device></root>";

QN_CONTROL_POINT addDescCtrlPoint(const std::string &dir, const char *descFile)
{
    QNApiCtrlPointSettings s{};
    s.cpType = CPT_DESC;
    copyBounded(s.descFile, sizeof s.descFile, descFile);
    copyBounded(s.localPath, sizeof s.localPath, dir);
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.msgHandler = quietHandler;
    return qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
}

QN_DEVICE addLightDevice()
{
    QNApiDevSettings s{};
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.httpPort = s.soapPort = 30909;
    copyBounded(s.localPath, sizeof s.localPath, dataDir("../../examples/binarylight"));
    copyBounded(s.webPath, sizeof s.webPath, "/");
    copyBounded(s.descFile, sizeof s.descFile, "BinaryLight.xml");
    s.msgHandler = quietHandler;
    s.adPeriod = 20;
    return qnAddDevice(&s);
}

// The judging entity of a case.
enum Judge { HUB, DLNA, SHELF, LIGHT_DEVICE, UNKNOWN };

struct Rule {
    uint32_t type;
    const char *pattern;
    bool pass;
    bool skip = true;
    bool forDevices = true;
    bool forControlPoints = false;
};

struct Case {
    const char *name;
    Judge judge;
    std::vector<Rule> rules;
    bool defaultPass;
    bool dropped;
    int decidingIndex;
};

constexpr bool PASS = true, DROP = false, SKIP = true, GO_ON = false;

const std::vector<Case> &cases()
{
    using namespace lumivar;
    static const std::vector<Case> table = {
        {"no filters, default pass", HUB, {}, true, false, 0},
        {"no filters, default drop", HUB, {}, false, true, 0},
        {"drop ahead of pass", DLNA, {{FT_MANUFACTURER, "Justin", DROP}, {FT_DEVICE_TYPE, "MediaServer", PASS}},
         true, true, 0},
        {"pass without skip then drop", DLNA,
         {{FT_MANUFACTURER, "Justin", PASS, GO_ON}, {FT_UDN, "uuid:4d696e69", DROP}}, true, true, 1},
        {"pass with skip ends the walk", DLNA,
         {{FT_MANUFACTURER, "Justin", PASS, SKIP}, {FT_UDN, "uuid:4d696e69", DROP}}, true, false, 0},
        {"pass without skip beats default drop", DLNA,
         {{FT_MANUFACTURER, "Justin", PASS, GO_ON}, {FT_MANUFACTURER, "Nobody", DROP}}, false, false, 2},
        {"manufacturer in other letter case", DLNA, {{FT_MANUFACTURER, "justin", DROP}}, true, false, 1},
        {"manufacturer is not manufacturerURL", DLNA, {{FT_MANUFACTURER, "netgear", DROP}}, true, false, 1},
        {"device type of a nested device", HUB, {{FT_DEVICE_TYPE, "device:Sensor:1", PASS, GO_ON}}, false, false, 1},
        {"UDN of the second lamp of one type", HUB, {{FT_UDN, "00000000000b", PASS, GO_ON}}, false, false, 1},
        {"service type of a nested device", HUB, {{FT_SERVICE_TYPE, "service:Light:1", PASS, GO_ON}}, false, false,
         1},
        {"UPC after sixteen fields", SHELF, {{FT_UPC, "012345678905", PASS, GO_ON}}, false, false, 1},
        {"UPC absent", DLNA, {{FT_UPC, "0", DROP}}, true, false, 1},
        {"IP address of the peer", HUB, {{FT_IP_ADDRESS, "192.168.1.20", PASS, GO_ON}}, false, false, 1},
        {"IP address of another host", HUB, {{FT_IP_ADDRESS, "192.168.1.21", DROP}}, true, false, 1},
        {"IP pattern that is no address", HUB, {{FT_IP_ADDRESS, "192.168.1", PASS}}, false, true, 1},
        {"IP of a peer not heard yet", DLNA, {{FT_IP_ADDRESS, "0.0.0.0", PASS}}, false, true, 1},
        {"XML Value and Common String never match", DLNA,
         {{FT_XML_VALUE, "Justin", DROP}, {FT_COMMON_STRING, "Justin", DROP}}, true, false, 2},
        {"control-point rules leave devices alone", DLNA,
         {{FT_MANUFACTURER, "Justin", DROP, SKIP, false, true}}, true, false, 1},
        {"a device judges by control-point rules", LIGHT_DEVICE,
         {{FT_DEVICE_TYPE, "BinaryLight", PASS, SKIP, true, false},
          {FT_DEVICE_TYPE, "BinaryLight", DROP, SKIP, false, true}},
         true, true, 1},
        {"unknown entity", UNKNOWN, {}, true, true, -1},
    };
    return table;
}

std::vector<FilterRecord> recordsOf(const std::vector<Rule> &rules)
{
    std::vector<FilterRecord> records;
    for (const Rule &r : rules)
        records.push_back({"rule", r.type, r.forDevices, r.forControlPoints, r.pattern, r.pass, r.skip});
    return records;
}

class Filters : public testing::Test {
protected:
    void SetUp() override
    {
        qnSetConsoleSink(quietConsole);
        QNApiSdkConfig config{1, 0, 65536, nullptr, 0, 0};
        ASSERT_EQ(qnSdkInit(&config), QN_OK);
        shelfDir_ = std::filesystem::temp_directory_path() / ("lumivar-filters-" + std::to_string(getpid()));
        std::filesystem::create_directories(shelfDir_);
        std::ofstream(shelfDir_ / "Shelf.xml") << kShelfDesc;
        entities_[HUB] = addDescCtrlPoint(dataDir("devices/embedded"), "Hub.xml");
        entities_[DLNA] = addDescCtrlPoint(dataDir("fixtures/devices/minidlna"), "rootDesc.xml");
        entities_[SHELF] = addDescCtrlPoint(shelfDir_.string(), "Shelf.xml");
        entities_[LIGHT_DEVICE] = addLightDevice();
        entities_[UNKNOWN] = QN_MAX_ENTITY - 1;
        for (int judge = HUB; judge < UNKNOWN; ++judge)
            ASSERT_LT(entities_[judge], QN_MAX_ENTITY) << "entity " << judge << " not added";
        // The hub is seen at 192.168.1.20, as if tracked from its announcement.
        std::lock_guard guard(stackLock());
        entityDesc(entities_[HUB])->hostAddr = htonl(0xC0A80114);
    }
    void TearDown() override
    {
        qnSdkClean();
        qnSetConsoleSink(nullptr);
        std::filesystem::remove_all(shelfDir_);
    }

    QN_ENTITY entities_[UNKNOWN + 1] = {};
    std::filesystem::path shelfDir_;
};

TEST_F(Filters, DecideByRulesAndDefault)
{
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        lumivar::FilterDecision d = lumivar::isFiltered(entities_[c.judge], recordsOf(c.rules), c.defaultPass);
        EXPECT_EQ(d.dropped, c.dropped);
        EXPECT_EQ(d.decidingIndex, c.decidingIndex);
    }
}

TEST(FilteredLogLine, NamesTheDecidingFilterOrTheDefault)
{
    std::vector<FilterRecord> filters(2);
    filters[1].name = "No Printers";
    const std::string url = "http://10.0.0.7:80/desc.xml";
    EXPECT_EQ(lumivar::filteredLogLine(url, filters, 1),
              "Device at http://10.0.0.7:80/desc.xml filtered by filter No Printers.\r\n");
    EXPECT_EQ(lumivar::filteredLogLine(url, filters, 2),
              "Device at http://10.0.0.7:80/desc.xml filtered by filter Default Action.\r\n");
    EXPECT_EQ(lumivar::filteredLogLine(url, filters, -1), "");
}

} // namespace
