// SOAP envelopes, faults and property sets: the bodies of the
// captured MiniDLNA and GUPnP exchanges, prefixes, faults with and without
// detail, property sets, capacities, entities and the writers.
#include "log.h"
#include "soapParse.h"
#include "wireCapture.h"
#include "xmlFixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qntest::DocBuffer;

class Soap : public ::testing::Test {
protected:
    void SetUp() override
    {
        setConsoleSink([](const char *) {});
    }
    void TearDown() override { setConsoleSink(nullptr); }
};

// The body of a captured HTTP message.
std::string bodyOf(const std::string &message)
{
    size_t split = message.find("\r\n\r\n");
    return split == std::string::npos ? "" : message.substr(split + 4);
}

// Request and response bodies of a captured exchange under tests/data/wire.
std::pair<std::string, std::string> exchange(const std::string &file)
{
    std::vector<std::string> messages = qntest::wireMessages(qntest::dataPath("wire/" + file));
    if (messages.size() != 2)
        return {};
    return {bodyOf(messages[0]), bodyOf(messages[1])};
}

struct Parsed {
    int ret = 0;
    QNApiAction action{};
    std::string buffer; // the document's text after the parse
};

Parsed parse(const std::string &body, const char *actionBefore = "")
{
    Parsed p;
    std::strcpy(p.action.action, actionBefore);
    DocBuffer b(body, kSoapDocKind);
    p.ret = b.doc.parse(&b.doc, &p.action);
    p.buffer = b.text();
    return p;
}

std::string envelope(const std::string &bodyContent, const std::string &prefix = "s")
{
    std::string p = prefix.empty() ? "" : prefix + ":";
    std::string decl = prefix.empty() ? "" : " xmlns:" + prefix + "=\"http://schemas.xmlsoap.org/soap/envelope/\"";
    return "<?xml version=\"1.0\"?>\r\n<" + p + "Envelope" + decl + "><" + p + "Body>" + bodyContent + "</" + p +
           "Body></" + p + "Envelope>";
}

std::string propertySet(const std::string &properties)
{
    return "<?xml version=\"1.0\"?>\n<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">" + properties +
           "</e:propertyset>";
}

// ---- Captured exchanges ---------------------------------------------------------

TEST_F(Soap, CapturedActionRequestsAndResponses)
{
    auto [request, response] = exchange("minidlna/soap-action.txt");
    ASSERT_FALSE(request.empty());
    Parsed req = parse(request);
    ASSERT_EQ(req.ret, 0);
    EXPECT_STREQ(req.action.action, "GetSearchCapabilities");
    EXPECT_EQ(req.action.argNum, 0);
    EXPECT_EQ(req.buffer, "<?xml version=\"1.0\"?>\r\n<Envelope><Body><GetSearchCapabilities>"
                          "</GetSearchCapabilities></Body></Envelope>");

    Parsed resp = parse(response);
    ASSERT_EQ(resp.ret, 0);
    EXPECT_STREQ(resp.action.action, "GetSearchCapabilitiesResponse");
    ASSERT_EQ(resp.action.argNum, 1);
    EXPECT_STREQ(resp.action.argNV[0].name, "SearchCaps");
    EXPECT_STREQ(resp.action.argNV[0].val,
                 "dc:creator,dc:date,dc:title,upnp:album,upnp:actor,upnp:artist,upnp:class,upnp:genre,@id,@parentID,"
                 "@refID");

    auto [lightRequest, lightResponse] = exchange("network-light/soap-action.txt");
    Parsed light = parse(lightResponse);
    ASSERT_EQ(light.ret, 0);
    EXPECT_STREQ(light.action.action, "GetTargetResponse");
    ASSERT_EQ(light.action.argNum, 1);
    EXPECT_STREQ(light.action.argNV[0].name, "RetTargetValue");
    EXPECT_STREQ(light.action.argNV[0].val, "0");
}

