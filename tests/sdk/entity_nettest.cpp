// The entity API: adding, changing and removing devices and control points,
// with their description files from disk or from the application.
#include "entity.h"
#include "scpd.h"
#include "log.h"
#include "netns.h"
#include "qnSdkApi.h"
#include "rawnet.h"
#include "sdkThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex consoleMutex;
std::string console;
void recordConsole(const char *text)
{
    std::lock_guard guard(consoleMutex);
    console += text;
}

std::string consoleText()
{
    std::lock_guard guard(consoleMutex);
    return console;
}

QN_RET quietHandler(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_OK; }

std::string exampleDir() { return std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight"; }

QNApiDevSettings lightSettings()
{
    QNApiDevSettings s{};
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.httpPort = 30909;
    s.soapPort = 30909;
    copyBounded(s.localPath, sizeof s.localPath, exampleDir());
    copyBounded(s.webPath, sizeof s.webPath, "/");
    copyBounded(s.descFile, sizeof s.descFile, "BinaryLight.xml");
    s.msgHandler = quietHandler;
    s.adPeriod = 20;
    return s;
}

QNApiCtrlPointSettings cpSettings(int cpType, const char *descFile)
{
    QNApiCtrlPointSettings s{};
    s.cpType = cpType;
    copyBounded(s.descFile, sizeof s.descFile, descFile);
    s.notifyApp = 1;
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.eventPort = 30808;
    copyBounded(s.eventPath, sizeof s.eventPath, "/eventCB");
    s.msgHandler = quietHandler;
    return s;
}

// Settings records live until the end of the full expression that adds them.
const QNApiCtrlPointSettings *cpPtr(const QNApiCtrlPointSettings &s) { return &s; }
const QNApiDevSettings *devPtr(const QNApiDevSettings &s) { return &s; }

class Entities : public testing::Test {
protected:
    void SetUp() override
    {
        {
            std::lock_guard guard(consoleMutex);
            console.clear();
        }
        setConsoleSink(recordConsole);
        QNApiSdkConfig config{1, 0, 65536, nullptr, 0, 0};
        ASSERT_EQ(qnSdkInit(&config), QN_OK);
    }
    void TearDown() override
    {
        qnSdkClean();
        setConsoleSink(nullptr);
    }
};

TEST_F(Entities, InitChecksVersion)
{
    QNApiSdkConfig config{1, 1, 0, nullptr, 0, 0};
    EXPECT_EQ(qnSdkInit(&config), QN_ERR_VERSION);
    EXPECT_EQ(qnSdkInit(nullptr), QN_ERR_ARG);
    config.minorVer = 0;
    EXPECT_EQ(qnSdkInit(&config), QN_OK);
    EXPECT_EQ(qnSdkInit(&config), QN_OK);
}

TEST_F(Entities, DeviceFromDiskGetsItsUrlAndRoles)
{
    QNApiDevSettings s = lightSettings();
    copyBounded(s.webPath, sizeof s.webPath, "\\dev\\");
    QN_DEVICE dev = qnAddDevice(&s);
    ASSERT_NE(dev, QN_INVALID_DEVICE) << consoleText();
    EntitySlot *slot = entityAt(dev);
    ASSERT_NE(slot, nullptr);
    EXPECT_STREQ(slot->dev.webPath, "/dev");
    EXPECT_STREQ(slot->descUrl, "http://127.0.0.1:30909/dev/BinaryLight.xml");
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(slot->registered[i]) << "role " << i;
    // SCPDURLs move under the web path so that the file service finds them.
    const QNServDesc *serv = slot->desc->device.services[0];
    EXPECT_STREQ(findNameVal(serv->fields, serv->fieldCount, "SCPDURL"), "/dev/SwitchPower.xml");
    ASSERT_NE(serv->scpd, nullptr);
    EXPECT_EQ(serv->scpd->actionCount, 3);
    EXPECT_NE(consoleText().find(" adding dev to server\r\n"), std::string::npos);
    EXPECT_EQ(qnCheckDevice(dev), QN_OK);
    auto *copy = static_cast<QNApiDevSettings *>(qnGetSettings(dev));
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->ipAddr, "127.0.0.1"); // used as given, no look-up
}

