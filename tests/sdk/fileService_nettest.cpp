// The device's file service on real sockets: devices added through the qn
// API and set running, the server loop on its own thread, raw HTTP clients.
#include "desc.h"
#include "entity.h"
#include "fileService.h"
#include "log.h"
#include "netns.h"
#include "qnSdkApi.h"
#include "query.h"
#include "rawnet.h"
#include "scpd.h"
#include "xmlFixtures.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using qntest::exchange;

std::string exampleDir() { return std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight"; }

// ---- The application: files from memory, delivered in chunks ------------------

struct FileCall {
    std::string name;
    int32_t bufLen; // on entry: the capacity offered
};

constexpr int32_t kContentSize = INT32_MIN; // report the content's size

// How the application answers MT_READ_FILE for a file it has.
struct AppFile {
    std::string content;
    int32_t chunk = 0;         // bytes per call; 0: as many as the buffer takes
    int32_t claim = 0;         // bufLen reported instead of the real count, when nonzero
    int32_t fileSize = kContentSize; // reported size
    int32_t failAfter = -1;    // refuse the call with this number (0 = the first)
    bool removeDevice = false; // the handler removes its own device
};

std::mutex appMutex;
std::map<std::string, AppFile> appFiles;
std::vector<FileCall> appCalls;
size_t appPos = 0; // position in the file being delivered

QN_RET appHandler(QN_ENTITY entity, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_READ_FILE)
        return QN_OK;
    auto *info = static_cast<QNApiFileInfo *>(arg);
    std::lock_guard guard(appMutex);
    int call = 0;
    for (const FileCall &c : appCalls)
        call += c.name == info->fileName ? 1 : 0;
    appCalls.push_back({info->fileName, info->bufLen});
    auto found = appFiles.find(info->fileName);
    if (found == appFiles.end())
        return QN_ERR;
    const AppFile &file = found->second;
    if (file.removeDevice) {
        qnRemoveDevice(entity);
        return QN_OK;
    }
    if (call == 0 || appPos > file.content.size())
        appPos = 0;
    if (file.failAfter >= 0 && call >= file.failAfter)
        return QN_ERR;
    size_t n = std::min<size_t>(file.content.size() - appPos, static_cast<size_t>(info->bufLen));
    if (file.chunk > 0)
        n = std::min<size_t>(n, static_cast<size_t>(file.chunk));
    std::memcpy(info->buf, file.content.data() + appPos, n);
    appPos += n;
    info->bufLen = file.claim != 0 ? file.claim : static_cast<int32_t>(n);
    info->fileSize = file.fileSize != kContentSize ? file.fileSize : static_cast<int32_t>(file.content.size());
    return QN_OK;
}

// ---- Responses --------------------------------------------------------------------

struct Response {
    std::string raw;
    std::string head; // status line and headers, without the empty line
    std::string body;
    bool complete = false;

    explicit Response(std::string text) : raw(std::move(text))
    {
        size_t end = raw.find("\r\n\r\n");
        complete = end != std::string::npos;
        head = raw.substr(0, complete ? end : raw.size());
        body = complete ? raw.substr(end + 4) : "";
    }
    std::string statusLine() const { return head.substr(0, head.find("\r\n")); }
    std::string header(const std::string &name) const
    {
        size_t at = head.find("\r\n" + name + ": ");
        if (at == std::string::npos)
            return "(none)";
        at += name.size() + 4;
        return head.substr(at, head.find("\r\n", at) - at);
    }
};

Response get(uint16_t port, const std::string &target, const std::string &host = "127.0.0.1")
{
    return Response(exchange("127.0.0.1", port, "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n"));
}

std::string statusOnly(const char *status, const char *server = kDefaultServerName)
{
    return std::string("HTTP/1.1 ") + status + "\r\nServer: " + server + "\r\n\r\n";
}