// A byte-order mark and comments between the elements change nothing: the
// same record, the same rewritten text.
TEST_F(Soap, DecoratedCapturedBodiesGiveTheSameRecord)
{
    const char *files[] = {
        "minidlna/soap-action.txt",      "minidlna/soap-fault-bad-args.txt",
        "minidlna/soap-fault-unknown-action.txt", "network-light/soap-action.txt",
        "network-light/soap-fault-bad-args.txt",  "network-light/soap-fault-unknown-action.txt",
    };
    for (const char *file : files) {
        auto [request, response] = exchange(file);
        for (const std::string &body : {request, response}) {
            ASSERT_FALSE(body.empty()) << file;
            Parsed plain = parse(body);
            Parsed decorated = parse(qntest::decorated(body, true, true));
            EXPECT_EQ(decorated.ret, plain.ret) << file;
            EXPECT_EQ(decorated.action.errCode, plain.action.errCode) << file;
            EXPECT_STREQ(decorated.action.errDesc, plain.action.errDesc) << file;
            EXPECT_STREQ(decorated.action.action, plain.action.action) << file;
            ASSERT_EQ(decorated.action.argNum, plain.action.argNum) << file;
            for (int i = 0; i < plain.action.argNum; ++i) {
                EXPECT_STREQ(decorated.action.argNV[i].name, plain.action.argNV[i].name) << file;
                EXPECT_STREQ(decorated.action.argNV[i].val, plain.action.argNV[i].val) << file;
            }
            EXPECT_EQ(decorated.buffer, plain.buffer) << file;
        }
    }
}

TEST_F(Soap, CapturedRequestWithAnExtraArgument)
{
    for (const char *file : {"minidlna/soap-fault-bad-args.txt", "network-light/soap-fault-bad-args.txt"}) {
        Parsed req = parse(exchange(file).first);
        ASSERT_EQ(req.ret, 0) << file;
        ASSERT_EQ(req.action.argNum, 1) << file;
        EXPECT_STREQ(req.action.argNV[0].name, "BogusArg") << file;
        EXPECT_STREQ(req.action.argNV[0].val, "x") << file;
    }
}

TEST_F(Soap, CapturedFaults)
{
    for (const char *file : {"minidlna/soap-fault-unknown-action.txt", "network-light/soap-fault-unknown-action.txt"}) {
        Parsed fault = parse(exchange(file).second);
        ASSERT_EQ(fault.ret, 0) << file;
        EXPECT_STREQ(fault.action.action, "Fault") << file;
        ASSERT_EQ(fault.action.argNum, 4) << file;
        EXPECT_STREQ(fault.action.argNV[0].name, "faultcode");
        EXPECT_STREQ(fault.action.argNV[0].val, "s:Client");
        EXPECT_STREQ(fault.action.argNV[1].val, "UPnPError");
        EXPECT_STREQ(fault.action.argNV[2].name, "errorCode");
        EXPECT_STREQ(fault.action.argNV[2].val, "401");
        EXPECT_STREQ(fault.action.argNV[3].name, "errorDescription");
        EXPECT_STREQ(fault.action.argNV[3].val, "Invalid Action");
        EXPECT_EQ(fault.buffer, "<?xml version=\"1.0\"?>\r\n<Envelope><Body><Fault><faultcode>s:Client</faultcode>"
                                "<faultstring>UPnPError</faultstring><errorCode>401</errorCode><errorDescription>"
                                "Invalid Action</errorDescription></Fault></Body></Envelope>");
    }
}

TEST_F(Soap, CapturedInitialEventOfGupnp)
{
    std::vector<std::string> messages =
        qntest::wireMessages(qntest::dataPath("wire/network-light/gena-initial-notify.txt"));
    ASSERT_EQ(messages.size(), 1u);
    const std::string body = bodyOf(messages[0]);
    Parsed event = parse(body, "unchanged");
    ASSERT_EQ(event.ret, 0);
    EXPECT_STREQ(event.action.action, "unchanged");
    ASSERT_EQ(event.action.argNum, 1);
    EXPECT_STREQ(event.action.argNV[0].name, "Status");
    EXPECT_STREQ(event.action.argNV[0].val, "0");
    EXPECT_EQ(event.buffer, body); // a property set is not rewritten
}

TEST_F(Soap, RewrittenCapturedEnvelopesAreWellFormed)
{
    if (!qntest::toolsAvailable())
        GTEST_SKIP() << "xmllint missing";
    for (const char *file : {"minidlna/soap-action.txt", "minidlna/soap-fault-bad-args.txt",
                             "minidlna/soap-fault-unknown-action.txt", "network-light/soap-action.txt",
                             "network-light/soap-fault-unknown-action.txt"}) {
        auto [request, response] = exchange(file);
        for (const std::string &body : {request, response}) {
            Parsed p = parse(body);
            ASSERT_EQ(p.ret, 0) << file;
            EXPECT_EQ(qntest::xmllintProblems(p.buffer), "") << file;
        }
    }
}

// ---- Envelopes -------------------------------------------------------------------

