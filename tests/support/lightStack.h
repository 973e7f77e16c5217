// The stack with its server thread, the BinaryLight example as a device
// with a scripted application behind it, control points whose tracked
// description is filled in by hand (so that control and eventing can be
// tested without discovery), and a plain TCP peer that records what the
// stack sends it and answers with canned bytes. Header only: each test
// program that uses it includes it once.
#pragma once

#include "desc.h"
#include "entity.h"
#include "handTracked.h"
#include "log.h"
#include "netns.h"
#include "qnSdkApi.h"
#include "rawnet.h"
#include "server.h"
#include "text.h"
#include "wireCapture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qntest {

inline std::string lightDir() { return std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight"; }
inline constexpr const char *kSwitchPower = "urn:schemas-upnp-org:service:SwitchPower:1";

// A folder of device files for a test: the example light's files, with
// any of them replaced or added; removed with the object.
class DeviceDir {
public:
    explicit DeviceDir(const std::vector<std::pair<std::string, std::string>> &files = {})
    {
        char pattern[] = "/tmp/qnsdk-device-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        dir_ = pattern;
        for (const char *name : {"BinaryLight.xml", "SwitchPower.xml"})
            std::filesystem::copy_file(lightDir() + "/" + name, dir_ + "/" + name);
        for (const auto &[name, text] : files)
            std::ofstream(dir_ + "/" + name, std::ios::binary | std::ios::trunc) << text;
    }
    ~DeviceDir()
    {
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }
    DeviceDir(const DeviceDir &) = delete;
    DeviceDir &operator=(const DeviceDir &) = delete;
    const std::string &path() const { return dir_; }

private:
    std::string dir_;
};

// ---- The console --------------------------------------------------------------------

inline std::mutex consoleMutex;
inline std::string consoleText;
inline void recordConsole(const char *text)
{
    std::lock_guard guard(consoleMutex);
    consoleText += text;
}
inline std::string console()
{
    std::lock_guard guard(consoleMutex);
    return consoleText;
}
// Waits until the console shows text (the server thread writes it).
inline bool waitForConsole(const std::string &text, int waitMs = 3000)
{
    for (int i = 0; i < waitMs / 10; ++i) {
        if (console().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return console().find(text) != std::string::npos;
}
inline void clearConsole()
{
    std::lock_guard guard(consoleMutex);
    consoleText.clear();
}

// ---- The light's application ----------------------------------------------------------

struct LightApp {
    std::mutex mutex;
    std::string target = "0";
    std::string status = "0";
    bool refuseActions = false;
    bool refuseVars = false;
    bool refuseSubscribe = false;
    bool removeOnAction = false;   // the handler removes its own device
    bool echoArgs = false;         // answer with the request's pairs
    bool notifyOnSet = false;      // SetTarget sends an event with qnDevNotify
    uint16_t refuseCode = 0;       // with refuseActions: the UPnP error the handler names
    std::string refuseDesc;
    std::vector<std::string> calls; // "action X a=1", "var X", "subscribe TEXT"

    void reset()
    {
        std::lock_guard guard(mutex);
        target = status = "0";
        refuseActions = refuseVars = refuseSubscribe = removeOnAction = echoArgs = notifyOnSet = false;
        refuseCode = 0;
        refuseDesc.clear();
        calls.clear();
    }
    std::vector<std::string> callList()
    {
        std::lock_guard guard(mutex);
        return calls;
    }
};
inline LightApp lightApp;

inline QN_RET lightAction(QN_ENTITY device, QNApiAction *a)
{
    std::unique_lock guard(lightApp.mutex);
    std::string call = std::string("action ") + a->action;
    for (int i = 0; i < a->argNum; ++i)
        call += std::string(" ") + a->argNV[i].name + "=" + a->argNV[i].val;
    lightApp.calls.push_back(call);
    if (lightApp.removeOnAction) {
        guard.unlock();
        qnRemoveDevice(device);
        return QN_OK;
    }
    if (lightApp.refuseActions) {
        a->errCode = lightApp.refuseCode;
        qnSetNVVal(a->errDesc, lightApp.refuseDesc.c_str());
        return QN_ERR;
    }
    if (lightApp.echoArgs)
        return QN_OK;
    std::string name = a->action;
    if (name == "SetTarget" && a->argNum == 1) {
        lightApp.target = lightApp.status = a->argNV[0].val;
        a->argNum = 0;
        if (lightApp.notifyOnSet) {
            QNNameVal status{};
            qnSetNVNameVal(&status, "Status", lightApp.status.c_str());
            guard.unlock();
            qnDevNotify(device, kSwitchPower, &status, 1);
        }
        return QN_OK;
    }
    if (name == "GetTarget" || name == "GetStatus") {
        bool isTarget = name == "GetTarget";
        qnSetNVNameVal(&a->argNV[0], isTarget ? "RetTargetValue" : "ResultStatus",
                       (isTarget ? lightApp.target : lightApp.status).c_str());
        a->argNum = 1;
        return QN_OK;
    }
    return QN_ERR;
}

inline QN_RET lightHandler(QN_ENTITY device, int32_t type, QN_COOKIE, void *arg)
{
    if (type == MT_DEV_ACTION)
        return lightAction(device, static_cast<QNApiAction *>(arg));
    std::lock_guard guard(lightApp.mutex);
    if (type == MT_DEV_GET_VAR) {
        auto *nv = static_cast<QNNameVal *>(arg);
        lightApp.calls.push_back(std::string("var ") + nv->name);
        if (lightApp.refuseVars)
            return QN_ERR;
        std::string name = nv->name;
        qnSetNVVal(nv->val, name == "Target" ? lightApp.target.c_str() : lightApp.status.c_str());
        return QN_OK;
    }
    if (type == MT_DEV_SUBSCRIBE) {
        lightApp.calls.push_back(std::string("subscribe ") + static_cast<const char *>(arg));
        return lightApp.refuseSubscribe ? QN_ERR : QN_OK;
    }
    return QN_OK;
}

// ---- Events a control point received ---------------------------------------------------

struct ReceivedEvent {
    QN_ENTITY cp;
    std::string sid;
    std::vector<std::pair<std::string, std::string>> vars;
};

struct EventLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<ReceivedEvent> events;
    QN_RET answer = QN_OK;

    void reset()
    {
        std::lock_guard guard(mutex);
        events.clear();
        answer = QN_OK;
    }
    // Waits until at least n events arrived; returns them.
    std::vector<ReceivedEvent> waitFor(size_t n, int waitMs = 5000)
    {
        std::unique_lock guard(mutex);
        changed.wait_for(guard, std::chrono::milliseconds(waitMs), [&] { return events.size() >= n; });
        return events;
    }
};
inline EventLog eventLog;

inline QN_RET cpHandler(QN_ENTITY cp, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_CP_EVENT)
        return QN_OK;
    auto *event = static_cast<QNApiEvent *>(arg);
    ReceivedEvent got{cp, event->errDesc, {}};
    for (int i = 0; i < event->argNum; ++i)
        got.vars.emplace_back(event->argNV[i].name, event->argNV[i].val);
    std::lock_guard guard(eventLog.mutex);
    eventLog.events.push_back(got);
    eventLog.changed.notify_all();
    return eventLog.answer;
}

// The BinaryLight example at addr: control and events on soapPort, its
// files (dir holds BinaryLight.xml and the SCPD it names) on httpPort.
inline QNApiDevSettings lightSettings(const char *addr, uint16_t soapPort, uint16_t httpPort, QNMsgHandler handler,
                                      const std::string &dir = lightDir())
{
    QNApiDevSettings s{};
    copyBounded(s.ipAddr, sizeof s.ipAddr, addr);
    s.soapPort = soapPort;
    s.httpPort = httpPort;
    copyBounded(s.localPath, sizeof s.localPath, dir);
    copyBounded(s.webPath, sizeof s.webPath, "/");
    copyBounded(s.descFile, sizeof s.descFile, "BinaryLight.xml");
    s.msgHandler = handler;
    s.adPeriod = 20;
    return s;
}

// ---- Control points tracked by hand ------------------------------------------------------

inline QNApiCtrlPointSettings cpSettings(const std::string &descUrl, uint16_t eventPort,
                                        const char *ipAddr = "127.0.0.1")
{
    QNApiCtrlPointSettings s{};
    s.cpType = 2;
    copyBounded(s.descFile, sizeof s.descFile, descUrl);
    s.notifyApp = 1;
    copyBounded(s.ipAddr, sizeof s.ipAddr, ipAddr);
    s.eventPort = eventPort;
    copyBounded(s.eventPath, sizeof s.eventPath, "/eventCB");
    s.msgHandler = cpHandler;
    return s;
}

// ---- The fixture ---------------------------------------------------------------------------

// The server thread runs on the 64 KiB stack generated programs give it,
// so that a role that puts a large record on the stack fails here.
// Sanitizer builds need more room for their own bookkeeping.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr size_t kServerStack = 1 << 20;
#else
inline constexpr size_t kServerStack = 64 * 1024;
#endif
inline pthread_t serverThread;
inline bool serverStarted = false;

inline QN_RET startServerThread(QNThreadEntry entry, int32_t)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kServerStack);
    int rc = pthread_create(&serverThread, &attr, entry, nullptr);
    pthread_attr_destroy(&attr);
    serverStarted = rc == 0;
    return rc == 0 ? QN_OK : QN_ERR;
}