TEST_F(Entities, RootWebPathGivesPlainUrl)
{
    QNApiDevSettings s = lightSettings();
    QN_DEVICE dev = qnAddDevice(&s);
    ASSERT_NE(dev, QN_INVALID_DEVICE);
    EXPECT_STREQ(entityAt(dev)->dev.webPath, "");
    EXPECT_STREQ(entityAt(dev)->descUrl, "http://127.0.0.1:30909/BinaryLight.xml");
}

TEST_F(Entities, InvalidSettingsAndFullTable)
{
    QNApiDevSettings s = lightSettings();
    s.msgHandler = nullptr;
    EXPECT_EQ(qnAddDevice(&s), QN_INVALID_DEVICE);
    EXPECT_EQ(qnAddDevice(nullptr), QN_INVALID_DEVICE);
    EXPECT_NE(consoleText().find(" invalid args\r\n"), std::string::npos);

    QNApiDevSettings universal{};
    copyBounded(universal.ipAddr, sizeof universal.ipAddr, "127.0.0.1");
    copyBounded(universal.serverName, sizeof universal.serverName, kUniversalServerName);
    QN_DEVICE u = qnAddDevice(&universal);
    ASSERT_NE(u, QN_INVALID_DEVICE);
    EXPECT_TRUE(entityAt(u)->registered[DR_SSDP]);
    EXPECT_FALSE(entityAt(u)->registered[DR_SOAP]);
    EXPECT_EQ(entityAt(u)->desc, nullptr);

    s = lightSettings();
    for (int i = 1; i < QN_MAX_ENTITY; ++i)
        ASSERT_NE(qnAddDevice(&s), QN_INVALID_DEVICE) << i;
    EXPECT_EQ(qnAddDevice(&s), QN_INVALID_DEVICE);
    EXPECT_NE(consoleText().find(" too much entities\r\n"), std::string::npos);
    // A freed slot in the middle is the next one taken.
    EXPECT_EQ(qnRemoveDevice(5), 0);
    EXPECT_EQ(qnAddDevice(&s), 5);
}

// A device that could not register a role or arm its advertisement would
// be lost without a word later: the add fails at once and leaves nothing.
TEST_F(Entities, FullServerTablesFailTheAdd)
{
    SockInfo shared{}; // one socket record that every filler shares
    sockInit(&shared, "127.0.0.1", "", 31999, SP_TCP_SERVER, 0);
    std::vector<MsgHandler> fillers(kMaxHandlers);
    int registered = 0;
    for (MsgHandler &h : fillers) {
        h.sock = &shared;
        h.match = [](MsgHandler *) { return -1; };
        h.handle = [](MsgHandler *) { return 0; };
        if (regHandler(&h) != 0)
            break;
        ++registered;
    }
    ASSERT_EQ(registered, kMaxHandlers);
    // Room for two of a device's roles, not for all of them.
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(unregHandler(&fillers[registered - 1 - i]), 0);
    QNApiDevSettings s = lightSettings();
    EXPECT_EQ(qnAddDevice(&s), QN_INVALID_DEVICE);
    EXPECT_NE(consoleText().find(" server tables full\r\n"), std::string::npos);
    EXPECT_EQ(entityAt(0), nullptr);
    for (int i = 0; i < registered - 2; ++i)
        ASSERT_EQ(unregHandler(&fillers[i]), 0);
    EXPECT_EQ(qnAddDevice(&s), 0) << "the failed add kept handlers registered";
}