TEST_F(Soap, PrefixesDoNotMatter)
{
    const std::string call = "<u:SetTarget xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\">"
                             "<newTargetValue>1</newTargetValue></u:SetTarget>";
    for (const char *prefix : {"s", "SOAP-ENV", ""}) {
        Parsed p = parse(envelope(call, prefix));
        ASSERT_EQ(p.ret, 0) << prefix;
        EXPECT_STREQ(p.action.action, "SetTarget") << prefix;
        ASSERT_EQ(p.action.argNum, 1) << prefix;
        EXPECT_STREQ(p.action.argNV[0].name, "newTargetValue") << prefix;
        EXPECT_EQ(p.buffer, "<?xml version=\"1.0\"?>\r\n<Envelope><Body><SetTarget><newTargetValue>1"
                            "</newTargetValue></SetTarget></Body></Envelope>")
            << prefix;
    }
}

TEST_F(Soap, ActionAsAnEmptyElement)
{
    Parsed p = parse(envelope("<u:Stop xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\"/>"));
    ASSERT_EQ(p.ret, 0);
    EXPECT_STREQ(p.action.action, "Stop");
    EXPECT_EQ(p.action.argNum, 0);
    EXPECT_EQ(p.buffer, "<?xml version=\"1.0\"?>\r\n<Envelope><Body><Stop></Stop></Body></Envelope>");
}

TEST_F(Soap, QueryStateVariable)
{
    Parsed p = parse(envelope("<u:QueryStateVariable xmlns:u=\"urn:schemas-upnp-org:control-1-0\">"
                              "<u:varName>Status</u:varName></u:QueryStateVariable>"));
    ASSERT_EQ(p.ret, 0);
    EXPECT_STREQ(p.action.action, "QueryStateVariable");
    ASSERT_EQ(p.action.argNum, 1);
    EXPECT_STREQ(p.action.argNV[0].name, "u:varName"); // stored as written
    EXPECT_STREQ(p.action.argNV[0].val, "Status");
    // The rewritten, prefix-free form names it by its local name.
    EXPECT_NE(p.buffer.find("<QueryStateVariable><varName>Status</varName></QueryStateVariable>"),
              std::string::npos);
}

TEST_F(Soap, ArgumentsBeyondTheRecordAreDropped)
{
    std::string args;
    for (int i = 0; i < 20; ++i)
        args += "<A" + std::to_string(i) + ">" + std::to_string(i) + "</A" + std::to_string(i) + ">";
    Parsed p = parse(envelope("<u:Many xmlns:u=\"urn:x\">" + args + "</u:Many>"));
    ASSERT_EQ(p.ret, 0);
    ASSERT_EQ(p.action.argNum, QN_ARG_MAX_NUM);
    EXPECT_STREQ(p.action.argNV[15].name, "A15");
    Parsed exact = parse(envelope("<u:Many xmlns:u=\"urn:x\">" + args.substr(0, args.find("<A16>")) + "</u:Many>"));
    EXPECT_EQ(exact.action.argNum, QN_ARG_MAX_NUM);
}

TEST_F(Soap, MetadataArgumentsAreDecodedAndWrittenBackEscaped)
{
    const std::string didl = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\">"
                             "<item id=\"1\"><dc:title>Rock &amp; Roll</dc:title></item></DIDL-Lite>";
    std::string escaped;
    for (char c : didl) {
        if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else if (c == '&')
            escaped += "&amp;";
        else if (c == '"')
            escaped += "&quot;";
        else
            escaped += c;
    }
    Parsed p = parse(envelope("<u:SetAVTransportURI xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">"
                              "<InstanceID>0</InstanceID><CurrentURI>http://h/a?x=1&amp;y=2</CurrentURI>"
                              "<CurrentURIMetaData>" + escaped + "</CurrentURIMetaData></u:SetAVTransportURI>"));
    ASSERT_EQ(p.ret, 0);
    ASSERT_EQ(p.action.argNum, 3);
    EXPECT_STREQ(p.action.argNV[1].val, "http://h/a?x=1&y=2");
    EXPECT_EQ(std::string(p.action.argNV[2].val), didl);
    Parsed again = parse(p.buffer);
    ASSERT_EQ(again.ret, 0);
    EXPECT_EQ(qntest::diffNvList("args", p.action.argNV, p.action.argNum, again.action.argNV, again.action.argNum), "");
    if (qntest::toolsAvailable()) {
        EXPECT_EQ(qntest::xpath(p.buffer, "string(//CurrentURIMetaData)"), didl);
    }
}

struct BadSoap {
    const char *name;
    std::string body;
};