// The document the model writes, as the file service must send it.
template <typename Model>
std::string written(const QNTextDoc &kind, int (*writer)(QNTextDoc *, const Model *), const Model *model)
{
    std::vector<char> buf(kMaxServedDoc);
    QNTextDoc doc = kind;
    docInitWrite(&doc, buf.data(), static_cast<uint32_t>(buf.size()));
    std::lock_guard guard(stackLock());
    EXPECT_EQ(writer(&doc, model), 0);
    return std::string(doc.text, doc.len);
}

// ---- Fixture: the stack with its server thread ---------------------------------------

std::thread serverThread;
std::mutex consoleMutex;
std::string console;
void recordConsole(const char *text)
{
    std::lock_guard guard(consoleMutex);
    console += text;
}

class FileService : public testing::Test {
protected:
    void SetUp() override
    {
        {
            std::lock_guard guard(consoleMutex);
            console.clear();
        }
        {
            std::lock_guard guard(appMutex);
            appFiles.clear();
            appCalls.clear();
        }
        setConsoleSink(recordConsole);
        QNApiSdkConfig config{1, 0, 65536,
                              [](QNThreadEntry entry, int32_t) -> QN_RET {
                                  serverThread = std::thread(entry, nullptr);
                                  return QN_OK;
                              },
                              0, 0};
        ASSERT_EQ(qnSdkInit(&config), QN_OK);
        ASSERT_EQ(qnSdkRun(), QN_OK);
    }
    void TearDown() override
    {
        qnSdkStop();
        if (serverThread.joinable())
            serverThread.join();
        qnSdkClean();
        setConsoleSink(nullptr);
    }

    // Adds a device on a port of its own and sets it running.
    QN_DEVICE start(const std::string &dir, const char *descFile, const char *webPath, uint16_t *port)
    {
        QNApiDevSettings s{};
        copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
        *port = qntest::freePort();
        s.httpPort = *port;
        s.soapPort = *port;
        copyBounded(s.localPath, sizeof s.localPath, dir);
        copyBounded(s.webPath, sizeof s.webPath, webPath);
        copyBounded(s.descFile, sizeof s.descFile, descFile);
        s.msgHandler = appHandler;
        s.adPeriod = 20;
        QN_DEVICE dev = qnAddDevice(&s);
        EXPECT_NE(dev, QN_INVALID_DEVICE) << dir << "/" << descFile;
        EXPECT_EQ(qnChangeEntityState(dev, ES_RUNNING), QN_OK);
        return dev;
    }

    static std::vector<FileCall> calls()
    {
        std::lock_guard guard(appMutex);
        return appCalls;
    }
    // Offers a file; the calls recorded so far are forgotten.
    static void serve(const std::string &name, const AppFile &file)
    {
        std::lock_guard guard(appMutex);
        appFiles[name] = file;
        appCalls.clear();
    }
};

// Checks a description or SCPD answer: headers, the written model, and
// that the stack's own parser and xmllint read it back.
void expectXmlAnswer(const Response &r, const std::string &want, const char *server, const std::string &what)
{
    ASSERT_TRUE(r.complete) << what << ": " << r.raw;
    EXPECT_EQ(r.head, "HTTP/1.1 200 OK\r\nServer: " + std::string(server) +
                          "\r\nConnection: close\r\nContent-Type: text/xml\r\nContent-Length: " +
                          std::to_string(want.size()))
        << what;
    EXPECT_EQ(r.body, want) << what;
    if (qntest::toolsAvailable()) {
        EXPECT_EQ(qntest::xmllintProblems(r.body), "") << what;
    }
}

void expectDescReparses(const std::string &body, QN_DEVICE dev)
{
    qntest::DocBuffer doc(body, kDescDocKind);
    qntest::RootModel parsed;
    ASSERT_EQ(parseDesc(&doc.doc, parsed.get()), 0);
    std::lock_guard guard(stackLock());
    EXPECT_EQ(qntest::diffDesc(*parsed.get(), *entityDesc(dev)), "");
}

