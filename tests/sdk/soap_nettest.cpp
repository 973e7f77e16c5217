// SOAP control on real sockets: the stack's control point against the
// stack's device, against a plain peer that records its requests and
// answers with bytes captured from MiniDLNA and GUPnP, and the device
// against raw and hostile clients.
#include "actionRecord.h"
#include "lightStack.h"
#include "soapWrite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace qntest;

const std::string kHead = kSoapEnvelopeHead;
const std::string kTail = kSoapEnvelopeTail;

QNApiAction action(const char *name, const std::vector<std::pair<std::string, std::string>> &args = {})
{
    return makeAction(name, args, AD_IN);
}

QNApiAction queryOf(const char *var)
{
    QNApiAction a{};
    qnSetNVNameVal(&a.argNV[0], var, "");
    a.argNum = 1;
    return a;
}

std::string post(uint16_t port, const std::string &path, const std::string &soapAction, const std::string &body,
                 const std::string &host = "")
{
    std::string hostValue = host.empty() ? "127.0.0.1:" + std::to_string(port) : host;
    std::string request = "POST " + path + " HTTP/1.1\r\nHost: " + hostValue + "\r\n";
    if (!soapAction.empty())
        request += "SOAPAction: " + soapAction + "\r\n";
    request += "Content-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    return exchange("127.0.0.1", port, request);
}

std::string envelopeOf(const std::string &call)
{
    return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>" +
           call + "</s:Body></s:Envelope>";
}

std::string setTargetBody(const char *value = "1")
{
    return envelopeOf("<u:SetTarget xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\"><newTargetValue>" +
                      std::string(value) + "</newTargetValue></u:SetTarget>");
}

const std::string kSetTarget = "\"urn:schemas-upnp-org:service:SwitchPower:1#SetTarget\"";

// The answer of the stack's device as it must look on the wire.
std::string deviceAnswer(int status, const std::string &body)
{
    std::string reason = status == 200 ? "OK" : "Internal Server Error";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nServer: Corvanta UPnP Server, UPnP/1.0\r\n"
           "Connection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kFaultBody = kHead +
                               "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode><faultstring>UPnPError"
                               "</faultstring><detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">"
                               "<errorCode>501</errorCode><errorDescription>XML error</errorDescription>"
                               "</UPnPError></detail></SOAP-ENV:Fault>" +
                               kTail;

class Soap : public LightStack {};

// ---- The stack on both sides ---------------------------------------------------------

TEST_F(Soap, ControlPointDrivesTheDevice)
{
    uint16_t port = 0;
    addLight(&port);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);

    QNApiAction set = action("SetTarget", {{"newTargetValue", "1"}});
    ASSERT_EQ(qnCPSoapAction(cp, kSwitchPower, &set), QN_OK) << console();
    EXPECT_EQ(set.errCode, 200);
    EXPECT_STREQ(set.errDesc, "OK");
    EXPECT_STREQ(set.action, "SetTarget");
    EXPECT_EQ(set.argNum, 0);
    EXPECT_EQ(set.argDirection[0], AD_IN); // the caller's directions stay

    QNApiAction get = action("GetStatus");
    ASSERT_EQ(qnCPSoapAction(cp, kSwitchPower, &get), QN_OK);
    ASSERT_EQ(get.argNum, 1);
    EXPECT_STREQ(get.argNV[0].name, "ResultStatus");
    EXPECT_STREQ(get.argNV[0].val, "1");

    QNApiAction query = queryOf("Status");
    ASSERT_EQ(qnCPSoapQuery(cp, kSwitchPower, &query), QN_OK);
    EXPECT_STREQ(query.action, "QueryStateVariableResponse");
    ASSERT_EQ(query.argNum, 1);
    EXPECT_STREQ(query.argNV[0].name, "return");
    EXPECT_STREQ(query.argNV[0].val, "1");

    // A variable the SCPD does not define is refused before the application is asked.
    QNApiAction other = queryOf("NotInTheScpd");
    EXPECT_EQ(qnCPSoapQuery(cp, kSwitchPower, &other), QN_ERR);
    ASSERT_EQ(other.argNum, 4);
    EXPECT_STREQ(other.argNV[2].val, "404");
    EXPECT_STREQ(other.argNV[3].val, "Invalid Var");
    EXPECT_EQ(lightApp.callList(),
              (std::vector<std::string>{"action SetTarget newTargetValue=1", "action GetStatus", "var Status"}));
}