TEST_F(Soap, StructuralFailures)
{
    const BadSoap cases[] = {
        {"header before body", "<s:Envelope xmlns:s=\"x\"><s:Header><a>1</a></s:Header><s:Body><u:A/></s:Body>"
                               "</s:Envelope>"},
        {"empty body", envelope("")},
        {"body as empty element", "<s:Envelope xmlns:s=\"x\"><s:Body/></s:Envelope>"},
        {"not soap", "<root><device><a>1</a></device></root>"},
        {"empty envelope", "<s:Envelope/>"},
        {"nothing", ""},
        {"mismatched tags", envelope("<u:A><x>1</x></u:B>")},
        {"end inside the body", "<s:Envelope><s:Body><u:A><x>1</x>"},
    };
    for (const BadSoap &c : cases)
        EXPECT_EQ(parse(c.body).ret, -500) << c.name;
}

TEST_F(Soap, FaultWithoutDetailFailsAfterItsTwoPairs)
{
    Parsed p = parse(envelope("<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>"
                              "</s:Fault>"));
    EXPECT_EQ(p.ret, -500);
    EXPECT_EQ(p.action.argNum, 2);
    EXPECT_STREQ(p.action.argNV[1].name, "faultstring");

    Parsed wrongDetail = parse(envelope("<s:Fault><faultcode>s:Client</faultcode><faultstring>x</faultstring>"
                                        "<detail><Other><errorCode>1</errorCode></Other></detail></s:Fault>"));
    EXPECT_EQ(wrongDetail.ret, -500);

    // A prefixed faultcode is not the SOAP 1.1 fault: it is read as an action.
    Parsed prefixed = parse(envelope("<s:Fault><s:faultcode>x</s:faultcode></s:Fault>"));
    EXPECT_EQ(prefixed.ret, 0);
    EXPECT_EQ(prefixed.action.argNum, 1);
}

// ---- Property sets -----------------------------------------------------------------

TEST_F(Soap, PropertySetWithSeveralProperties)
{
    Parsed p = parse(propertySet("<e:property><Status>1</Status></e:property>"
                                 "<e:property><LoadLevelStatus>40</LoadLevelStatus></e:property>"
                                 "<e:property><Target>1</Target></e:property>"));
    ASSERT_EQ(p.ret, 0);
    ASSERT_EQ(p.action.argNum, 3);
    EXPECT_STREQ(p.action.argNV[0].name, "Status");
    EXPECT_STREQ(p.action.argNV[1].name, "LoadLevelStatus");
    EXPECT_STREQ(p.action.argNV[1].val, "40");
    EXPECT_STREQ(p.action.argNV[2].name, "Target");
}

TEST_F(Soap, PropertyWithSeveralVariablesGivesThemAll)
{
    // The form older stacks write: all variables in one
    // property.
    Parsed p = parse(propertySet("\n<e:property>\n<A>1</A>\n<B>2</B>\n<C>3</C>\n</e:property>\n"
                                 "<e:property><D>4</D></e:property>\n"));
    ASSERT_EQ(p.ret, 0);
    ASSERT_EQ(p.action.argNum, 4);
    EXPECT_STREQ(p.action.argNV[2].name, "C");
    EXPECT_STREQ(p.action.argNV[3].val, "4");
}

TEST_F(Soap, PropertySetCapacityAndOddProperties)
{
    std::string many;
    for (int i = 0; i < 20; ++i)
        many += "<e:property><V" + std::to_string(i) + ">" + std::to_string(i) + "</V" + std::to_string(i) +
                "></e:property>";
    Parsed p = parse(propertySet(many));
    ASSERT_EQ(p.ret, 0);
    EXPECT_EQ(p.action.argNum, QN_ARG_MAX_NUM);
    EXPECT_STREQ(p.action.argNV[15].name, "V15");

    std::string wide = "<e:property>";
    for (int i = 0; i < 20; ++i)
        wide += "<V" + std::to_string(i) + ">x</V" + std::to_string(i) + ">";
    Parsed w = parse(propertySet(wide + "</e:property><e:property><Z>z</Z></e:property>"));
    ASSERT_EQ(w.ret, 0);
    EXPECT_EQ(w.action.argNum, QN_ARG_MAX_NUM);

    Parsed odd = parse(propertySet("<e:property/><e:property></e:property><e:property><A>1</A></e:property>"
                                   "<other><B>2</B></other><e:property><C>3</C></e:property>"));
    ASSERT_EQ(odd.ret, 0);
    ASSERT_EQ(odd.action.argNum, 1); // reading stops at the first element that is no property
    EXPECT_STREQ(odd.action.argNV[0].name, "A");

    // A property that cannot be read ends the set; what was read before
    // stays. (Mismatched tags anywhere fail the whole document.)
    Parsed broken = parse(propertySet("<e:property><A>1</A></e:property>text<e:property><B>2</B></e:property>"));
    ASSERT_EQ(broken.ret, 0);
    EXPECT_EQ(broken.action.argNum, 1);
    EXPECT_EQ(parse(propertySet("<e:property><A>1</A></e:property><e:property><B>2</C></e:property>")).ret, -500);
}

