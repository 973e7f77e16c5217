// The generator's parts: line ends, folders, template chunks and sections,
// derived names, and the plan of callbacks over shared SCPDs.
#include "driver.h"
#include "expand.h"
#include "genInput.h"
#include "genPlan.h"
#include "templates.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace gentest;

TEST(GenParts, ParseLineEnd)
{
    struct Case {
        const char *name;
        const char *escaped;
        int result;
        const char *converted;
    };
    const Case cases[] = {
        {"LF", "\\n", GR_OK, "\n"},
        {"CR LF", "\\r\\n", GR_OK, "\r\n"},
        {"CR", "\\r", GR_OK, "\r"},
        {"two pairs, the most", "\\n\\n", GR_OK, "\n\n"},
        {"three pairs", "\\r\\n\\n", GR_BAD_OPTIONS, ""},
        {"tab escape", "\\t", GR_BAD_OPTIONS, ""},
        {"lone backslash", "\\", GR_BAD_OPTIONS, ""},
        {"letters without backslash", "rn", GR_BAD_OPTIONS, ""},
        {"a real newline", "\n", GR_BAD_OPTIONS, ""},
        {"good then bad", "\\n\\x", GR_BAD_OPTIONS, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "stale";
        EXPECT_EQ(parseLineEnd(c.escaped, &out), c.result);
        if (c.result == GR_OK) {
            EXPECT_EQ(out, c.converted);
        }
    }
}

TEST(GenParts, MakeDirs)
{
    TempDir dir;
    writeText(dir.path() / "file", "x");
    struct Case {
        const char *name;
        std::string path;
        int result;
    };
    const Case cases[] = {
        {"one level", dir.str("a"), 0},
        {"existing", dir.str("a"), 0},
        {"nested", dir.str("b/c/d"), 0},
        {"trailing slash", dir.str("e/f/"), 0},
        {"below a file", dir.str("file/g"), -1},
        {"is a file", dir.str("file"), -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(makeDirs(c.path), c.result);
        if (c.result == 0) {
            EXPECT_TRUE(fs::is_directory(c.path));
        }
    }
}

TEST(GenParts, TagsMatchByTheirWholeText)
{
    EXPECT_EQ(matchTag("<!--QNTAGgcl-->"), TT_GCL);
    EXPECT_EQ(matchTag("<!--QNTAGgclf-->"), TT_GCLF);
    EXPECT_EQ(matchTag("<!--QNTAGsdb--> and more"), TT_SDB);
    EXPECT_EQ(matchTag("x<!--QNTAGsdb-->"), TT_TEXT);
    EXPECT_EQ(matchTag("<!--QNTAGgc-->"), TT_TEXT);
    for (int tag = 0; tag < TT_COUNT; ++tag)
        EXPECT_EQ(matchTag(tagText(static_cast<TemplateTag>(tag))), tag);
}

TEST(GenParts, SplitTemplate)
{
    TemplateChunks chunks = splitTemplate("int <!--QNTAGgpb-->Main;\n<!--QNTAGsdb-->\n\tx;\n<!--QNTAGgih-->\n\n");
    std::vector<std::string_view> expected = {"int ",  tagText(TT_GPB), "Main;", tagText(TT_GLF), tagText(TT_SDB),
                                              "\tx;", tagText(TT_GLF), tagText(TT_GIH), tagText(TT_GLF)};
    EXPECT_EQ(chunks, expected);
}

// A template with both kinds of sections, expanded for each role.
TEST(GenParts, SectionsSelectTheRolesText)
{
    GenOptions opts;
    opts.brief = "Lamp";
    QNRootDesc root{};
    TemplateChunks tpl = splitTemplate("all <!--QNTAGgpb-->\n<!--QNTAGsdb-->\ndev\n<!--QNTAGsde-->\nboth\n"
                                       "<!--QNTAGscpb-->\ncp <!--QNTAGgpb-->\n<!--QNTAGscpe-->\nend\n");
    struct Case {
        const char *name;
        uint8_t isDevice;
        bool sections;
        const char *expected;
    };
    const Case cases[] = {
        {"device", 1, true, "all Lamp\r\ndev\r\nboth\r\nend\r\n"},
        {"control point", 0, true, "all LampCP\r\nboth\r\ncp LampCP\r\nend\r\n"},
        {"fragment: no sections", 0, false, "all LampCP\r\ndev\r\nboth\r\ncp LampCP\r\nend\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        opts.isDevice = c.isDevice;
        GenPlan plan = makePlan(opts, root, "\r\n");
        std::string out;
        expandTemplate(tpl, plan, &out, c.sections);
        EXPECT_EQ(out, c.expected);
    }
}

// Every line of the generated main source ends with the chosen line end.
TEST(GenParts, LineEndReachesEveryLine)
{
    GenOptions opts;
    opts.brief = "Lamp";
    QNRootDesc root{};
    for (uint8_t isDevice : {1, 0}) {
        opts.isDevice = isDevice;
        GenPlan plan = makePlan(opts, root, "\r\n");
        std::string out;
        writeBanner(plan, &out);
        expandTemplate(mainTemplate(), plan, &out, true);
        for (size_t at = out.find('\n'); at != std::string::npos; at = out.find('\n', at + 1))
            ASSERT_TRUE(at > 0 && out[at - 1] == '\r') << "bare LF at " << at;
        EXPECT_EQ(out.find("<!--QNTAG"), std::string::npos);
    }
}

QNServDesc serviceWithUrl(const char *url)
{
    QNServDesc serv{};
    if (url != nullptr) {
        copyBounded(serv.fields[0].name, sizeof serv.fields[0].name, "SCPDURL");
        copyBounded(serv.fields[0].val, sizeof serv.fields[0].val, url);
        serv.fieldCount = 1;
    }
    return serv;
}

TEST(GenParts, ScpdFileAndCallbackBase)
{
    struct Case {
        const char *name;
        const char *url;
        std::string file;
        std::string cbBase;
        std::string ident;
    };
    const std::string longName(200, 'a');
    const std::string longUrl = "/" + longName;
    const Case cases[] = {
        {"plain", "/SwitchPower.xml", "SwitchPower.xml", "SwitchPower_CB", "SwitchPower_xml"},
        {"several segments", "/xml/SwitchPower-scpd.xml", "SwitchPower-scpd.xml", "SwitchPower-scpd_CB",
         "SwitchPower_scpd_xml"},
        {"backslash", "dir\\Svc.XML", "Svc.XML", "Svc_CB", "Svc_XML"},
        {"absolute URL", "http://10.0.0.1:80/a/b.xml", "b.xml", "b_CB", "b_xml"},
        {"no extension", "/scpd", "scpd", "scpd_CB", "scpd"},
        {"only the extension", "/.xml", ".xml", "_CB", "x_xml"},
        {"digit first", "/1.xml", "1.xml", "1_CB", "x1_xml"},
        {"blank and quote", "/a b\".xml", "a b\".xml", "a_b__CB", "a_b__xml"},
        {"ends with a slash", "/dir/", kUnknownName, "XXXXXXXX_CB", "XXXXXXXX"},
        {"missing", nullptr, kUnknownName, "XXXXXXXX_CB", "XXXXXXXX"},
        {"long", longUrl.c_str(), longName.substr(0, 127), longName.substr(0, 127) + "_CB",
         longName.substr(0, 127)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QNServDesc serv = serviceWithUrl(c.url);
        std::string file = scpdFileOf(&serv);
        EXPECT_EQ(file, c.file);
        EXPECT_EQ(cbBaseOf(file), c.cbBase);
        EXPECT_EQ(fileScopeIdentOf(file), c.ident);
    }
}

TEST(GenParts, CStringEscapes)
{
    struct Case {
        const char *name;
        std::string text;
        std::string escaped;
    };
    const Case cases[] = {
        {"plain", "<a b=\"c\">", "<a b=\\\"c\\\">"},
        {"backslash", "C:\\dir", "C:\\\\dir"},
        {"trigraph", "?\?=x???", "?\\?=x?\\?\\?"},
        {"tab stays", "a\tb", "a\tb"},
        {"controls", std::string("a\x01\x7f", 3) + "7", "a\\001\\1777"},
        {"UTF-8 stays", "Gr\xc3\xbc\xc3\x9f", "Gr\xc3\xbc\xc3\x9f"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cStringOf(c.text), c.escaped);
    }
}

TEST(GenParts, DirectoryOfTheDescription)
{
    EXPECT_EQ(directoryOf("examples/binarylight/BinaryLight.xml"), "examples/binarylight");
    EXPECT_EQ(directoryOf("BinaryLight.xml"), ".");
    EXPECT_EQ(directoryOf("./BinaryLight.xml"), ".");
    EXPECT_EQ(directoryOf("/BinaryLight.xml"), "/");
}

// The hub: Switch.xml serves two lamps, GetStatus is in three services.
TEST(GenParts, PlanSharesScpdsAndCallbacks)
{
    GenOptions opts;
    opts.brief = "Hub";
    opts.inputPath = sourcePath("tests/data/devices/embedded/Hub.xml");
    std::string text = readText(opts.inputPath);
    auto root = std::make_unique<QNRootDesc>();
    QNTextDoc doc;
    xmlDocOpen(&doc, kDescDocKind, text.data(), 0);
    ASSERT_EQ(parseDesc(&doc, root.get()), 0);
    ASSERT_EQ(readScpdFiles(opts.inputPath, &root->device), 0);
    GenPlan plan = makePlan(opts, *root, "\n");
    freeDesc(root.get());

    std::vector<std::string> files;
    for (const ScpdFile &f : plan.scpds)
        files.push_back(f.file + " " + f.ident + " " + f.cbBase);
    EXPECT_EQ(files, (std::vector<std::string>{"Status.xml Status_xml Status_CB", "Switch.xml Switch_xml Switch_CB",
                                               "Light.xml Light_xml Light_CB"}));
    std::vector<std::string> rows;
    for (const TableRow &r : plan.actionRows)
        rows.push_back(r.name);
    EXPECT_EQ(rows, (std::vector<std::string>{"GetStatus", "SetTarget", "GetLevel"}));
    ASSERT_EQ(plan.scpds[2].actions.size(), 2u);
    EXPECT_TRUE(plan.scpds[2].actions[0].own);
    EXPECT_FALSE(plan.scpds[2].actions[1].own);
    EXPECT_EQ(plan.scpds[2].actions[1].owner, "Status_CB");
    EXPECT_EQ(plan.descIdent, "Hub_xml");
    EXPECT_EQ(plan.localPath, sourcePath("tests/data/devices/embedded"));
}

} // namespace