// UDA 1.0's errors for requests the SCPD does not allow, answered before the
// application is asked, and the application's own errors.
TEST_F(Soap, FaultsCarryTheUpnpErrorOfTheRefusal)
{
    uint16_t port = 0;
    addLight(&port);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);
    struct Case {
        const char *name;
        QNApiAction request;
        uint16_t handlerCode; // the handler refuses, naming this error (0: none)
        const char *handlerDesc;
        const char *code;
        const char *desc;
        bool handlerAsked;
    };
    const Case cases[] = {
        {"undefined action", action("Dim"), 0, "", "401", "Invalid Action", false},
        {"in-argument missing", action("SetTarget"), 0, "", "402", "Invalid Args", false},
        {"unknown in-argument", action("SetTarget", {{"newTargetValue", "1"}, {"Extra", "x"}}), 0, "", "402",
         "Invalid Args", false},
        {"in-argument twice", action("SetTarget", {{"newTargetValue", "1"}, {"newTargetValue", "0"}}), 0, "",
         "402", "Invalid Args", false},
        {"out-argument sent in", action("GetStatus", {{"ResultStatus", "1"}}), 0, "", "402", "Invalid Args",
         false},
        {"handler's own error", action("SetTarget", {{"newTargetValue", "1"}}), 701, "Transition not available",
         "701", "Transition not available", true},
        {"handler's error, escaped", action("SetTarget", {{"newTargetValue", "x"}}), 600, "Value <&> invalid",
         "600", "Value <&> invalid", true},
        {"handler names no error", action("SetTarget", {{"newTargetValue", "1"}}), 0, "", "501", "XML error", true},
    };
    for (const Case &c : cases) {
        lightApp.reset();
        lightApp.refuseActions = true;
        lightApp.refuseCode = c.handlerCode;
        lightApp.refuseDesc = c.handlerDesc;
        QNApiAction a = c.request;
        ASSERT_EQ(qnCPSoapAction(cp, kSwitchPower, &a), QN_ERR) << c.name;
        EXPECT_EQ(a.errCode, 500) << c.name;
        ASSERT_EQ(a.argNum, 4) << c.name;
        EXPECT_STREQ(a.argNV[2].val, c.code) << c.name;
        EXPECT_STREQ(a.argNV[3].val, c.desc) << c.name;
        EXPECT_EQ(lightApp.callList().size(), c.handlerAsked ? 1u : 0u) << c.name;
    }    // Argument elements that carry the action's prefix are matched by their local names.
    lightApp.reset();
    std::string prefixed = post(port, "/SwitchPower/control", kSetTarget,
                                envelopeOf("<u:SetTarget xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\">"
                                           "<u:newTargetValue>1</u:newTargetValue></u:SetTarget>"));
    EXPECT_EQ(prefixed.rfind("HTTP/1.1 200", 0), 0u) << prefixed;
}

TEST_F(Soap, RefusedActionIsAFaultWithStatus500)
{
    uint16_t port = 0;
    addLight(&port);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);
    lightApp.refuseActions = true;
    lightApp.refuseVars = true;
    QNApiAction set = action("SetTarget", {{"newTargetValue", "1"}});
    ASSERT_EQ(qnCPSoapAction(cp, kSwitchPower, &set), QN_ERR);
    EXPECT_EQ(set.errCode, 500);
    EXPECT_STREQ(set.errDesc, "Internal Server Error");
    EXPECT_STREQ(set.action, "SetTarget");
    ASSERT_EQ(set.argNum, 4);
    EXPECT_STREQ(set.argNV[0].val, "SOAP-ENV:Client");
    EXPECT_STREQ(set.argNV[2].name, "errorCode");
    EXPECT_STREQ(set.argNV[2].val, "501");
    EXPECT_STREQ(set.argNV[3].val, "XML error");

    QNApiAction query = queryOf("Status");
    EXPECT_EQ(qnCPSoapQuery(cp, kSwitchPower, &query), QN_ERR);
    EXPECT_STREQ(query.action, "Fault");
}