TEST_F(Soap, LastChangeEventIsDecoded)
{
    Parsed p = parse(propertySet("<e:property><LastChange>&lt;Event xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/"
                                 "AVT/&quot;&gt;&lt;InstanceID val=&quot;0&quot;&gt;&lt;TransportState "
                                 "val=&quot;PLAYING&quot;/&gt;&lt;/InstanceID&gt;&lt;/Event&gt;</LastChange>"
                                 "</e:property>"));
    ASSERT_EQ(p.ret, 0);
    EXPECT_STREQ(p.action.argNV[0].val, "<Event xmlns=\"urn:schemas-upnp-org:metadata-1-0/AVT/\"><InstanceID "
                                        "val=\"0\"><TransportState val=\"PLAYING\"/></InstanceID></Event>");
}

// ---- Writers ----------------------------------------------------------------------

TEST_F(Soap, WritesOnePropertyPerVariable)
{
    QNApiAction event{};
    std::strcpy(event.action, kPropertySetName);
    event.argNum = 3;
    event.argNV[0] = {"Status", "1"};
    event.argNV[1] = {"LastChange", "<Event val=\"a&b\"/>"};
    event.argNV[2] = {"Target", ""};
    std::vector<char> buf(kMaxDocument + 1);
    QNTextDoc doc = kSoapDocKind;
    docInitWrite(&doc, buf.data(), static_cast<uint32_t>(buf.size()));
    ASSERT_EQ(doc.serialize(&doc, &event), 0);
    const std::string written(doc.text, doc.len);
    EXPECT_EQ(written, "<?xml version=\"1.0\"?>\r\n<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">"
                       "<e:property><Status>1</Status></e:property>"
                       "<e:property><LastChange>&lt;Event val=\"a&amp;b\"/&gt;</LastChange></e:property>"
                       "<e:property><Target></Target></e:property></e:propertyset>");
    Parsed back = parse(written);
    ASSERT_EQ(back.ret, 0);
    EXPECT_EQ(qntest::diffNvList("pairs", event.argNV, event.argNum, back.action.argNV, back.action.argNum), "");
    if (qntest::toolsAvailable()) {
        EXPECT_EQ(qntest::xmllintProblems(written), "");
        EXPECT_EQ(qntest::pythonOnTree(written, "print(len(doc.findall('e:property', ns)))"), "3\n");
    }
}

TEST_F(Soap, WriterLeavesOutWhatXmlCannotCarry)
{
    QNApiAction action{};
    std::strcpy(action.action, "Act");
    action.argNum = 3;
    action.argNV[0] = {"u:Good", "1"};
    action.argNV[1] = {"bad name", "2"};
    action.argNV[2] = {"Fine", "a<b"};
    std::vector<char> buf(1024);
    QNTextDoc doc = kSoapDocKind;
    docInitWrite(&doc, buf.data(), static_cast<uint32_t>(buf.size()));
    ASSERT_EQ(writeSoap(&doc, &action), 0);
    EXPECT_STREQ(buf.data(), "<?xml version=\"1.0\"?>\r\n<Envelope><Body><Act><Good>1</Good><Fine>a&lt;b</Fine></Act>"
                             "</Body></Envelope>");
    EXPECT_EQ(doc.pos, 0u);

    std::strcpy(action.action, "");
    docInitWrite(&doc, buf.data(), static_cast<uint32_t>(buf.size()));
    ASSERT_EQ(writeSoap(&doc, &action), 0);
    EXPECT_STREQ(buf.data(), "<?xml version=\"1.0\"?>\r\n<Envelope><Body></Body></Envelope>");
    EXPECT_EQ(writeSoap(nullptr, &action), QN_ERR_ARG);
    EXPECT_EQ(parseSoap(&doc, nullptr), QN_ERR_ARG);
}

TEST_F(Soap, EveryCutOfACapturedFaultIsSafe)
{
    const std::string body = exchange("network-light/soap-fault-unknown-action.txt").second;
    const size_t closing = body.rfind("</s:Envelope>") + std::strlen("</s:Envelope>");
    for (size_t cut = 0; cut <= body.size(); ++cut) {
        Parsed p = parse(body.substr(0, cut));
        ASSERT_EQ(p.ret, cut >= closing ? 0 : -500) << "cut at " << cut;
        ASSERT_LE(p.action.argNum, QN_ARG_MAX_NUM);
    }
}

} // namespace