void expectScpdReparses(const std::string &body, const QNScpd *model)
{
    qntest::DocBuffer doc(body, kScpdDocKind);
    qntest::ScpdModel parsed;
    ASSERT_EQ(parseScpd(&doc.doc, parsed.get()), 0);
    std::lock_guard guard(stackLock());
    EXPECT_EQ(qntest::diffScpd(*parsed.get(), *model), "");
}

// ---- Description and SCPDs ---------------------------------------------------------

TEST_F(FileService, DescriptionAtItsTwoPaths)
{
    struct Case {
        const char *name;
        const char *webPath;
        const char *target;
        bool description; // else the application is asked (and refuses)
    } cases[] = {
        {"web path itself", "/dev", "/dev", true},
        {"web path and file", "/dev", "/dev/BinaryLight.xml", true},
        {"trailing slash", "/dev", "/dev/", false},
        {"other case", "/dev", "/DEV/BinaryLight.xml", false},
        {"file without the web path", "/dev", "/BinaryLight.xml", false},
        {"query string", "/dev", "/dev/BinaryLight.xml?x=1", false},
        {"empty web path", "/", "/", true},
        {"file at the root", "/", "/BinaryLight.xml", true},
        {"web path written without its slash", "dev\\", "/dev/BinaryLight.xml", true},
    };
    for (const Case &c : cases) {
        uint16_t port = 0;
        QN_DEVICE dev = start(exampleDir(), "BinaryLight.xml", c.webPath, &port);
        size_t asked = calls().size();
        Response r = get(port, c.target);
        if (c.description) {
            const QNRootDesc *model = entityDesc(dev);
            expectXmlAnswer(r, written(kDescDocKind, writeDesc, model), kDefaultServerName, c.name);
            expectDescReparses(r.body, dev);
            EXPECT_EQ(calls().size(), asked) << c.name;
        } else {
            EXPECT_EQ(r.raw, statusOnly("404 Not Found")) << c.name;
            ASSERT_EQ(calls().size(), asked + 1) << c.name;
            EXPECT_EQ(calls().back().name, c.target) << c.name << ": the target exactly as received";
        }
        qnRemoveDevice(dev);
    }
}

TEST_F(FileService, ScpdsAtTheirUrls)
{
    uint16_t port = 0;
    QN_DEVICE dev = start(qntest::dataPath("fixtures/devices/minidlna"), "rootDesc.xml", "/", &port);
    auto *settings = static_cast<QNApiDevSettings *>(qnGetSettings(dev));
    ASSERT_NE(settings, nullptr);
    {
        // The application may rename its server while it runs.
        std::lock_guard guard(stackLock());
        copyBounded(settings->serverName, sizeof settings->serverName, "Test/1.0 UPnP/1.0 qnsdk/1");
    }
    for (const char *url : {"/ContentDir.xml", "/ConnectionMgr.xml", "/X_MS_MediaReceiverRegistrar.xml"}) {
        const QNScpd *model = nullptr;
        {
            std::lock_guard guard(stackLock());
            model = getScpdByScpdUrl(&entityDesc(dev)->device, url);
        }
        ASSERT_NE(model, nullptr) << url;
        Response r = get(port, url);
        expectXmlAnswer(r, written(kScpdDocKind, writeScpd, model), "Test/1.0 UPnP/1.0 qnsdk/1", url);
        expectScpdReparses(r.body, model);
    }
    EXPECT_TRUE(calls().empty());
    // The description keeps its dlna: leaf and namespace.
    Response r = get(port, "/rootDesc.xml");
    EXPECT_NE(r.body.find("<dlna:X_DLNADOC>DMS-1.50</dlna:X_DLNADOC>"), std::string::npos) << r.body;
    expectDescReparses(r.body, dev);
}