// Sixteen pairs of the longest names and values, full of markup, go to the
// device and come back unchanged: nothing is cut or mangled on the way.
TEST_F(Soap, WholeRecordCrossesTheWireUnchanged)
{
    QNApiAction a = action("Echo");
    std::string echo = "<action><name>Echo</name><argumentList>";
    for (int i = 0; i < QN_ARG_MAX_NUM; ++i) {
        std::string name = "Arg" + std::to_string(i) + std::string(QN_NAME_MAX_LEN - 6, 'n');
        std::string value = "<&>" + std::to_string(i) + std::string(QN_VAL_MAX_LEN - 6, i % 2 ? '&' : '<');
        qnSetNVNameVal(&a.argNV[i], name.c_str(), value.c_str());
        // The SCPD lists them in the opposite order: they are matched by name
        // and handed to the application in the SCPD's order.
        echo.insert(echo.find("<argumentList>") + 14,
                    "<argument><name>" + name + "</name><direction>in</direction></argument>");
    }
    a.argNum = QN_ARG_MAX_NUM;
    std::string scpd = readWholeFile(lightDir() + "/SwitchPower.xml");
    scpd.insert(scpd.find("<actionList>") + 12, echo + "</argumentList></action>");
    DeviceDir dir({{"SwitchPower.xml", scpd}});
    uint16_t port = 0;
    addLight(&port, "127.0.0.1", dir.path());
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);
    lightApp.echoArgs = true;
    QNApiAction sent = a;
    ASSERT_EQ(qnCPSoapAction(cp, kSwitchPower, &a), QN_OK) << console();
    ASSERT_EQ(a.argNum, QN_ARG_MAX_NUM);
    // The handler saw (and echoed) them in the SCPD's order.
    for (int i = 0; i < QN_ARG_MAX_NUM; ++i) {
        EXPECT_STREQ(a.argNV[i].name, sent.argNV[QN_ARG_MAX_NUM - 1 - i].name) << i;
        EXPECT_STREQ(a.argNV[i].val, sent.argNV[QN_ARG_MAX_NUM - 1 - i].val) << i;
    }
    EXPECT_NE(console().find(" action->argNum = 16\r\n"), std::string::npos);
}

TEST_F(Soap, ArgumentAndStateChecks)
{
    uint16_t port = 0;
    QN_DEVICE dev = addLight(&port);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);
    QNApiCtrlPointSettings s = cpSettings("http://127.0.0.1:1/d.xml", freePort());
    QN_CONTROL_POINT untracked = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    qnChangeEntityState(untracked, ES_RUNNING);
    uint16_t closedPort = freePort();
    QN_CONTROL_POINT unreachable = addTracker("127.0.0.1", closedPort);

    QNApiAction two = queryOf("Status");
    two.argNum = 2;
    QNApiAction unnamed = queryOf("");
    struct Case {
        const char *name;
        QN_CONTROL_POINT cp;
        const char *type;
        QNApiAction record;
        bool query;
        QN_RET expected;
    };
    const Case cases[] = {
        {"a device is not a control point", dev, kSwitchPower, action("GetStatus"), false, QN_ERR_ARG},
        {"no such entity", 16, kSwitchPower, action("GetStatus"), false, QN_ERR_ARG},
        {"empty action name", cp, kSwitchPower, action(""), false, QN_ERR_ARG},
        {"no service of that type", cp, "urn:x:service:None:1", action("GetStatus"), false, QN_ERR_ARG},
        {"query of two variables", cp, kSwitchPower, two, true, QN_ERR_ARG},
        {"query of a variable without a name", cp, kSwitchPower, unnamed, true, QN_ERR_ARG},
        {"nothing tracked yet", untracked, kSwitchPower, action("GetStatus"), false, QN_ERR_NO_DEVICE},
        {"connection refused", unreachable, kSwitchPower, action("GetStatus"), false, QN_ERR_SOCK},
        {"query, connection refused", unreachable, kSwitchPower, queryOf("Status"), true, QN_ERR_SOCK},
    };
    for (const Case &c : cases) {
        QNApiAction record = c.record;
        copyBounded(record.errDesc, sizeof record.errDesc, "untouched");
        QN_RET rc = c.query ? qnCPSoapQuery(c.cp, c.type, &record) : qnCPSoapAction(c.cp, c.type, &record);
        EXPECT_EQ(rc, c.expected) << c.name;
        if (rc == QN_ERR_ARG && c.cp != cp) {
            EXPECT_STREQ(record.errDesc, "untouched") << c.name;
        }
    }
    EXPECT_NE(console().find(" dev not found\r\n"), std::string::npos);
    EXPECT_TRUE(lightApp.callList().empty());

    // A service without controlURL; an inactive root; a stopped SOAP client.
    {
        std::lock_guard guard(stackLock());
        QNServDesc *serv = entityDesc(cp)->device.services[0];
        for (int i = 0; i < serv->fieldCount; ++i)
            if (std::strcmp(serv->fields[i].name, "controlURL") == 0)
                serv->fields[i].val[0] = '\0';
    }
    QNApiAction get = action("GetStatus");
    EXPECT_EQ(qnCPSoapAction(cp, kSwitchPower, &get), QN_ERR_NO_URL);
    entityDesc(unreachable)->device.lastActive = 0;
    EXPECT_EQ(qnCPSoapAction(unreachable, kSwitchPower, &get), QN_ERR_NO_DEVICE);
    qnChangeEntityState(cp, ES_STOPPED);
    EXPECT_EQ(qnCPSoapAction(cp, kSwitchPower, &get), QN_ERR_NO_DEVICE);
}

