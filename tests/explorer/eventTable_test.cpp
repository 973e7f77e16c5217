// The Event window's data and the document windows' titles and numbers:
// the event value table, the window registry, and the rows built from
// descriptions the stack loaded from files (the hub with embedded devices
// and MiniDLNA's). Nothing runs, so no socket is opened.
#include "eventRows.h"
#include "eventTable.h"
#include "windowRegistry.h"

#include "qnSdkApi.h"
#include "text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace lumivar;

// ---- Event value table ------------------------------------------------------

TEST(EventTable, StoresOverwritesAndNeverMatchesThePlaceholder)
{
    EventTable table;
    EXPECT_FALSE(table.find(0, "")) << "the placeholder matched";
    table.store(3, "Status", "0", 100);
    table.store(4, "Status", "1", 200);
    table.store(3, "Status", "1", 300); // overwrites, keeps its place
    table.store(3, "status", "x", 400); // another name: names compare exactly
    EXPECT_EQ(table.size(), 3u);
    std::optional<EventEntry> e = table.find(3, "Status");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->value, "1");
    EXPECT_EQ(e->time, 300u);
    EXPECT_EQ(table.find(4, "Status")->value, "1");
    EXPECT_FALSE(table.find(5, "Status"));
    table.store(0, "", "empty", 1); // an entry like the placeholder is a real one
    EXPECT_EQ(table.find(0, "")->value, "empty");
}

TEST(EventTable, CutsLongNamesAndValues)
{
    struct Case {
        const char *name;
        std::string value;
        std::string kept;
    } cases[] = {
        {"128 characters fit", std::string(128, 'v'), std::string(128, 'v')},
        {"129 lose the last", std::string(129, 'v'), std::string(128, 'v')},
        {"a cut never splits a character", std::string(127, 'v') + "\xC3\xA9", std::string(127, 'v')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EventTable table;
        table.store(1, "V", c.value, 1);
        EXPECT_EQ(table.find(1, "V")->value, c.kept);
    }
    // A name longer than the stack's name buffer finds the entry it stored.
    EventTable table;
    const std::string longName(200, 'n');
    table.store(1, longName, "a", 1);
    table.store(1, longName, "b", 2);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table.find(1, longName)->name.size(), EventTable::kNameMaxLen);
    EXPECT_EQ(table.find(1, longName)->value, "b");
}

TEST(EventTable, ServerThreadWritesWhileWindowThreadReads)
{
    EventTable table;
    std::thread server([&table] {
        for (uint32_t i = 1; i <= 2000; ++i)
            table.store(i % 7, "Status", std::to_string(i), i);
    });
    for (int i = 0; i < 2000; ++i) {
        if (std::optional<EventEntry> e = table.find(1, "Status")) {
            ASSERT_EQ(e->value, std::to_string(e->time)) << "value and time of different events";
        }
    }
    server.join();
    EXPECT_EQ(table.size(), 7u);
}

// ---- Window registry -----------------------------------------------------------

TEST(WindowRegistry, InformationTwiceLeavesOneInFront)
{
    WindowRegistry r;
    std::optional<int> url = r.openUrlWindow("http://10.0.0.2/desc.xml");
    std::optional<int> first = r.showInformationWindow();
    ASSERT_TRUE(first);
    r.openUrlWindow("http://10.0.0.2/scpd.xml");
    EXPECT_EQ(r.showInformationWindow(), first);
    EXPECT_EQ(r.front(), first);
    EXPECT_EQ(r.windows().size(), 3u);
    EXPECT_EQ(r.window(*first)->number, 2);
    EXPECT_EQ(r.openInformationWindow(false), first);
    EXPECT_FALSE(r.openEventWindow(false)) << "created without create";
    EXPECT_TRUE(url);
}

TEST(WindowRegistry, NumbersStayDenseFromOne)
{
    WindowRegistry r;
    int a = *r.openUrlWindow("http://h/1");
    int b = *r.openUrlWindow("http://h/2");
    int c = *r.openUrlWindow("http://h/3");

    // Closing the highest then opening gives the freed number.
    EXPECT_TRUE(r.closeWindow(c));
    EXPECT_EQ(r.window(*r.openUrlWindow("http://h/4"))->number, 3);

    // Closing window 2 of three renumbers 3 to 2.
    EXPECT_TRUE(r.closeWindow(b));
    EXPECT_EQ(r.window(a)->number, 1);
    EXPECT_EQ(r.findWindow("http://h/4")->number, 2);
    EXPECT_EQ(r.window(*r.openUrlWindow("http://h/5"))->number, 3);
    EXPECT_FALSE(r.closeWindow(b)) << "closed twice";
}