// Documents beyond the 16 KiB of a plain message buffer are served whole: a
// real AVTransport SCPD of 18 KiB and a description of about 36 KiB.
TEST_F(FileService, LargeDocumentsAreNotCut)
{
    std::string dir = testing::TempDir() + "/qn-file-large";
    ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    std::ofstream(dir + "/AVTransport2.xml") << qntest::fixture("scpd/AVTransport2.xml");
    std::string services;
    for (int i = 0; i < kMaxServices; ++i) {
        std::string n = std::to_string(i);
        services += "<service><serviceType>urn:schemas-upnp-org:service:AVTransport:" + n +
                    "</serviceType><serviceId>urn:upnp-org:serviceId:AVT" + n +
                    "</serviceId><SCPDURL>/AVTransport2.xml</SCPDURL><controlURL>/ctl/" + n +
                    "</controlURL><eventSubURL>/evt/" + n + "</eventSubURL>";
        for (int k = 0; k < 20; ++k)
            services += "<X_note" + std::to_string(k) + ">" + std::string(80, 'a' + k % 26) + "</X_note" +
                        std::to_string(k) + ">";
        services += "</service>";
    }
    std::ofstream(dir + "/big.xml") << "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                                       "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
                                       "<deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>"
                                       "<UDN>uuid:big</UDN><serviceList>"
                                    << services << "</serviceList></device></root>";
    uint16_t port = 0;
    QN_DEVICE dev = start(dir, "big.xml", "/", &port);
    ASSERT_NE(dev, QN_INVALID_DEVICE) << console;

    Response desc = get(port, "/big.xml");
    std::string want = written(kDescDocKind, writeDesc, static_cast<const QNRootDesc *>(entityDesc(dev)));
    EXPECT_GT(want.size(), 2u * 16384u);
    expectXmlAnswer(desc, want, kDefaultServerName, "description");
    expectDescReparses(desc.body, dev);

    const QNScpd *model = entityDesc(dev)->device.services[0]->scpd;
    Response scpd = get(port, "/AVTransport2.xml");
    want = written(kScpdDocKind, writeScpd, model);
    EXPECT_GT(want.size(), 16384u);
    expectXmlAnswer(scpd, want, kDefaultServerName, "scpd");
    expectScpdReparses(scpd.body, model);
}

// ---- Files of the application ---------------------------------------------------------

std::string allBytes(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return s;
}

TEST_F(FileService, ApplicationFilesInChunks)
{
    const std::string big = allBytes(50000);
    struct Case {
        const char *name;
        AppFile file;
        std::string body; // what the client must receive
        size_t calls;
    } cases[] = {
        {"whole buffers", {big}, big, 4}, // 3 x 16384 + 848: no call once fileSize is sent
        {"small pieces", {big, 7000}, big, 8},
        // Each claim is cut to the buffer and the last one to what is left.
        {"claims beyond the buffer", {big, 0, 1 << 30}, big, 4},
        {"never more than fileSize", {big, 0, 0, 100}, big.substr(0, 100), 1},
        {"application gives up midway", {big, 10000, 0, kContentSize, 2}, big.substr(0, 20000), 3},
        {"nothing delivered in a later call ends the file", {big, 0, -1}, "", 2},
        {"image sent as text/html", {std::string("\x89PNG\r\n\x1a\n\0", 9)}, std::string("\x89PNG\r\n\x1a\n\0", 9), 1},
    };
    uint16_t port = 0;
    start(exampleDir(), "BinaryLight.xml", "/", &port);
    for (const Case &c : cases) {
        serve("/files/data.bin", c.file);
        Response r = get(port, "/files/data.bin");
        int32_t size = c.file.fileSize != kContentSize ? c.file.fileSize : static_cast<int32_t>(c.file.content.size());
        EXPECT_EQ(r.head, "HTTP/1.1 200 OK\r\nServer: " + std::string(kDefaultServerName) +
                              "\r\nConnection: close\r\nContent-Length: " + std::to_string(size) +
                              "\r\nContent-Type: text/html")
            << c.name;
        EXPECT_TRUE(r.body == c.body) << c.name << ": " << r.body.size() << " bytes, want " << c.body.size();
        std::vector<FileCall> made = calls();
        EXPECT_EQ(made.size(), c.calls) << c.name;
        for (const FileCall &call : made)
            EXPECT_EQ(call.bufLen, kFileChunkSize) << c.name << ": every call offers the whole buffer";
    }
}

