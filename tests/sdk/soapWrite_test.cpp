// The texts the stack writes for SOAP and GENA: envelopes byte for byte,
// escaping read back by the stack's own reader, and the capacity of a
// whole record at its limits with the worst escaping.
#include "actionRecord.h"
#include "log.h"
#include "soapParse.h"
#include "soapWrite.h"
#include "text.h"
#include "xml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kHead = "<?xml version=\"1.0\"?>\n<SOAP-ENV:Envelope "
                          "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                          "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
                          "<SOAP-ENV:Body>\n";
const std::string kTail = "</SOAP-ENV:Body>\n</SOAP-ENV:Envelope>\n";
constexpr const char *kSwitch = "urn:schemas-upnp-org:service:SwitchPower:1";

using qntest::makeAction;

std::string text(const SoapText &out) { return std::string(out.data(), out.size()); }

// Parses a body with the stack's reader.
QNApiAction readBack(const std::string &body, int *rc)
{
    std::string copy = body;
    QNApiAction a{};
    QNTextDoc doc;
    xmlDocOpen(&doc, kSoapDocKind, copy.data(), 0);
    *rc = parseSoap(&doc, &a);
    return a;
}

class SoapWrite : public testing::Test {
protected:
    void SetUp() override { setConsoleSink([](const char *) {}); }
    void TearDown() override { setConsoleSink(nullptr); }
};

TEST_F(SoapWrite, RequestsByteForByte)
{
    struct Case {
        const char *name;
        QNApiAction action;
        std::string body;
    };
    const Case cases[] = {
        {"no arguments: one self-closing element", makeAction("GetStatus", {}),
         kHead + "<u:GetStatus xmlns:u=\"" + kSwitch + "\" />\n" + kTail},
        {"one argument", makeAction("SetTarget", {{"newTargetValue", "1"}}),
         kHead + "<u:SetTarget xmlns:u=\"" + kSwitch + "\"><newTargetValue>1</newTargetValue>\n</u:SetTarget>" +
             kTail},
        {"empty value: an empty element", makeAction("Browse", {{"X", ""}, {"Y", "2"}}),
         kHead + "<u:Browse xmlns:u=\"" + kSwitch + "\"><X />\n<Y>2</Y>\n</u:Browse>" + kTail},
        {"markup in a value is escaped", makeAction("Set", {{"V", "a<b & c>d"}}),
         kHead + "<u:Set xmlns:u=\"" + kSwitch + "\"><V>a&lt;b &amp; c&gt;d</V>\n</u:Set>" + kTail},
    };
    for (const Case &c : cases) {
        SoapText out;
        ASSERT_TRUE(writeActionRequest(out, kSwitch, c.action)) << c.name;
        EXPECT_EQ(text(out), c.body) << c.name;
    }
}

TEST_F(SoapWrite, QueryAndAnswersByteForByte)
{
    SoapText query;
    ASSERT_TRUE(writeQueryRequest(query, "Status"));
    EXPECT_EQ(text(query), kHead +
                               "<u:QueryStateVariable xmlns:u=\"urn:schemas-upnp-org:control-1-0\">"
                               "<u:varName>Status</u:varName></u:QueryStateVariable>" +
                               kTail);

    SoapText response;
    ASSERT_TRUE(writeActionResponse(response, kSwitch, makeAction("GetStatus", {{"ResultStatus", "1"}, {"E", ""}})));
    EXPECT_EQ(text(response), kHead + "<u:GetStatusResponse xmlns:u=\"" + kSwitch +
                                  "\"><ResultStatus>1</ResultStatus><E></E></u:GetStatusResponse>" + kTail);

    SoapText value;
    ASSERT_TRUE(writeQueryResponse(value, "0"));
    EXPECT_EQ(text(value), kHead +
                               "<u:QueryStateVariableResponse xmlns:u=\"urn:schemas-upnp-org:control-1-0\">"
                               "<return>0</return></u:QueryStateVariableResponse>" +
                               kTail);

    SoapText fault;
    ASSERT_TRUE(writeFaultResponse(fault));
    EXPECT_EQ(text(fault), kHead +
                               "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode><faultstring>UPnPError"
                               "</faultstring><detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">"
                               "<errorCode>501</errorCode><errorDescription>XML error</errorDescription>"
                               "</UPnPError></detail></SOAP-ENV:Fault>" +
                               kTail);
}