class LightStack : public testing::Test {
protected:
    void SetUp() override
    {
        clearConsole();
        lightApp.reset();
        eventLog.reset();
        setConsoleSink(recordConsole);
        QNApiSdkConfig config{1, 0, static_cast<int32_t>(kServerStack), startServerThread, 0, 0};
        ASSERT_EQ(qnSdkInit(&config), QN_OK);
        ASSERT_EQ(qnSdkRun(), QN_OK);
    }
    void TearDown() override
    {
        qnSdkStop();
        if (serverStarted)
            pthread_join(serverThread, nullptr);
        serverStarted = false;
        qnSdkClean();
        setConsoleSink(nullptr);
    }

    // The BinaryLight example at addr on a port of its own, running.
    QN_DEVICE addLight(uint16_t *port, const char *addr = "127.0.0.1", const std::string &dir = lightDir())
    {
        *port = freePort();
        return addLightAt(addr, *port, dir);
    }

    // dir holds BinaryLight.xml and the SCPD it names.
    QN_DEVICE addLightAt(const char *addr, uint16_t port, const std::string &dir = lightDir())
    {
        QNApiDevSettings s = lightSettings(addr, port, port, lightHandler, dir);
        QN_DEVICE dev = qnAddDevice(&s);
        EXPECT_NE(dev, QN_INVALID_DEVICE) << console();
        EXPECT_EQ(qnChangeEntityState(dev, ES_RUNNING), QN_OK);
        return dev;
    }