// ---- The control point's bytes, and real peers' answers -------------------------------------

TEST_F(Soap, ControlPointRequestsByteForByte)
{
    FakePeer peer;
    std::vector<std::string> captured = wireMessages(dataPath("wire/network-light/soap-action.txt"));
    ASSERT_EQ(captured.size(), 2u);
    peer.serve(captured[1]);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", peer.port());
    std::string host = "127.0.0.1:" + std::to_string(peer.port());

    QNApiAction set = action("SetTarget", {{"newTargetValue", "1"}, {"Empty", ""}});
    EXPECT_EQ(qnCPSoapAction(cp, kSwitchPower, &set), QN_OK);
    QNApiAction get = action("GetStatus");
    EXPECT_EQ(qnCPSoapAction(cp, kSwitchPower, &get), QN_OK);
    QNApiAction query = queryOf("Status");
    EXPECT_EQ(qnCPSoapQuery(cp, kSwitchPower, &query), QN_OK); // one value: whatever its name
    std::vector<std::string> requests = peer.requests(3);
    ASSERT_EQ(requests.size(), 3u);

    auto actionRequest = [&](const std::string &name, const std::string &body) {
        return "POST /SwitchPower/control HTTP/1.1\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"
               "SOAPAction: \"urn:schemas-upnp-org:service:SwitchPower:1#" +
               name + "\"\r\nUser-Agent: Corvanta UPnP Server, UPnP/1.0\r\nHost: " + host +
               "\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\nPragma: no-cache\r\n\r\n" + body;
    };
    std::string setBody = kHead + "<u:SetTarget xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\">"
                                  "<newTargetValue>1</newTargetValue>\n<Empty />\n</u:SetTarget>" + kTail;
    std::string getBody = kHead + "<u:GetStatus xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\" />\n" + kTail;
    EXPECT_EQ(requests[0], actionRequest("SetTarget", setBody));
    EXPECT_EQ(requests[1], actionRequest("GetStatus", getBody));
    std::string queryBody = kHead +
                            "<u:QueryStateVariable xmlns:u=\"urn:schemas-upnp-org:control-1-0\"><u:varName>Status"
                            "</u:varName></u:QueryStateVariable>" +
                            kTail;
    EXPECT_EQ(requests[2], "POST /SwitchPower/control HTTP/1.1\r\nHost: " + host +
                               "\r\nSOAPAction: \"urn:schemas-upnp-org:control-1-0#QueryStateVariable\"\r\n"
                               "User-Agent: Corvanta UPnP Server, UPnP/1.0\r\nContent-Type: text/xml; "
                               "charset=\"utf-8\"\r\nContent-Length: " +
                               std::to_string(queryBody.size()) + "\r\nConnection: close\r\nPragma: no-cache\r\n\r\n" +
                               queryBody);
}