TEST_F(Entities, BrokenDescriptionsLeaveTheSlotFree)
{
    std::string dir = testing::TempDir() + "/qn-broken";
    std::string mk = "mkdir -p " + dir;
    ASSERT_EQ(std::system(mk.c_str()), 0);
    struct Case {
        const char *name;
        std::string text;
        const char *message;
    } cases[] = {
        {"no SCPDURL",
         "<root><device><deviceType>t</deviceType><UDN>uuid:x</UDN><serviceList><service>"
         "<serviceType>s</serviceType></service></serviceList></device></root>",
         " could not find SCPDURL\r\n"},
        {"missing SCPD file",
         "<root><device><UDN>uuid:x</UDN><serviceList><service><SCPDURL>/nothere.xml</SCPDURL>"
         "</service></serviceList></device></root>",
         " could not open file "},
        {"not xml", "hello", " parse error, ret = "},
        {"larger than a document", "<root>" + std::string(80000, ' ') + "</root>", " parse error, ret = "},
    };
    for (const Case &c : cases) {
        std::ofstream(dir + "/d.xml") << c.text;
        QNApiDevSettings s = lightSettings();
        copyBounded(s.localPath, sizeof s.localPath, dir);
        copyBounded(s.descFile, sizeof s.descFile, "d.xml");
        EXPECT_EQ(qnAddDevice(&s), QN_INVALID_DEVICE) << c.name;
        EXPECT_NE(consoleText().find(c.message), std::string::npos) << c.name << ": " << consoleText();
        EXPECT_EQ(entityAt(0), nullptr) << c.name;
    }
}

// Files served from memory through MT_READ_FILE.
std::map<std::string, std::string> memoryFiles;
std::vector<std::string> asked;

QN_RET memoryHandler(QN_ENTITY, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_READ_FILE)
        return QN_OK;
    auto *info = static_cast<QNApiFileInfo *>(arg);
    asked.emplace_back(info->fileName);
    auto found = memoryFiles.find(info->fileName);
    if (found == memoryFiles.end())
        return QN_ERR;
    std::memcpy(info->buf, found->second.data(), found->second.size());
    info->bufLen = static_cast<int32_t>(found->second.size());
    info->fileSize = info->bufLen;
    return QN_OK;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(Entities, DescriptionThroughTheApplication)
{
    memoryFiles = {{"web/BinaryLight.xml", readFile(exampleDir() + "/BinaryLight.xml")},
                   {"/SwitchPower.xml", readFile(exampleDir() + "/SwitchPower.xml")}};
    asked.clear();
    QNApiDevSettings s = lightSettings();
    s.localPath[0] = '\0';
    copyBounded(s.webPath, sizeof s.webPath, "web/");
    s.msgHandler = memoryHandler;
    QN_DEVICE dev = qnAddDevice(&s);
    ASSERT_NE(dev, QN_INVALID_DEVICE) << consoleText();
    EXPECT_EQ(asked, (std::vector<std::string>{"web/BinaryLight.xml", "/SwitchPower.xml"}));
    ASSERT_NE(entityAt(dev)->desc->device.services[0]->scpd, nullptr);

    memoryFiles.erase("/SwitchPower.xml");
    EXPECT_EQ(qnAddDevice(&s), QN_INVALID_DEVICE);
    EXPECT_NE(consoleText().find(" could not read file /SwitchPower.xml by callback func"), std::string::npos);
}