TEST_F(FileService, RefusedOrEmptyFilesAreNotFound)
{
    struct Case {
        const char *name;
        AppFile file;
    } cases[] = {
        {"refused", {"data", 0, 0, kContentSize, 0}},
        {"size 0", {"data", 0, 0, 0}},
        {"negative size", {"data", 0, 0, -5}},
        {"empty file", {""}},
    };
    uint16_t port = 0;
    start(exampleDir(), "BinaryLight.xml", "/", &port);
    for (const Case &c : cases) {
        serve("/page.html", c.file);
        EXPECT_EQ(get(port, "/page.html").raw, statusOnly("404 Not Found")) << c.name;
    }
    EXPECT_EQ(get(port, "/nothing-here").raw, statusOnly("404 Not Found"));
}

TEST_F(FileService, WithoutHandlerOnlyTheModelIsServed)
{
    uint16_t port = 0;
    QN_DEVICE dev = start(exampleDir(), "BinaryLight.xml", "/", &port);
    {
        std::lock_guard guard(stackLock());
        static_cast<QNApiDevSettings *>(qnGetSettings(dev))->msgHandler = nullptr;
    }
    EXPECT_EQ(get(port, "/page.html").raw, statusOnly("500 Internal Server Error"));
    EXPECT_NE(console.find(" internal error\r\n"), std::string::npos);
    EXPECT_EQ(get(port, "/SwitchPower.xml").statusLine(), "HTTP/1.1 200 OK");
}

// A handler that removes its own device while the file is asked for: the
// connection ends without an answer, and the server goes on serving.
TEST_F(FileService, DeviceRemovedByItsOwnHandler)
{
    uint16_t port = 0, other = 0;
    start(exampleDir(), "BinaryLight.xml", "/", &port);
    QN_DEVICE second = start(qntest::dataPath("fixtures/devices/network-light"), "network-light-desc.xml", "/", &other);
    AppFile file{"x"};
    file.removeDevice = true;
    serve("/remove", file);
    EXPECT_EQ(get(port, "/remove").raw, "");
    EXPECT_EQ(get(other, "/network-light-desc.xml").statusLine(), "HTTP/1.1 200 OK");
    EXPECT_NE(entityAt(second), nullptr);
}

// ---- Requests that are not served ------------------------------------------------------