std::string response(const std::string &file)
{
    std::vector<std::string> messages = wireMessages(dataPath("wire/" + file));
    return messages.size() == 2 ? messages[1] : "";
}

TEST_F(Soap, ControlPointReadsPeersAnswers)
{
    struct Case {
        const char *name;
        std::string answer;
        QN_RET expected;
        uint16_t status;
        std::vector<std::pair<std::string, std::string>> args;
    };
    std::string chunkedBody = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
                              "<u:GetStatusResponse xmlns:u=\"urn:x\"><ResultStatus>1</ResultStatus>"
                              "</u:GetStatusResponse></s:Body></s:Envelope>";
    const Case cases[] = {
        {"GUPnP answer, connection kept open", response("network-light/soap-action.txt"), QN_OK, 200,
         {{"RetTargetValue", "0"}}},
        {"GUPnP fault with status 500", response("network-light/soap-fault-unknown-action.txt"), QN_ERR, 500,
         {{"faultcode", "s:Client"}, {"faultstring", "UPnPError"}, {"errorCode", "401"},
          {"errorDescription", "Invalid Action"}}},
        {"MiniDLNA answer", response("minidlna/soap-action.txt"), QN_OK, 200,
         {{"SearchCaps", "dc:creator,dc:date,dc:title,upnp:album,upnp:actor,upnp:artist,upnp:class,upnp:genre,"
                         "@id,@parentID,@refID"}}},
        {"MiniDLNA fault", response("minidlna/soap-fault-unknown-action.txt"), QN_ERR, 500,
         {{"faultcode", "s:Client"}, {"faultstring", "UPnPError"}, {"errorCode", "401"},
          {"errorDescription", "Invalid Action"}}},
        {"chunked answer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n" + chunkedBody.substr(0, 16) + "\r\n" +
             [&] {
                 std::string rest = chunkedBody.substr(16);
                 char size[16];
                 std::snprintf(size, sizeof size, "%zx", rest.size());
                 return std::string(size) + "\r\n" + rest + "\r\n0\r\n\r\n";
             }(),
         QN_OK, 200, {{"ResultStatus", "1"}}},
        {"not found, no body", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", -500, 404, {}},
        {"not HTTP at all", "hello\r\n\r\n", -1, 0, {}},
    };
    for (const Case &c : cases) {
        FakePeer peer;
        peer.serve(c.answer);
        QN_CONTROL_POINT cp = addTracker("127.0.0.1", peer.port());
        QNApiAction get = action("GetTarget");
        get.argDirection[0] = AD_OUT;
        EXPECT_EQ(qnCPSoapAction(cp, kSwitchPower, &get), c.expected) << c.name;
        EXPECT_EQ(get.errCode, c.status) << c.name;
        EXPECT_STREQ(get.action, "GetTarget") << c.name;
        EXPECT_EQ(get.argDirection[0], AD_OUT) << c.name;
        ASSERT_EQ(get.argNum, c.args.size()) << c.name;
        for (size_t i = 0; i < c.args.size(); ++i) {
            EXPECT_EQ(get.argNV[i].name, c.args[i].first) << c.name;
            EXPECT_EQ(get.argNV[i].val, c.args[i].second) << c.name;
        }
        qnRemoveCtrlPoint(cp);
    }
}

// A peer that keeps its connection open after a complete answer does not
// hold the call: the read ends at Content-Length.
TEST_F(Soap, AnswerEndsAtItsLength)
{
    std::atomic<bool> answered{false};
    std::atomic<bool> returned{false};
    std::string answer = response("network-light/soap-action.txt");
    // A peer that answers, then keeps the connection open.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    listen(fd, 4);
    socklen_t size = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &size);
    std::thread holder([&] {
        int conn = accept(fd, nullptr, nullptr);
        char buf[4096];
        (void)recv(conn, buf, sizeof buf, 0);
        (void)send(conn, answer.data(), answer.size(), MSG_NOSIGNAL);
        answered = true;
        // Hold the connection until the call has returned (or 10 s).
        for (int i = 0; i < 1000 && !returned; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        close(conn);
    });
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", ntohs(sa.sin_port));
    QNApiAction get = action("GetTarget");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qnCPSoapAction(cp, kSwitchPower, &get), QN_OK);
    returned = true;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    holder.join();
    close(fd);
    EXPECT_TRUE(answered);
}