TEST_F(SoapWrite, EventHasOnePropertyPerVariable)
{
    QNNameVal vars[2]{};
    qnSetNVNameVal(&vars[0], "Status", "1");
    qnSetNVNameVal(&vars[1], "Target", "<&>");
    SoapText out;
    ASSERT_TRUE(writeEventBody(out, vars, 2));
    EXPECT_EQ(text(out), "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">\n"
                         "<e:property>\n<Status>1</Status>\n</e:property>\n"
                         "<e:property>\n<Target>&lt;&amp;&gt;</Target>\n</e:property>\n"
                         "</e:propertyset>\n\n");
    int rc = 0;
    QNApiAction back = readBack(text(out), &rc);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(back.argNum, 2);
    EXPECT_STREQ(back.argNV[1].name, "Target");
    EXPECT_STREQ(back.argNV[1].val, "<&>");

    SoapText empty;
    ASSERT_TRUE(writeEventBody(empty, nullptr, 0));
    EXPECT_EQ(readBack(text(empty), &rc).argNum, 0);
    EXPECT_EQ(rc, 0);
}

// Whatever the application puts into a value arrives unchanged at the
// other side's reader: markup, entities, blanks at both ends, CR and LF.
TEST_F(SoapWrite, ValuesSurviveTheRoundTrip)
{
    const std::vector<std::string> values = {
        "plain", "a<b", "a&b", "&amp;", "<x>1</x>", " leading blank", "trailing blank ", "line\r\nbreak",
        "quote\" apos'", "]]>", "utf-8 \xC3\xA9\xE2\x82\xAC",
    };
    for (const std::string &v : values) {
        QNApiAction a = makeAction("Set", {{"V", v}});
        SoapText request, response;
        ASSERT_TRUE(writeActionRequest(request, kSwitch, a));
        ASSERT_TRUE(writeActionResponse(response, kSwitch, a));
        for (const SoapText *out : {&request, &response}) {
            int rc = 0;
            QNApiAction back = readBack(text(*out), &rc);
            ASSERT_EQ(rc, 0) << v;
            ASSERT_EQ(back.argNum, 1) << v;
            EXPECT_EQ(std::string(back.argNV[0].val), v) << text(*out);
        }
        SoapText value;
        ASSERT_TRUE(writeQueryResponse(value, v.c_str()));
        int rc = 0;
        EXPECT_EQ(std::string(readBack(text(value), &rc).argNV[0].val), v);
    }
}

// Sixteen arguments at their longest, every character escaped to its
// longest form, in a service type that needs escaping too: nothing is cut.
TEST_F(SoapWrite, WholeRecordAtItsLimitsIsNeverCut)
{
    QNApiAction a{};
    std::string action(QN_NAME_MAX_LEN - 1, 'A');
    copyBounded(a.action, sizeof a.action, action);
    for (int i = 0; i < QN_ARG_MAX_NUM; ++i) {
        std::string name = "n" + std::to_string(i) + std::string(QN_NAME_MAX_LEN - 4, 'x');
        std::string value(QN_VAL_MAX_LEN - 1, '&');
        qnSetNVNameVal(&a.argNV[i], name.c_str(), value.c_str());
    }
    a.argNum = QN_ARG_MAX_NUM;
    std::string type = "urn:schemas-upnp-org:service:" + std::string(QN_VAL_MAX_LEN - 30, '"');
    SoapText request, response;
    ASSERT_TRUE(writeActionRequest(request, type.c_str(), a));
    ASSERT_TRUE(writeActionResponse(response, type.c_str(), a));
    EXPECT_LT(request.size() + 1024, kMsgBufSize); // with its headers it fits a socket buffer
    int rc = 0;
    QNApiAction back = readBack(text(request), &rc);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(back.argNum, QN_ARG_MAX_NUM);
    EXPECT_EQ(std::string(back.argNV[15].val), std::string(QN_VAL_MAX_LEN - 1, '&'));

    QNNameVal vars[QN_ARG_MAX_NUM];
    for (int i = 0; i < QN_ARG_MAX_NUM; ++i)
        vars[i] = a.argNV[i];
    SoapText event;
    ASSERT_TRUE(writeEventBody(event, vars, QN_ARG_MAX_NUM));
    back = readBack(text(event), &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(back.argNum, QN_ARG_MAX_NUM);
}

} // namespace