// HEAD gets the head of GET and no body; a method that is no method of
// the table is not implemented; POST is the control role's, which takes
// no such path.
TEST_F(FileService, OnlyGetAndHeadAreAnswered)
{
    uint16_t port = 0;
    start(exampleDir(), "BinaryLight.xml", "/", &port);
    std::string whole = exchange("127.0.0.1", port, "GET /BinaryLight.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    std::string head = whole.substr(0, whole.find("\r\n\r\n") + 4);
    const struct {
        const char *method;
        std::string answer;
    } cases[] = {
        {"HEAD", head},
        {"POST", ""},
        {"PUT", "HTTP/1.1 501 Not Implemented\r\nServer: Corvanta UPnP Server, UPnP/1.0\r\nConnection: close\r\n"
                "Content-Length: 0\r\n\r\n"},
    };
    for (const auto &c : cases) {
        std::string request = std::string(c.method) + " /BinaryLight.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                                      "Content-Length: 0\r\n\r\n";
        EXPECT_EQ(exchange("127.0.0.1", port, request), c.answer) << c.method;
    }
    EXPECT_TRUE(calls().empty());
}

TEST_F(FileService, HostMustNameAnAddress)
{
    uint16_t port = 0;
    start(exampleDir(), "BinaryLight.xml", "/", &port);
    const std::string p = std::to_string(port);
    struct Case {
        const char *name;
        std::string hostLine; // empty: no Host header at all
        bool served;
    } cases[] = {
        {"address and port", "Host: 127.0.0.1:" + p, true},
        {"address", "Host: 127.0.0.1", true},
        {"another address", "Host: 10.77.0.1:" + p, true},
        {"no Host (HTTP/1.0)", "", true},
        {"localhost", "Host: localhost:" + p, false},
        {"a rebinding name", "Host: attacker.example", false},
        {"name that starts with digits", "Host: 127.0.0.1.example:" + p, false},
        {"IPv6 literal", "Host: [::1]:" + p, false},
        {"octet above 255", "Host: 127.0.0.256", false},
        {"port 0", "Host: 127.0.0.1:0", false},
    };
    for (const Case &c : cases) {
        std::string request = "GET /BinaryLight.xml HTTP/1.";
        request += c.hostLine.empty() ? "0\r\n" : "1\r\n" + c.hostLine + "\r\n";
        Response r(exchange("127.0.0.1", port, request + "\r\n"));
        if (c.served)
            EXPECT_EQ(r.statusLine(), "HTTP/1.1 200 OK") << c.name;
        else
            EXPECT_EQ(r.raw, statusOnly("400 Bad Request")) << c.name;
    }
    // A refused request never reaches the application.
    EXPECT_EQ(get(port, "/page.html", "evil.example").raw, statusOnly("400 Bad Request"));
    EXPECT_TRUE(calls().empty());
}

TEST(HostHeader, AddressLiteralsOnly)
{
    struct Case {
        const char *host;
        bool address;
    } cases[] = {
        {"192.168.1.20", true},
        {"192.168.1.20:49152", true},
        {"0.0.0.0:65535", true},
        {" 10.0.0.1:80 ", true},
        {"255.255.255.255", true},
        {"192.168.1.20:", false},
        {"192.168.1.20:65536", false},
        {"192.168.1.20:123456", false},
        {"192.168.1.20:8a", false},
        {"192.168.1", false},
        {"1.2.3.4.5", false},
        {"1..2.3", false},
        {"1.2.3.", false},
        {".1.2.3", false},
        {"1.2.3.1000", false},
        {"1.2.3.-1", false},
        {"0x7f.0.0.1", false},
        {"example.com", false},
        {"example.com:80", false},
        {"", false},
        {":80", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hostIsAddress(c.host), c.address) << "'" << c.host << "'";
    EXPECT_FALSE(hostIsAddress(nullptr));
}

// ---- Log lines ----------------------------------------------------------------------------

std::mutex logMutex;
std::string logText;
void recordLog(int32_t category, const char *text, int32_t)
{
    std::lock_guard guard(logMutex);
    logText += std::to_string(category) + ":" + text;
}

TEST_F(FileService, TransfersAreLogged)
{
    qnSetDebugSink(recordLog);
    qnSetDebugLevel(LOG_HTTP_XFER, 1, LOG_DETAIL);
    uint16_t port = 0;
    start(exampleDir(), "BinaryLight.xml", "/", &port);
    serve("/a", {"abc"});
    get(port, "/BinaryLight.xml");
    get(port, "/a");
    get(port, "/missing");
    qnSetDebugLevel(LOG_HTTP_XFER, 0, LOG_ERROR);
    qnSetDebugSink(nullptr);
    std::lock_guard guard(logMutex);
    for (const char *line : {"5:Sending file by R\r\n", "5:Getting file from user\r\n", "5:Sending file content\r\n",
                             "5:Sending http code\r\n"})
        EXPECT_NE(logText.find(line), std::string::npos) << line << " in " << logText;
}

} // namespace