// The call waits for the device without the stack lock: the peer answers
// only once another thread has taken the lock while the call was waiting.
TEST_F(Soap, CallDoesNotHoldTheStackLockWhileWaiting)
{
    FakePeer peer;
    std::atomic<bool> lockTaken{false};
    peer.serve(response("network-light/soap-action.txt"), [&] {
        std::unique_lock lock(stackLock(), std::defer_lock);
        for (int i = 0; i < 300 && !lock.owns_lock(); ++i)
            if (!lock.try_lock())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lockTaken = lock.owns_lock();
    });
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", peer.port());
    QNApiAction get = action("GetTarget");
    EXPECT_EQ(qnCPSoapAction(cp, kSwitchPower, &get), QN_OK);
    EXPECT_TRUE(lockTaken);
}

// Two threads call through one control point at once; each call has its
// own connection and buffers.
TEST_F(Soap, OverlappingCallsOnOneControlPoint)
{
    uint16_t port = 0;
    addLight(&port);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);
    std::atomic<int> ok{0};
    auto caller = [&](const char *value) {
        for (int i = 0; i < 25; ++i) {
            QNApiAction set = action("SetTarget", {{"newTargetValue", value}});
            QNApiAction query = queryOf("Target");
            if (qnCPSoapAction(cp, kSwitchPower, &set) == QN_OK && qnCPSoapQuery(cp, kSwitchPower, &query) == QN_OK &&
                (std::string(query.argNV[0].val) == "0" || std::string(query.argNV[0].val) == "1"))
                ++ok;
        }
    };
    std::thread a(caller, "0"), b(caller, "1");
    a.join();
    b.join();
    EXPECT_EQ(ok, 50);
}

// ---- The device against raw clients ------------------------------------------------------------

TEST_F(Soap, DeviceAnswersByteForByte)
{
    uint16_t port = 0;
    addLight(&port);
    std::string set = post(port, "/SwitchPower/control", kSetTarget, setTargetBody("1"));
    EXPECT_EQ(set, deviceAnswer(200, kHead +
                                         "<u:SetTargetResponse xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\">"
                                         "</u:SetTargetResponse>" +
                                         kTail));
    std::string get = post(port, "/SwitchPower/control", "urn:schemas-upnp-org:service:SwitchPower:1#GetStatus",
                           envelopeOf("<u:GetStatus xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\"/>"));
    EXPECT_EQ(get, deviceAnswer(200, kHead +
                                         "<u:GetStatusResponse xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\">"
                                         "<ResultStatus>1</ResultStatus></u:GetStatusResponse>" +
                                         kTail));
    std::string query =
        post(port, "/SwitchPower/control", "\"urn:schemas-upnp-org:control-1-0#QueryStateVariable\"",
             envelopeOf("<u:QueryStateVariable xmlns:u=\"urn:schemas-upnp-org:control-1-0\"><u:varName>Target"
                        "</u:varName></u:QueryStateVariable>"));
    EXPECT_EQ(query, deviceAnswer(200, kHead +
                                           "<u:QueryStateVariableResponse xmlns:u=\"urn:schemas-upnp-org:control-1-0\">"
                                           "<return>1</return></u:QueryStateVariableResponse>" +
                                           kTail));
    lightApp.refuseActions = true;
    EXPECT_EQ(post(port, "/SwitchPower/control", kSetTarget, setTargetBody()), deviceAnswer(500, kFaultBody));
}