TEST(WindowRegistry, UrlWindowIsReusedAndNavigatedAgain)
{
    WindowRegistry r;
    int xml = *r.openUrlWindow("http://10.0.0.2/desc.xml");
    r.showEventWindow();
    EXPECT_EQ(r.openUrlWindow("http://10.0.0.2/desc.xml"), xml);
    EXPECT_EQ(r.front(), xml);
    EXPECT_EQ(r.window(xml)->navigations, 2);
    EXPECT_EQ(r.windows().size(), 2u);
    // Titles compare with letter case.
    EXPECT_NE(r.openUrlWindow("http://10.0.0.2/DESC.xml"), xml);
    EXPECT_FALSE(r.openUrlWindow("Corvanta UPnP/Event")) << "a fixed window taken for a URL";
}

TEST(WindowRegistry, FixedWindowsStayAndTitlesAreUnique)
{
    WindowRegistry r;
    int info = *r.openInformationWindow(true);
    int event = *r.openEventWindow(true);
    int xml = *r.openUrlWindow("http://h/x");
    EXPECT_FALSE(r.closeWindow(info));
    EXPECT_FALSE(r.closeWindow(event));
    EXPECT_EQ(r.findWindow("Corvanta UPnP/Infomation")->id, info);
    EXPECT_EQ(r.findWindow("Corvanta UPnP/Event")->number, 2);
    EXPECT_FALSE(r.openDocument(WindowKind::XML, "http://h/x"));
    EXPECT_FALSE(r.openDocument(WindowKind::EVENT, "Corvanta UPnP/Event"));
    EXPECT_EQ(r.window(xml)->number, 3) << "a failed open took a number";
    EXPECT_EQ(r.findWindow("corvanta upnp/event"), nullptr);
}

// ---- Event rows -------------------------------------------------------------------