TEST_F(Entities, ControlPointParentsAndChildren)
{
    QN_CONTROL_POINT main = qnAddCtrlPoint(cpPtr(cpSettings(0, "")), QN_INVALID_CONTROL_POINT);
    ASSERT_NE(main, QN_INVALID_CONTROL_POINT);
    QN_CONTROL_POINT child = qnAddCtrlPoint(cpPtr(cpSettings(2, "http://127.0.0.1:30909/d.xml")), main);
    ASSERT_NE(child, QN_INVALID_CONTROL_POINT);
    EXPECT_EQ(entityAt(main)->childCount, 1);
    // The child listens on its parent's socket.
    EXPECT_EQ(entityAt(child)->handlers[CR_LISTEN].sock, entityAt(main)->handlers[CR_LISTEN].sock);
    // A plain control point under a control point that has a parent, or a
    // bound one, is refused; a bound one without descFile too.
    EXPECT_EQ(qnAddCtrlPoint(cpPtr(cpSettings(0, "")), child), QN_INVALID_CONTROL_POINT);
    EXPECT_EQ(qnAddCtrlPoint(cpPtr(cpSettings(2, "")), main), QN_INVALID_CONTROL_POINT);
    EXPECT_EQ(qnRemoveDevice(main), EK_CTRL_POINT);
    EXPECT_EQ(qnCheckDevice(main), QN_ERR);
    // Removing the parent leaves the child registered and listening.
    EXPECT_EQ(qnRemoveCtrlPoint(main), 0);
    ASSERT_NE(entityAt(child), nullptr);
    EXPECT_TRUE(entityAt(child)->registered[CR_LISTEN]);
    EXPECT_EQ(qnGetSettings(main), nullptr);
    EXPECT_EQ(qnChangeEntityState(main, ES_RUNNING), QN_ERR_ARG);
    EXPECT_EQ(qnChangeEntityState(child, ES_RUNNING), QN_OK);
    for (int i = 0; i < kRolesPerEntity; ++i)
        EXPECT_EQ(entityAt(child)->handlers[i].state, ES_RUNNING);
    QN_COOKIE cookie = 0;
    EXPECT_EQ(qnCPSearch(child, "", 1800, &cookie), QN_OK);
    EXPECT_EQ(cookie, 2222u);
    EXPECT_EQ(qnCPSearch(main, "", 1800, nullptr), QN_ERR_ARG);
}

TEST_F(Entities, DescControlPointLoadsItsOwnDescription)
{
    QNApiCtrlPointSettings s = cpSettings(CPT_DESC, "BinaryLight.xml");
    copyBounded(s.localPath, sizeof s.localPath, exampleDir() + "/");
    QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    ASSERT_NE(cp, QN_INVALID_CONTROL_POINT) << consoleText();
    ASSERT_NE(entityDesc(cp), nullptr);
    EXPECT_NE(entityDesc(cp)->device.services[0]->scpd, nullptr);
}

// Entities added, started, stopped and removed from two threads while the
// server thread runs and dispatches (run under ThreadSanitizer too).
TEST_F(Entities, ConcurrentChangesWhileTheServerRuns)
{
    std::atomic<bool> started{false};
    QNApiSdkConfig config{1, 0, 1 << 20, qntest::startThread, 0, 0};
    ASSERT_EQ(qnSdkInit(&config), QN_OK);
    ASSERT_EQ(qnSdkRun(), QN_OK);
    auto churn = [&](bool devices) {
        for (int round = 0; round < 15; ++round) {
            QN_ENTITY e = devices ? qnAddDevice(devPtr(lightSettings()))
                                  : qnAddCtrlPoint(cpPtr(cpSettings(0, "")), QN_INVALID_CONTROL_POINT);
            if (e == QN_INVALID_DEVICE)
                continue;
            qnChangeEntityState(e, ES_RUNNING);
            qntest::exchange("127.0.0.1", 30909, "GET /BinaryLight.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 500);
            qnChangeEntityState(e, ES_PAUSED);
            qnChangeEntityState(e, ES_STOPPED);
            if (devices)
                qnRemoveDevice(e);
            else
                qnRemoveCtrlPoint(e);
        }
    };
    started = true;
    std::thread a(churn, true), b(churn, false);
    a.join();
    b.join();
    for (int i = 0; i < QN_MAX_ENTITY; ++i)
        EXPECT_EQ(entityAt(i), nullptr) << i;
}

} // namespace