// The captured requests of real control points (GUPnP, MiniDLNA's test
// client) reach the handler; MiniDLNA's service is not the light's.
TEST_F(Soap, CapturedRequestsOfOtherControlPoints)
{
    uint16_t port = 0;
    addLight(&port);
    std::vector<std::string> gupnp = wireMessages(dataPath("wire/network-light/soap-action.txt"));
    ASSERT_EQ(gupnp.size(), 2u);
    std::string request = gupnp[0];
    std::string from = "POST /SwitchPower/Control HTTP/1.1\r\nHost: 127.0.0.1:8400";
    ASSERT_EQ(request.rfind(from, 0), 0u);
    request.replace(0, from.size(), "POST /SwitchPower/control HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port));
    std::string answer = exchange("127.0.0.1", port, request);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("<RetTargetValue>0</RetTargetValue>"), std::string::npos);
}

TEST_F(Soap, DeviceChecksEveryRequest)
{
    uint16_t port = 0;
    addLight(&port);
    std::string body = setTargetBody();
    struct Case {
        const char *name;
        std::string path, soapAction, body, host;
        std::string expected; // start of the answer; empty: closed without one
        const char *console;
    };
    const Case cases[] = {
        {"another path", "/SwitchPower/Control", kSetTarget, body, "", "", " getScpdByControlUrl() retusn NULL\r\n"},
        {"no SOAPAction", "/SwitchPower/control", "", body, "", "", nullptr},
        {"Host names another port", "/SwitchPower/control", kSetTarget, body, "127.0.0.1:1", "",
         " host = 127.0.0.1:"},
        {"Host is a name", "/SwitchPower/control", kSetTarget, body, "localhost", "", " host = 127.0.0.1:"},
        {"quote not closed", "/SwitchPower/control", "\"urn:schemas-upnp-org:service:SwitchPower:1#SetTarget",
         body, "", "HTTP/1.1 400 Bad Request\r\n", " val = \"urn:"},
        {"no action after #", "/SwitchPower/control", "\"urn:schemas-upnp-org:service:SwitchPower:1#\"", body, "",
         "HTTP/1.1 400 Bad Request\r\n", " serviceType = urn:schemas-upnp-org:service:SwitchPower:1\r\n"},
        {"no #", "/SwitchPower/control", "urn:schemas-upnp-org:service:SwitchPower:1", body, "",
         "HTTP/1.1 400 Bad Request\r\n", " serviceType = "},
        {"another prefix", "/SwitchPower/control", "\"urn:example-com:service:X:1#SetTarget\"", body, "",
         "HTTP/1.1 400 Bad Request\r\n", " val = \"urn:example-com"},
        {"a service the device lacks", "/SwitchPower/control", "urn:schemas-upnp-org:service:Dimming:1#SetLoadLevel",
         body, "", "", " serviceType = urn:schemas-upnp-org:service:Dimming:1\r\n"},
        {"body names another action", "/SwitchPower/control",
         "\"urn:schemas-upnp-org:service:SwitchPower:1#GetStatus\"", body, "", "",
         " val = GetStatus, action = SetTarget\r\n"},
        {"body is no envelope", "/SwitchPower/control", kSetTarget, "<html/>", "", "", " parseSoap() failed!\r\n"},
        {"empty body", "/SwitchPower/control", kSetTarget, "", "", "", " parseSoap() failed!\r\n"},
        {"unquoted SOAPAction", "/SwitchPower/control", "urn:schemas-upnp-org:service:SwitchPower:1#SetTarget", body,
         "", "HTTP/1.1 200 OK\r\n", nullptr},
    };
    for (const Case &c : cases) {
        clearConsole();
        std::string answer = post(port, c.path, c.soapAction, c.body, c.host);
        if (c.expected.empty()) {
            EXPECT_EQ(answer, "") << c.name;
        } else {
            EXPECT_EQ(answer.substr(0, c.expected.size()), c.expected) << c.name << ": " << answer;
        }
        if (c.console != nullptr) {
            EXPECT_NE(console().find(c.console), std::string::npos) << c.name << ": " << console();
        }
    }
    // Only the request that passed every check reached the application.
    EXPECT_EQ(lightApp.callList(), (std::vector<std::string>{"action SetTarget newTargetValue=1"}));
    // The device still serves after all of them.
    EXPECT_EQ(post(port, "/SwitchPower/control", kSetTarget, body).rfind("HTTP/1.1 200 OK", 0), 0u);
}

