// Device descriptions: the real fixture descriptions, their
// normalised form checked with real XML parsers, capacities, interleaving,
// prefixes, entities and hostile text.
#include "desc.h"
#include "log.h"
#include "scpd.h"
#include "xmlFixtures.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <string>

namespace {

using qntest::DocBuffer;
using qntest::RootModel;

std::string console;
void captureConsole(const char *text) { console += text; }

class Desc : public ::testing::Test {
protected:
    void SetUp() override
    {
        console.clear();
        setConsoleSink(captureConsole);
    }
    void TearDown() override { setConsoleSink(nullptr); }
};

const char *field(const QNDevDesc &dev, const char *name)
{
    return findNameVal(dev.fields, dev.fieldCount, name);
}

const char *serviceField(const QNDevDesc &dev, int i, const char *name)
{
    return findNameVal(dev.services[i]->fields, dev.services[i]->fieldCount, name);
}

// A description whose root device has the given content.
std::string description(const std::string &deviceContent, const std::string &rootExtra = "")
{
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
           "<specVersion><major>1</major><minor>0</minor></specVersion>" +
           rootExtra + "<device>" + deviceContent + "</device></root>";
}

std::string services(int n)
{
    std::string text = "<serviceList>";
    for (int i = 0; i < n; ++i)
        text += "<service><serviceType>urn:schemas-upnp-org:service:S" + std::to_string(i) +
                ":1</serviceType><serviceId>urn:upnp-org:serviceId:S" + std::to_string(i) +
                "</serviceId><SCPDURL>/s" + std::to_string(i) + ".xml</SCPDURL><controlURL>/c" +
                std::to_string(i) + "</controlURL><eventSubURL>/e" + std::to_string(i) +
                "</eventSubURL></service>";
    return text + "</serviceList>";
}

std::string embedded(int n)
{
    std::string text = "<deviceList>";
    for (int i = 0; i < n; ++i)
        text += "<device><deviceType>urn:schemas-upnp-org:device:D" + std::to_string(i) +
                ":1</deviceType><UDN>uuid:" + std::to_string(i) + "</UDN></device>";
    return text + "</deviceList>";
}

std::string leaves(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "<f" + std::to_string(i) + ">" + std::to_string(i) + "</f" + std::to_string(i) + ">";
    return text;
}

// Parses text into root; the normalised text in *normalised.
int parse(const std::string &text, QNRootDesc *root, std::string *normalised = nullptr)
{
    DocBuffer b(text, kDescDocKind);
    int ret = b.doc.parse(&b.doc, root);
    if (normalised != nullptr)
        *normalised = b.text();
    return ret;
}

// ---- Real descriptions -----------------------------------------------------------

TEST_F(Desc, MiniDlnaDescription)
{
    RootModel root;
    std::string normalised;
    ASSERT_EQ(parse(qntest::fixture("devices/minidlna/rootDesc.xml"), root.get(), &normalised), 0);
    const QNDevDesc &dev = root->device;
    EXPECT_STREQ(root->specVersion[0].val, "1");
    EXPECT_STREQ(root->urlBase.name, "");
    EXPECT_EQ(dev.fieldCount, 12);
    EXPECT_STREQ(field(dev, "friendlyName"), "Peer MiniDLNA");
    EXPECT_STREQ(field(dev, "dlna:X_DLNADOC"), "DMS-1.50");
    EXPECT_STREQ(dev.fields[11].name, "presentationURL");
    ASSERT_EQ(dev.serviceCount, 3);
    EXPECT_EQ(dev.deviceCount, 0);
    EXPECT_STREQ(serviceField(dev, 2, "SCPDURL"), "/X_MS_MediaReceiverRegistrar.xml");
    EXPECT_EQ(dev.services[0]->scpd, nullptr);
    ASSERT_EQ(root->nsCount, 1);
    EXPECT_STREQ(root->ns[0].name, "dlna");
    EXPECT_STREQ(root->ns[0].val, "urn:schemas-dlna-org:device-1-0");
    EXPECT_EQ(normalised.rfind("<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\" "
                               "xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\"><specVersion><major>",
                               0),
              0u)
        << normalised;
    EXPECT_NE(console.find(" parse ok!\r\n"), std::string::npos);
}

TEST_F(Desc, NetworkLightDescription)
{
    RootModel root;
    ASSERT_EQ(parse(qntest::fixture("devices/network-light/network-light-desc.xml"), root.get()), 0);
    const QNDevDesc &dev = root->device;
    EXPECT_STREQ(field(dev, "deviceType"), "urn:schemas-upnp-org:device:DimmableLight:1");
    EXPECT_STREQ(field(dev, "presentationURL"), ""); // after iconList and serviceList
    EXPECT_EQ(dev.fieldCount, 11);
    ASSERT_EQ(dev.serviceCount, 2);
    EXPECT_STREQ(serviceField(dev, 1, "controlURL"), "/Dimming/Control");
    EXPECT_EQ(root->nsCount, 0);
}

// Every fixture description parses, its normalised form parses to the same
// model, and writing that model again gives the same text.
TEST_F(Desc, FixturesRoundTripThroughTheirNormalisedForm)
{
    for (const std::string &path : qntest::descFixtures()) {
        RootModel first, second;
        std::string normalised, again;
        ASSERT_EQ(parse(qntest::fixture(path), first.get(), &normalised), 0) << path;
        ASSERT_EQ(parse(normalised, second.get(), &again), 0) << path;
        EXPECT_EQ(qntest::diffDesc(*first.get(), *second.get()), "") << path;
        EXPECT_EQ(again, normalised) << path;
    }
}

// A byte-order mark and comments between the elements change nothing: the
// same model, the same normalised text.
TEST_F(Desc, DecoratedFixturesGiveTheSameModel)
{
    for (const std::string &path : qntest::descFixtures()) {
        const std::string text = qntest::fixture(path);
        RootModel plain;
        std::string plainNormalised;
        ASSERT_EQ(parse(text, plain.get(), &plainNormalised), 0) << path;
        for (const qntest::Decoration &v : qntest::kDecorations) {
            const std::string decorated = qntest::decorated(text, v.bom, v.comments);
            if (qntest::toolsAvailable()) {
                EXPECT_EQ(qntest::xmllintProblems(decorated), "") << path << ", " << v.name;
            }
            RootModel root;
            std::string normalised;
            ASSERT_EQ(parse(decorated, root.get(), &normalised), 0) << path << ", " << v.name;
            EXPECT_EQ(qntest::diffDesc(*plain.get(), *root.get()), "") << path << ", " << v.name;
            EXPECT_EQ(normalised, plainNormalised) << path << ", " << v.name;
        }
    }
}

TEST_F(Desc, NormalisedDescriptionsAreValidForRealParsers)
{
    if (!qntest::toolsAvailable())
        GTEST_SKIP() << "xmllint or python3 missing";
    for (const std::string &path : qntest::descFixtures()) {
        RootModel root;
        std::string normalised;
        ASSERT_EQ(parse(qntest::fixture(path), root.get(), &normalised), 0) << path;
        EXPECT_EQ(qntest::xmllintProblems(normalised), "") << path;
        // Every service is found in the UDA device namespace.
        std::string count = qntest::xpath(
            normalised, "count(/*[local-name()='root' and namespace-uri()='urn:schemas-upnp-org:device-1-0']"
                        "/*[local-name()='device' and namespace-uri()='urn:schemas-upnp-org:device-1-0']"
                        "//*[local-name()='service' and namespace-uri()='urn:schemas-upnp-org:device-1-0'])");
        EXPECT_EQ(count, std::to_string(root->device.serviceCount)) << path;
        std::string names = qntest::pythonOnTree(
            normalised, "print(doc.find('d:device/d:friendlyName', ns).text)\n"
                        "print(len(doc.findall('d:device/d:serviceList/d:service/d:SCPDURL', ns)))\n"
                        "x = doc.find('d:device/dlna:X_DLNADOC', ns)\n"
                        "print(x.text if x is not None else '-')");
        std::string expected = std::string(field(root->device, "friendlyName")) + "\n" +
                               std::to_string(root->device.serviceCount) + "\n" +
                               (field(root->device, "dlna:X_DLNADOC") ? "DMS-1.50" : "-") + "\n";
        EXPECT_EQ(names, expected) << path;
    }
}

// ---- Capacities --------------------------------------------------------------------

TEST_F(Desc, ServicesPerDevice)
{
    RootModel root;
    ASSERT_EQ(parse(description(services(kMaxServices)), root.get()), 0);
    EXPECT_EQ(root->device.serviceCount, kMaxServices);
    EXPECT_STREQ(serviceField(root->device, kMaxServices - 1, "SCPDURL"), "/s15.xml");

    RootModel over;
    EXPECT_EQ(parse(description(services(kMaxServices + 1)), over.get()), -500);

    // The container capacity error itself, as parseDevice reports it.
    std::string content = services(kMaxServices + 1);
    std::string text = "<device>" + content + "</device>";
    DocBuffer b(text, kDescDocKind);
    b.doc.pos = static_cast<uint32_t>(std::strlen("<device>"));
    QNDevDesc *dev = new QNDevDesc();
    dev->fieldCount = kMaxFields;
    EXPECT_EQ(parseDevice(&b.doc, dev), QN_ERR_NOMEM);
    freeDevice(dev);
}

TEST_F(Desc, EmbeddedDevicesPerDevice)
{
    RootModel root;
    ASSERT_EQ(parse(description(embedded(kMaxEmbeddedDevices)), root.get()), 0);
    ASSERT_EQ(root->device.deviceCount, kMaxEmbeddedDevices);
    EXPECT_STREQ(field(*root->device.devices[15], "UDN"), "uuid:15");

    RootModel over;
    EXPECT_EQ(parse(description(embedded(kMaxEmbeddedDevices + 1)), over.get()), -500);
}

TEST_F(Desc, FieldsPerDeviceAndServiceKeepTheFirst)
{
    RootModel root;
    std::string serviceWithMany = "<serviceList><service>" + leaves(kMaxFields + 3) + "</service></serviceList>";
    ASSERT_EQ(parse(description(leaves(kMaxFields) + serviceWithMany), root.get()), 0);
    EXPECT_EQ(root->device.fieldCount, kMaxFields);
    EXPECT_EQ(root->device.services[0]->fieldCount, kMaxFields);
    EXPECT_STREQ(root->device.services[0]->fields[kMaxFields - 1].name, "f31");

    RootModel over;
    ASSERT_EQ(parse(description(leaves(kMaxFields + 1) + "<UDN>uuid:x</UDN>"), over.get()), 0);
    EXPECT_EQ(over->device.fieldCount, kMaxFields);
    EXPECT_EQ(field(over->device, "UDN"), nullptr); // the 34th leaf is dropped
}

TEST_F(Desc, DeviceChildrenInAnyOrder)
{
    // Leaves before, between and after the containers keep document order.
    std::string content = "<deviceType>t</deviceType>" + services(1) +
                          "<friendlyName>f</friendlyName><iconList><icon><url>/i.png</url></icon></iconList>"
                          "<UDN>uuid:1</UDN>" + embedded(1) + "<presentationURL>/</presentationURL>";
    RootModel root;
    ASSERT_EQ(parse(description(content), root.get()), 0);
    const QNDevDesc &dev = root->device;
    ASSERT_EQ(dev.fieldCount, 4);
    EXPECT_STREQ(dev.fields[0].name, "deviceType");
    EXPECT_STREQ(dev.fields[1].name, "friendlyName");
    EXPECT_STREQ(dev.fields[2].name, "UDN");
    EXPECT_STREQ(dev.fields[3].name, "presentationURL");
    EXPECT_EQ(dev.serviceCount, 1);
    EXPECT_EQ(dev.deviceCount, 1);
}

struct BadDesc {
    const char *name;
    std::string text;
    int ret;
};

TEST_F(Desc, StructuralFailures)
{
    const BadDesc cases[] = {
        {"vendor container under device", description("<X_vendor><a>1</a></X_vendor>"), -500},
        {"second serviceList", description(services(1) + services(1)), -500},
        {"wrong child in serviceList", description("<serviceList><device><a>1</a></device></serviceList>"), -500},
        {"root with a prefix", "<u:root xmlns:u=\"urn:x\"><device><a>1</a></device></u:root>", -500},
        {"not a description", "<scpd><actionList></actionList></scpd>", -500},
        {"unknown container under root", description("", "<extra><a>1</a></extra>"), -500},
        {"empty root element", "<root/>", -500},
        {"mismatched tags", description("<UDN>x</UDN><serviceList></deviceList>"), -500},
        {"nothing", "", -500},
    };
    for (const BadDesc &c : cases) {
        RootModel root;
        EXPECT_EQ(parse(c.text, root.get()), c.ret) << c.name;
    }

    // parseDevice itself: a second serviceList is -1.
    std::string text = "<device>" + services(1) + services(1) + "</device>";
    DocBuffer b(text, kDescDocKind);
    b.doc.pos = 8;
    QNDevDesc *dev = new QNDevDesc();
    EXPECT_EQ(parseDevice(&b.doc, dev), -1);
    freeDevice(dev);
}

TEST_F(Desc, UrlBaseAndDescriptionWithoutDevice)
{
    RootModel root;
    std::string normalised;
    ASSERT_EQ(parse(description("<UDN>uuid:1</UDN>", "<URLBase>http://10.0.0.1:80/</URLBase>"), root.get(),
                    &normalised),
              0);
    EXPECT_STREQ(root->urlBase.name, "URLBase");
    EXPECT_STREQ(root->urlBase.val, "http://10.0.0.1:80/");
    EXPECT_NE(normalised.find("</specVersion><URLBase>http://10.0.0.1:80/</URLBase><device>"), std::string::npos);

    RootModel empty;
    ASSERT_EQ(parse("<root><specVersion><major>1</major></specVersion></root>", empty.get(), &normalised), 0);
    EXPECT_EQ(empty->device.fieldCount, 0);
    // Without anything to write the device element is left out: <device></device>
    // would read back as a text leaf of root.
    EXPECT_EQ(normalised, "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion>"
                          "<major>1</major></specVersion></root>");
}

TEST_F(Desc, DeepEmbeddedDevicesStopAtTheNestingBound)
{
    auto chain = [](int levels) {
        std::string open, close;
        for (int i = 0; i < levels; ++i) {
            open += "<deviceList><device><UDN>uuid:" + std::to_string(i) + "</UDN>";
            close = "</device></deviceList>" + close;
        }
        return description("<UDN>uuid:root</UDN>" + open + close);
    };
    // root, device, then two levels per embedded device, one for its UDN.
    const int fits = (kMaxXmlDepth - 3) / 2;
    RootModel deep;
    ASSERT_EQ(parse(chain(fits), deep.get()), 0);
    const QNDevDesc *dev = &deep->device;
    for (int i = 0; i < fits; ++i)
        dev = dev->devices[0];
    EXPECT_STREQ(field(*dev, "UDN"), ("uuid:" + std::to_string(fits - 1)).c_str());

    RootModel tooDeep;
    EXPECT_EQ(parse(chain(fits + 1), tooDeep.get()), -500);
}

// ---- Entities and prefixes -----------------------------------------------------------

TEST_F(Desc, EntitiesReachTheModelDecodedAndAreWrittenEscaped)
{
    RootModel root;
    std::string normalised;
    ASSERT_EQ(parse(description("<friendlyName>AT&amp;T &lt;Living&gt; &#x2122;</friendlyName>"
                                "<modelDescription>&lt;DIDL-Lite&gt;&lt;/DIDL-Lite&gt;</modelDescription>"),
                    root.get(), &normalised),
              0);
    EXPECT_STREQ(field(root->device, "friendlyName"), "AT&T <Living> \xE2\x84\xA2");
    EXPECT_STREQ(field(root->device, "modelDescription"), "<DIDL-Lite></DIDL-Lite>");
    EXPECT_NE(normalised.find("<friendlyName>AT&amp;T &lt;Living&gt; \xE2\x84\xA2</friendlyName>"),
              std::string::npos);
    RootModel again;
    ASSERT_EQ(parse(normalised, again.get()), 0);
    EXPECT_EQ(qntest::diffDesc(*root.get(), *again.get()), "");
    if (qntest::toolsAvailable()) {
        EXPECT_EQ(qntest::xpath(normalised, "string(//*[local-name()='friendlyName'])"),
                  "AT&T <Living> \xE2\x84\xA2");
    }
}

TEST_F(Desc, PrefixedLeavesAreDeclaredOnRootOrLeftOut)
{
    // dlna: declared on root, sec: on its leaf, bad: nowhere.
    std::string text =
        "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" xmlns:dlna='urn:schemas-dlna-org:device-1-0'>"
        "<device><UDN>uuid:1</UDN><dlna:X_DLNACAP>av-upload</dlna:X_DLNACAP>"
        "<sec:ProductCap xmlns:sec=\"http://www.sec.co.kr/dlna\">Tuner</sec:ProductCap>"
        "<bad:Leaf>kept in the model</bad:Leaf>" + services(1) + "</device></root>";
    RootModel root;
    std::string normalised;
    ASSERT_EQ(parse(text, root.get(), &normalised), 0);
    EXPECT_EQ(root->device.fieldCount, 4);
    EXPECT_STREQ(field(root->device, "bad:Leaf"), "kept in the model");
    ASSERT_EQ(root->nsCount, 2);
    EXPECT_NE(normalised.find("<root xmlns=\"urn:schemas-upnp-org:device-1-0\" "
                              "xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\" xmlns:sec=\"http://www.sec.co.kr/dlna\">"),
              std::string::npos)
        << normalised;
    EXPECT_NE(normalised.find("<sec:ProductCap>Tuner</sec:ProductCap>"), std::string::npos);
    EXPECT_EQ(normalised.find("bad:Leaf"), std::string::npos);

    RootModel again;
    ASSERT_EQ(parse(normalised, again.get()), 0);
    EXPECT_EQ(again->device.fieldCount, 3); // all but the undeclared one
    if (qntest::toolsAvailable()) {
        EXPECT_EQ(qntest::xmllintProblems(normalised), "");
        EXPECT_EQ(qntest::pythonOnTree(normalised,
                                       "print(doc.find('d:device/{http://www.sec.co.kr/dlna}ProductCap', ns).text)"),
                  "Tuner\n");
    }
}

TEST_F(Desc, HostileNamesNeverMakeTheOutputIllFormed)
{
    std::string text = description("<UDN>uuid:1</UDN><a=b>x</a=b><:x>y</:x><p:>z</p:><\xC3\x28>w</\xC3\x28>"
                                   "<ok&amp;>v</ok&amp;>");
    RootModel root;
    std::string normalised;
    ASSERT_EQ(parse(text, root.get(), &normalised), 0);
    EXPECT_EQ(normalised.find("a=b"), std::string::npos);
    if (qntest::toolsAvailable()) {
        EXPECT_EQ(qntest::xmllintProblems(normalised), "");
    }
}

TEST_F(Desc, RecordsWithNothingToWriteAreLeftOut)
{
    // A service whose only leaf carries an undeclared prefix, and an
    // embedded device without leaves: written as <service></service> they
    // would read back as text leaves, so they are not written at all.
    std::string content = "<UDN>uuid:1</UDN><serviceList><service><x:only>1</x:only></service>"
                          "<service><serviceId>kept</serviceId></service></serviceList>"
                          "<deviceList><device><iconList><icon><url>/i</url></icon></iconList></device></deviceList>";
    RootModel root;
    std::string normalised;
    ASSERT_EQ(parse(description(content), root.get(), &normalised), 0);
    EXPECT_EQ(root->device.serviceCount, 2);
    EXPECT_EQ(root->device.deviceCount, 1);
    EXPECT_NE(normalised.find("<device><UDN>uuid:1</UDN><serviceList><service><serviceId>kept</serviceId></service>"
                              "</serviceList></device>"),
              std::string::npos)
        << normalised;
    RootModel again;
    std::string twice;
    ASSERT_EQ(parse(normalised, again.get(), &twice), 0);
    EXPECT_EQ(twice, normalised);
}

// ---- Buffers, reuse, release ---------------------------------------------------------

TEST_F(Desc, NormalisedTextIsBoundedByTheBuffer)
{
    // Empty leaves written as <f0/> grow when normalised (<f0></f0>): in a
    // buffer just large enough for the original the output is cut, never
    // written beyond the buffer.
    std::string fields;
    for (int i = 0; i < kMaxFields; ++i)
        fields += "<f" + std::to_string(i) + "/>";
    const std::string text = description(fields);
    std::vector<char> buf(text.size() + 1 + 16, '#');
    std::memcpy(buf.data(), text.c_str(), text.size() + 1);
    QNTextDoc doc{};
    xmlDocOpen(&doc, kDescDocKind, buf.data(), static_cast<uint32_t>(text.size() + 1));
    RootModel root;
    ASSERT_EQ(parseDesc(&doc, root.get()), 0);
    EXPECT_EQ(root->device.fieldCount, kMaxFields);
    EXPECT_EQ(std::strlen(buf.data()), text.size());
    for (size_t i = text.size() + 1; i < buf.size(); ++i)
        ASSERT_EQ(buf[i], '#');
    EXPECT_EQ(writeDesc(&doc, root.get()), QN_ERR_NOMEM);

    // Without a size the text is left as it was.
    std::string copy = qntest::fixture("devices/minidlna/rootDesc.xml");
    const std::string original = copy;
    QNTextDoc readOnly{};
    xmlDocOpen(&readOnly, kDescDocKind, copy.data(), 0);
    RootModel other;
    ASSERT_EQ(parseDesc(&readOnly, other.get()), 0);
    EXPECT_EQ(copy, original);
}

TEST_F(Desc, ParsingAgainReusesTheRecords)
{
    RootModel root;
    ASSERT_EQ(parse(qntest::fixture("devices/minidlna/rootDesc.xml"), root.get()), 0);
    QNServDesc *first = root->device.services[0];
    first->extra1 = 7;
    ASSERT_EQ(parse(qntest::fixture("devices/network-light/network-light-desc.xml"), root.get()), 0);
    EXPECT_EQ(root->device.services[0], first);
    EXPECT_EQ(first->extra1, 0u);
    EXPECT_EQ(root->device.serviceCount, 2);
    EXPECT_STREQ(serviceField(root->device, 0, "controlURL"), "/SwitchPower/Control");
    EXPECT_EQ(root->nsCount, 0);
    // The third slot still holds its record; freeDesc releases it too (the
    // leak checker of the sanitizer build watches).
}

TEST_F(Desc, FreeDescEmptiesTheModel)
{
    RootModel root;
    ASSERT_EQ(parse(description(services(2) + embedded(2)), root.get()), 0);
    root->device.services[0]->scpd = newScpd();
    root->device.link1 = root.get();
    root->hostAddr = 1;
    root->hostPort = 2;
    ASSERT_EQ(freeDesc(root.get()), 0);
    EXPECT_EQ(root->device.serviceCount, 0);
    EXPECT_EQ(root->device.deviceCount, 0);
    EXPECT_EQ(root->device.services[0], nullptr);
    EXPECT_EQ(root->device.link1, nullptr);
    EXPECT_EQ(root->hostAddr, 0u);
    EXPECT_EQ(root->hostPort, 0);
    EXPECT_EQ(freeDesc(nullptr), QN_ERR_ARG);
    EXPECT_EQ(parseDesc(nullptr, root.get()), QN_ERR_ARG);
}

TEST_F(Desc, DescriptionOf64KiBIsReadAndRewritten)
{
    // Sixteen embedded devices with sixteen services each, padded with
    // blanks between the leaves to kMaxDocument bytes.
    std::string devices = "<deviceList>";
    for (int i = 0; i < kMaxEmbeddedDevices; ++i)
        devices += "<device><UDN>uuid:" + std::to_string(i) + "</UDN>" + services(kMaxServices) + "</device>";
    devices += "</deviceList>";
    std::string text = description("<UDN>uuid:root</UDN>" + devices);
    ASSERT_LT(text.size(), kMaxDocument);
    size_t at = text.find("<UDN>uuid:root");
    text.insert(at, std::string(kMaxDocument - text.size(), ' '));
    ASSERT_EQ(text.size(), kMaxDocument);
    RootModel root;
    std::string normalised;
    ASSERT_EQ(parse(text, root.get(), &normalised), 0);
    ASSERT_EQ(root->device.deviceCount, kMaxEmbeddedDevices);
    const QNDevDesc &last = *root->device.devices[kMaxEmbeddedDevices - 1];
    ASSERT_EQ(last.serviceCount, kMaxServices);
    EXPECT_STREQ(serviceField(last, kMaxServices - 1, "eventSubURL"), "/e15");
    RootModel again;
    ASSERT_EQ(parse(normalised, again.get()), 0);
    EXPECT_EQ(qntest::diffDesc(*root.get(), *again.get()), "");
}

// Generated programs run the stack on a thread of 64 KiB: the deepest
// description the reader accepts, the largest fixture SCPD and a hostile
// document of nested elements are parsed on such a thread.
TEST_F(Desc, ParsingFitsA64KiBThreadStack)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "sanitizer frames are larger than the real ones";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "sanitizer frames are larger than the real ones";
#endif
#endif
    struct Work {
        std::string deep, scpdText, hostile;
        int descRet = 1, scpdRet = 1, hostileRet = 1;
    } work;
    std::string open, close;
    // root, device, two levels per embedded device, three for a service leaf.
    for (int i = 0; i < (kMaxXmlDepth - 5) / 2; ++i) {
        open += "<deviceList><device><UDN>uuid:" + std::to_string(i) + "</UDN>" + services(2);
        close = "</device></deviceList>" + close;
    }
    work.deep = description("<UDN>uuid:root</UDN>" + open + close);
    work.scpdText = qntest::fixture("scpd/AVTransport2.xml");
    while (work.hostile.size() + 11 < kMaxDocument)
        work.hostile += "<root><device>";
    auto body = [](void *arg) -> void * {
        Work &w = *static_cast<Work *>(arg);
        {
            RootModel root;
            w.descRet = parse(w.deep, root.get());
        }
        {
            qntest::ScpdModel scpd;
            DocBuffer b(w.scpdText, kScpdDocKind);
            w.scpdRet = parseScpd(&b.doc, scpd.get());
        }
        RootModel root;
        w.hostileRet = parse(w.hostile, root.get());
        return nullptr;
    };
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, body, &work), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(work.descRet, 0);
    EXPECT_EQ(work.scpdRet, 0);
    EXPECT_EQ(work.hostileRet, -500);
}