TEST(ShortTypes, StandardPrefixOnly)
{
    struct Case {
        const char *type;
        const char *asDevice;
        const char *asService;
    } cases[] = {
        {"urn:schemas-upnp-org:device:MediaRenderer:1", "MediaRenderer:1",
         "urn:schemas-upnp-org:device:MediaRenderer:1"},
        {"urn:schemas-upnp-org:service:AVTransport:1", "urn:schemas-upnp-org:service:AVTransport:1",
         "AVTransport:1"},
        {"urn:schemas-sony-com:service:IRCC:1", "urn:schemas-sony-com:service:IRCC:1",
         "urn:schemas-sony-com:service:IRCC:1"},
        {"urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1",
         "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1",
         "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1"},
        {"urn:schemas-upnp-org:device:", "urn:schemas-upnp-org:device:", "urn:schemas-upnp-org:device:"},
        {"urn:schemas-upnp-org:service:", "urn:schemas-upnp-org:service:", "urn:schemas-upnp-org:service:"},
        {"urn:schemas-upnp-org:DEVICE:Basic:1", "urn:schemas-upnp-org:DEVICE:Basic:1",
         "urn:schemas-upnp-org:DEVICE:Basic:1"},
        {"", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(shortDeviceType(c.type), c.asDevice);
        EXPECT_EQ(shortServiceType(c.type), c.asService);
    }
}

class LocalTimeZone : public testing::Test {
protected:
    void SetUp() override
    {
        const char *tz = std::getenv("TZ");
        savedTz_ = tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
    }
    void TearDown() override
    {
        if (savedTz_)
            setenv("TZ", savedTz_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void useZone(const char *tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }
    std::optional<std::string> savedTz_;
};

TEST_F(LocalTimeZone, CalendarTextIs24Characters)
{
    struct Case {
        const char *zone;
        uint32_t time;
        const char *text;
    } cases[] = {
        {"UTC0", 0, ""},
        {"UTC0", 1, "Thu Jan  1 00:00:01 1970"},
        {"UTC0", 1000000000, "Sun Sep  9 01:46:40 2001"},
        {"UTC0", 4294967295u, "Sun Feb  7 06:28:15 2106"},
        {"EST5", 1000000000, "Sat Sep  8 20:46:40 2001"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.time));
        useZone(c.zone);
        EXPECT_EQ(calendarText(c.time), c.text);
    }
}

QN_RET quietHandler(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_OK; }
void quietConsole(const char *) {}

class EventRows : public LocalTimeZone {
protected:
    void SetUp() override
    {
        LocalTimeZone::SetUp();
        useZone("UTC0");
        qnSetConsoleSink(quietConsole);
        QNApiSdkConfig config{1, 0, 65536, nullptr, 0, 0};
        ASSERT_EQ(qnSdkInit(&config), QN_OK);
    }
    void TearDown() override
    {
        qnSdkClean();
        qnSetConsoleSink(nullptr);
        LocalTimeZone::TearDown();
    }
    static QN_CONTROL_POINT addDescCtrlPoint(const char *dir, const char *descFile)
    {
        QNApiCtrlPointSettings s{};
        s.cpType = CPT_DESC;
        copyBounded(s.descFile, sizeof s.descFile, descFile);
        copyBounded(s.localPath, sizeof s.localPath, std::string(QN_TEST_DATA_DIR) + "/" + dir);
        copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
        s.msgHandler = quietHandler;
        return qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    }
    static std::string joined(const std::vector<EventRow> &rows)
    {
        std::string text;
        for (const EventRow &r : rows)
            text += r.device + "|" + r.service + "|" + r.variable + "|" + r.value + "|" + r.time + "\n";
        return text;
    }
};

TEST_F(EventRows, EmbeddedDevicesWithAndWithoutEvents)
{
    QN_CONTROL_POINT hub = addDescCtrlPoint("devices/embedded", "Hub.xml");
    ASSERT_LT(hub, QN_MAX_ENTITY);
    EventTable table;
    table.store(hub, "Status", "1", 1000000000);
    table.store(hub, "Summary", "ok", 0);
    table.store(hub + 1, "Detail", "other entity", 5); // another control point's event
    EXPECT_EQ(joined(eventRowsOf(hub, table)),
              "urn:qn-test:device:Hub:1|urn:qn-test:service:Status:1|Summary|ok|\n"
              "BinaryLight:1|SwitchPower:1|Status|1|Sun Sep  9 01:46:40 2001\n"
              "urn:qn-test:device:Sensor:1|urn:qn-test:service:Light:1|Level||\n"
              "BinaryLight:1|SwitchPower:1|Status|1|Sun Sep  9 01:46:40 2001\n");
}

TEST_F(EventRows, MiniDlnaWithAVendorService)
{
    QN_CONTROL_POINT dlna = addDescCtrlPoint("fixtures/devices/minidlna", "rootDesc.xml");
    ASSERT_LT(dlna, QN_MAX_ENTITY);
    EventTable table;
    table.store(dlna, "SystemUpdateID", "17", 1);
    EXPECT_EQ(joined(eventRowsOf(dlna, table)),
              "MediaServer:1|ContentDirectory:1|TransferIDs||\n"
              "MediaServer:1|ContentDirectory:1|SystemUpdateID|17|Thu Jan  1 00:00:01 1970\n"
              "MediaServer:1|ConnectionManager:1|SourceProtocolInfo||\n"
              "MediaServer:1|ConnectionManager:1|SinkProtocolInfo||\n"
              "MediaServer:1|ConnectionManager:1|CurrentConnectionIDs||\n"
              "MediaServer:1|urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1|AuthorizationDeniedUpdateID||\n"
              "MediaServer:1|urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1|AuthorizationGrantedUpdateID||\n"
              "MediaServer:1|urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1|ValidationRevokedUpdateID||\n"
              "MediaServer:1|urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1|ValidationSucceededUpdateID||\n");
}

TEST_F(EventRows, EntityWithoutDescriptionHasNoRows)
{
    EventTable table;
    EXPECT_TRUE(eventRowsOf(QN_MAX_ENTITY - 1, table).empty());
}

} // namespace