    // A control point that tracks the light at addr:port (filled by hand).
    QN_CONTROL_POINT addTracker(const char *addr, uint16_t port, uint16_t *eventPort = nullptr,
                                const std::string &descPath = lightDir() + "/BinaryLight.xml")
    {
        uint16_t events = freePort();
        if (eventPort != nullptr)
            *eventPort = events;
        std::string url = "http://" + std::string(addr) + ":" + std::to_string(port) + "/BinaryLight.xml";
        QNApiCtrlPointSettings s = cpSettings(url, events);
        QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
        EXPECT_NE(cp, QN_INVALID_CONTROL_POINT);
        EXPECT_TRUE(trackByHand(cp, descPath, addr, port));
        return cp;
    }
};

// ---- A plain TCP peer -------------------------------------------------------------------

// Accepts connections on addr (a free port, or the given one), reads one
// request from each (headers and Content-Length bytes, or until the peer
// closes or pauses), records it, and answers with the response it was
// given (none when empty) after an optional wait, then closes.
class FakePeer {
public:
    explicit FakePeer(const char *addr = kFirstAddr, uint16_t port = 0, int backlog = 16)
    {
        fd_ = listenTcp(addr, port, backlog);
        sockaddr_in sa{};
        socklen_t size = sizeof sa;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &size);
        port_ = ntohs(sa.sin_port);
    }
    ~FakePeer() { stop(); }
    FakePeer(const FakePeer &) = delete;
    FakePeer &operator=(const FakePeer &) = delete;

    uint16_t port() const { return port_; }

    // Starts serving; before() runs after a request was read, before the answer.
    void serve(std::string response, std::function<void()> before = {})
    {
        response_ = std::move(response);
        before_ = std::move(before);
        running_ = true;
        thread_ = std::thread([this] { loop(); });
    }
    void stop()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    std::vector<std::string> requests(size_t atLeast = 0, int waitMs = 5000)
    {
        std::unique_lock guard(mutex_);
        changed_.wait_for(guard, std::chrono::milliseconds(waitMs), [&] { return requests_.size() >= atLeast; });
        return requests_;
    }

private:
    static std::string readRequest(int fd)
    {
        std::string text;
        char buf[8192];
        for (;;) {
            size_t headEnd = text.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                size_t length = 0;
                size_t at = text.find("Content-Length: ");
                if (at == std::string::npos)
                    at = text.find("CONTENT-LENGTH: ");
                if (at != std::string::npos && at < headEnd)
                    length = std::stoul(text.substr(at + 16));
                if (text.size() >= headEnd + 4 + length)
                    return text;
            }
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
                return text;
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return text;
            text.append(buf, static_cast<size_t>(n));
        }
    }
    void loop()
    {
        while (running_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int conn = accept(fd_, nullptr, nullptr);
            if (conn < 0)
                continue;
            std::string request = readRequest(conn);
            {
                std::lock_guard guard(mutex_);
                requests_.push_back(request);
                changed_.notify_all();
            }
            if (before_)
                before_();
            if (!response_.empty())
                (void)::send(conn, response_.data(), response_.size(), MSG_NOSIGNAL);
            close(conn);
        }
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    std::string response_;
    std::function<void()> before_;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> requests_;
};

} // namespace qntest