TEST_F(Desc, EveryCutOfARealDescriptionFailsCleanly)
{
    const std::string text = qntest::fixture("devices/minidlna/rootDesc.xml");
    const size_t closing = text.rfind("</root>") + std::strlen("</root>");
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        RootModel root;
        int ret = parse(text.substr(0, cut), root.get());
        ASSERT_EQ(ret, cut >= closing ? 0 : -500) << "cut at " << cut;
    }
}

} // namespace

namespace {

// The url leaves of a device's icons, in order.
std::vector<std::string> iconUrls(const QNDevDesc &dev)
{
    std::vector<std::string> urls;
    for (int i = 0; i < dev.iconCount; ++i)
        urls.emplace_back(findNameVal(dev.icons[i]->fields, dev.icons[i]->fieldCount, "url"));
    return urls;
}

std::string icon(const std::string &url)
{
    return "<icon><mimetype>image/png</mimetype><width>48</width><url>" + url + "</url></icon>";
}

TEST_F(Desc, IconsAreKeptAndNeverFailTheDescription)
{
    std::string nine;
    std::vector<std::string> firstEight;
    for (int i = 0; i < kMaxIcons + 1; ++i) {
        nine += icon("/" + std::to_string(i));
        if (i < kMaxIcons)
            firstEight.push_back("/" + std::to_string(i));
    }
    struct Case {
        const char *name;
        std::string iconList;
        std::vector<std::string> urls;
    } cases[] = {
        {"two icons, blanks and a comment", "\n <icon><url>/a</url></icon> <!-- x --> " + icon("/b") + "\n", {"/a", "/b"}},
        {"more than fit: the first ones", nine, firstEight},
        {"other children passed over", "<x:logo><url>/no</url></x:logo><note>n</note><empty/>" + icon("/c"), {"/c"}},
        {"an icon with a nested container", "<icon><url>/d</url><ext><a>1</a></ext></icon>" + icon("/e"), {"/d", "/e"}},
        {"empty list", "", {}},
    };
    for (const Case &c : cases) {
        RootModel root;
        const std::string content = "<deviceType>t</deviceType><iconList>" + c.iconList + "</iconList>" +
                                    "<UDN>uuid:1</UDN>" + services(1);
        ASSERT_EQ(parse(description(content), root.get()), 0) << c.name;
        EXPECT_EQ(iconUrls(root->device), c.urls) << c.name;
        EXPECT_EQ(root->device.serviceCount, 1) << c.name << ": the rest of the device is read";
    }
    // The minidlna capture's four icons, with every leaf.
    RootModel dlna;
    ASSERT_EQ(parse(qntest::fixture("devices/minidlna/rootDesc.xml"), dlna.get()), 0);
    ASSERT_EQ(dlna->device.iconCount, 4);
    EXPECT_EQ(dlna->device.icons[3]->fieldCount, 5);
    EXPECT_STREQ(findNameVal(dlna->device.icons[3]->fields, 5, "mimetype"), "image/jpeg");
}

} // namespace