// A Host without a port means port 80, and port 80 may also be written
// (Python's urllib always writes it).
TEST_F(Soap, HostMayWriteTheDefaultPort)
{
    addLightAt("127.0.0.1", 80);
    const std::string body = setTargetBody();
    const std::pair<const char *, bool> hosts[] = {
        {"127.0.0.1", true},       {"127.0.0.1:80", true},     {"127.0.0.1:8080", false},
        {"127.0.0.1:", false},     {"127.0.0.1:80x", false},   {"127.0.0.10:80", false},
        {"127.0.0.1:800000", false}, {":80", false},
    };
    for (const auto &[host, accepted] : hosts) {
        std::string answer = post(80, "/SwitchPower/control", kSetTarget, body, host);
        EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0, accepted) << host << ": " << answer;
    }
    uint16_t port = 0;
    addLight(&port);
    EXPECT_EQ(post(port, "/SwitchPower/control", kSetTarget, body, "127.0.0.1"), "")
        << "a device on another port is not named by an address alone";
}

TEST_F(Soap, OtherMethodsAreNotControl)
{
    uint16_t port = 0;
    addLight(&port);
    std::string mpost = "M-POST /SwitchPower/control HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nSOAPAction: " + kSetTarget + "\r\nContent-Length: 0\r\n\r\n";
    EXPECT_EQ(exchange("127.0.0.1", port, mpost), "");
    EXPECT_TRUE(lightApp.callList().empty());
}

// A handler that removes its own device while it answers an action: the
// connection is closed, nothing is written through the freed entity.
TEST_F(Soap, HandlerRemovesItsDevice)
{
    uint16_t port = 0;
    QN_DEVICE dev = addLight(&port);
    lightApp.removeOnAction = true;
    EXPECT_EQ(post(port, "/SwitchPower/control", kSetTarget, setTargetBody()), "");
    // The connection closes while the removal is still running on the server thread.
    for (int i = 0; i < 300 && qnCheckDevice(dev) == QN_OK; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(qnCheckDevice(dev), QN_ERR_ARG);
    uint16_t again = 0;
    addLight(&again);
    lightApp.removeOnAction = false;
    EXPECT_EQ(post(again, "/SwitchPower/control", kSetTarget, setTargetBody()).rfind("HTTP/1.1 200 OK", 0), 0u);
}

} // namespace

namespace {

// A saved description's URLBase names the device that serves it, and the
// document's relative URLs resolve against it; one without stays without.
TEST_F(Soap, UrlBaseNamesTheServingDevice)
{
    std::string relative = readWholeFile(lightDir() + "/BinaryLight.xml");
    for (const char *url : {">/SwitchPower.xml<", ">/SwitchPower/control<"})
        relative.erase(relative.find(url) + 1, 1);
    std::string foreign = relative;
    foreign.insert(foreign.find("</specVersion>") + 14, "<URLBase>http://10.99.0.1:4004/base/</URLBase>");
    struct Case {
        const char *name;
        std::string desc;
        bool urlBase;
    } cases[] = {
        {"foreign URLBase, relative URLs", foreign, true},
        {"no URLBase, relative URLs", relative, false},
    };
    for (const Case &c : cases) {
        DeviceDir dir({{"BinaryLight.xml", c.desc}});
        uint16_t port = 0;
        QN_DEVICE dev = addLight(&port, "127.0.0.1", dir.path());
        const std::string host = "127.0.0.1:" + std::to_string(port);
        std::string served = exchange("127.0.0.1", port, "GET /BinaryLight.xml HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        EXPECT_EQ(served.find("<URLBase>http://" + host + "/</URLBase>") != std::string::npos, c.urlBase) << c.name;
        EXPECT_EQ(served.find("10.99.0.1"), std::string::npos) << c.name;
        std::string scpd = exchange("127.0.0.1", port, "GET /SwitchPower.xml HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        EXPECT_EQ(scpd.rfind("HTTP/1.1 200", 0), 0u) << c.name;
        std::string answer = post(port, "/SwitchPower/control", kSetTarget, setTargetBody());
        EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << c.name << "\n" << answer;
        EXPECT_EQ(qnRemoveDevice(dev), QN_OK);
    }
}

} // namespace
