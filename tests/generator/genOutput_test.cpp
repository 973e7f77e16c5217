// What QNGenCmd writes: golden outputs for the BinaryLight, callback files,
// the rules for existing files, the embedded XML, and the generated C of
// real devices compiled without a warning (and linked with the SDK).
#include "emitFiles.h"
#include "genInput.h"

#include <gtest/gtest.h>

namespace {

using namespace gentest;

const char kBinaryLight[] = "examples/binarylight/BinaryLight.xml";

std::vector<std::string> fileNames(const fs::path &dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Generates into a fresh folder and compares every file with the golden
// folder. QN_UPDATE_GOLDEN=1 rewrites the golden folder instead.
void checkGolden(const std::string &goldenName, const std::vector<std::string> &args)
{
    TempDir out;
    std::vector<std::string> all = {"-i", kBinaryLight, "-o", out.str(), "-b", "Lamp"};
    all.insert(all.end(), args.begin(), args.end());
    RunResult r = runGen(all);
    ASSERT_EQ(r.status, 0) << r.out;
    fs::path golden = sourcePath("tests/data/generator/golden/" + goldenName);
    const char *update = std::getenv("QN_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        fs::remove_all(golden);
        fs::create_directories(golden);
        fs::copy(out.path(), golden);
        return;
    }
    const std::string regenerate = "\nIf the change is intended, regenerate the golden files with:\n"
                                   "  QN_UPDATE_GOLDEN=1 <build>/tests/genOutput_test --gtest_filter='GenGolden.*'\n"
                                   "and review the difference with git diff tests/data/generator/golden.";
    ASSERT_EQ(fileNames(out.path()), fileNames(golden)) << regenerate;
    for (const std::string &name : fileNames(golden))
        EXPECT_EQ(readText(out.path() / name), readText(golden / name)) << name << " differs" << regenerate;
}

TEST(GenGolden, BinaryLightDevice)
{
    checkGolden("binarylight-device", {});
}

TEST(GenGolden, BinaryLightControlPoint)
{
    checkGolden("binarylight-cp", {"-t", "cp"});
}

TEST(GenOutput, ExistingFiles)
{
    TempDir out;
    ASSERT_EQ(runGen({"-i", kBinaryLight, "-o", out.str(), "-b", "Lamp"}).status, 0);
    const std::string edited = "/* my light */\n";
    for (const char *name : {"SwitchPower_CB.c", "SwitchPower_CB.h", "SwitchPower_xml.h", "Lamp.c", "CMakeLists.txt"})
        writeText(out.path() / name, edited);
    ASSERT_EQ(runGen({"-i", kBinaryLight, "-o", out.str(), "-b", "Lamp"}).status, 0);
    struct Case {
        const char *file;
        bool kept;
    };
    const Case cases[] = {
        {"SwitchPower_CB.c", true},   // the application's code
        {"CMakeLists.txt", true},     // the application's build
        {"SwitchPower_CB.h", false},  // follows the SCPD
        {"SwitchPower_xml.h", false}, // follows the XML
        {"Lamp.c", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(readText(out.path() / c.file) == edited, c.kept);
    }
}

// In arguments are checked by name in order, out arguments get values;
// inout and unknown directions get neither.
TEST(GenOutput, ActionCallback)
{
    TempDir dir;
    writeText(dir.path() / "desc.xml", descriptionText({{"Svc:1", "/Svc.xml"}}));
    writeText(dir.path() / "Svc.xml",
              scpdText({{"Act", {{"A", "in"}, {"B", "in"}, {"C", "out"}, {"D", "inout"}, {"E", "IN"}, {"F", "out"}}},
                        {"Plain", {}}},
                       {"V"}));
    RunResult r = runGen({"-i", dir.str("desc.xml"), "-o", dir.str("out"), "-b", "Thing"});
    ASSERT_EQ(r.status, 0) << r.out;
    std::string source = readText(dir.path() / "out/Svc_CB.c");
    const std::string todo = "\t// TODO: Add your extra code here\n"
                             "\t// To refuse the request, set action->errCode to a UPnP error (600\n"
                             "\t// Argument Value Invalid, 701 Transition not available, ...) and\n"
                             "\t// action->errDesc to its text, and return QN_ERR: the SOAP fault\n"
                             "\t// carries them (without them it is 501 XML error).\n";
    const std::string act = "QN_RET qnActionCB_Act(QNApiAction *action)\n{\n\tint i = 0;\n\n"
                            "\tif (0 != strcmp(action->argNV[i ++].name, \"A\"))\n\t\treturn QN_ERR_ARG;\n"
                            "\tif (0 != strcmp(action->argNV[i ++].name, \"B\"))\n\t\treturn QN_ERR_ARG;\n"
                            "\n" + todo + "\n\ti = 0;\n"
                            "\tqnSetNVNameVal(&action->argNV[i ++], \"C\", \"tempVal0\");\n"
                            "\tqnSetNVNameVal(&action->argNV[i ++], \"F\", \"tempVal1\");\n"
                            "\taction->argNum = i;\n\n\treturn QN_OK;\n}\n\n";
    const std::string plain = "QN_RET qnActionCB_Plain(QNApiAction *action)\n{\n\tint i = 0;\n\n" +
                              todo + "\n\taction->argNum = i;\n\n\treturn QN_OK;\n}\n\n";
    const std::string query = "\nQN_RET qnQueryCB_V(QNNameVal *nv)\n{\n\tqnSetNVVal(nv->val, \"tempVal\");\n"
                              "\treturn QN_OK;\n}\n\n";
    EXPECT_NE(source.find(act + plain + query), std::string::npos) << source;
    EXPECT_EQ(readText(dir.path() / "out/Svc_CB.h").substr(source.find("*/\n") + 4),
              "QN_RET qnActionCB_Act(QNApiAction *action);\nQN_RET qnActionCB_Plain(QNApiAction *action);\n\n"
              "QN_RET qnQueryCB_V(QNNameVal *nv);\n\n");
    EXPECT_EQ(compileOnly(dir.str("out")).status, 0);
}

// Prints every embedded literal of the headers named on the command line,
// each followed by a NUL, so that the test compares them byte for byte.
const char kPrintLiterals[] = "#include <stdio.h>\n#include \"literals.h\"\n"
                              "int main(void)\n{\n\tunsigned i;\n"
                              "\tfor (i = 0; i < sizeof texts / sizeof texts[0]; i++) {\n"
                              "\t\tfputs(texts[i], stdout);\n\t\tputchar(0);\n\t}\n\treturn 0;\n}\n";

// The literal holds exactly the file's text without its line breaks: quotes,
// backslashes, trigraph starts, controls, tabs, indentation, long lines and
// UTF-8 included. Compiled into a program that prints the literals.
TEST(GenOutput, EmbeddedXmlEqualsTheFile)
{
    TempDir dir;
    std::string longLine = "<long>" + std::string(3000, 'z') + "\\\"?\?/</long>";
    std::string tricky = "<?xml version=\"1.0\"?>\r\n<root a=\"q\\\"b\">\r\n\t<x>C:\\dir\\</x>\n  <y>?\?= ?\?/ ?\?'</y>\r"
                         "<z>\x01\x7f tab\there</z>\n\n" + longLine + "\n<u>Gr\xc3\xbc\xc3\x9f</u></root>";
    writeText(dir.path() / "tricky.xml", tricky);
    writeText(dir.path() / "empty.xml", "");
    const std::vector<std::string> xmls = {
        dir.str("tricky.xml"),
        dir.str("empty.xml"),
        sourcePath(kBinaryLight),
        sourcePath("examples/binarylight/SwitchPower.xml"),
        sourcePath("tests/data/fixtures/devices/minidlna/rootDesc.xml"),
        sourcePath("tests/data/devices/embedded/Hub.xml"),
        sourcePath("tests/data/fixtures/scpd/AVTransport2.xml"),
    };
    GenOptions opts;
    opts.brief = "T";
    QNRootDesc root{};
    GenPlan plan = makePlan(opts, root, "\n");
    std::string literals = "static const char *texts[] = {\n";
    for (size_t i = 0; i < xmls.size(); ++i) {
        std::string header = "doc" + std::to_string(i) + ".h";
        ASSERT_EQ(writeXmlHeader(plan, xmls[i], dir.str(header)), 0) << xmls[i];
        literals += "#include \"" + header + "\"\n,\n";
    }
    writeText(dir.path() / "literals.h", literals + "};\n");
    writeText(dir.path() / "print.c", kPrintLiterals);
    std::vector<std::string> line = compileLine(dir.str());
    line.insert(line.end(), {dir.str("print.c"), "-o", dir.str("print")});
    RunResult built = runProgram(line, dir.str());
    ASSERT_EQ(built.status, 0) << built.out;
    RunResult printed = runProgram({dir.str("print")});
    ASSERT_EQ(printed.status, 0);
    size_t at = 0;
    for (const std::string &xml : xmls) {
        SCOPED_TRACE(xml);
        std::string expected = readText(xml);
        std::erase_if(expected, [](char c) { return c == '\r' || c == '\n'; });
        size_t end = printed.out.find('\0', at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_EQ(printed.out.substr(at, end - at), expected);
        at = end + 1;
    }
    EXPECT_EQ(writeXmlHeader(plan, dir.str("missing.xml"), dir.str("missing.h")), -1);
    EXPECT_FALSE(fs::exists(dir.path() / "missing.h"));
}

struct Document {
    const char *name;
    const char *path;
    const char *brief;
};

const Document kDocuments[] = {
    {"BinaryLight", kBinaryLight, "Lamp"},
    {"MiniDLNA: three services, a prefixed leaf", "tests/data/fixtures/devices/minidlna/rootDesc.xml", "Dlna"},
    {"network light: SCPDs in a subfolder, names with '-'",
     "tests/data/fixtures/devices/network-light/network-light-desc.xml", "Light"},
    {"hub: embedded devices, a shared SCPD, one action in three services", "tests/data/devices/embedded/Hub.xml",
     "Hub"},
    {"media renderer: the standard AV services", "tests/data/devices/av/AVDevice.xml", "Renderer"},
};

// Every device and every control point builds and links with the SDK.
TEST(GenCompile, DevicesAndControlPointsBuildWithoutWarnings)
{
    for (const Document &doc : kDocuments) {
        for (bool cp : {false, true}) {
            SCOPED_TRACE(std::string(doc.name) + (cp ? ", control point" : ", device"));
            TempDir out;
            RunResult gen = runGen({"-i", doc.path, "-o", out.str(), "-b", doc.brief, "-t", cp ? "cp" : "dev"});
            ASSERT_EQ(gen.status, 0) << gen.out;
            RunResult built = buildProgram(out.str());
            EXPECT_EQ(built.status, 0) << built.out;
            EXPECT_TRUE(fs::exists(out.path() / "program"));
        }
    }
}

// The device's other mode: files from the local folder instead of the
// embedded table, as a user gets it by commenting out NO_FILE_SYS.
TEST(GenCompile, FileSystemVariantBuilds)
{
    TempDir out;
    ASSERT_EQ(runGen({"-i", kBinaryLight, "-o", out.str(), "-b", "Lamp"}).status, 0);
    ASSERT_TRUE(useFileSystem(out.path() / "Lamp.c"));
    RunResult built = buildProgram(out.str());
    EXPECT_EQ(built.status, 0) << built.out;
}

// Two lamps share Switch.xml and three services declare GetStatus: one
// embedded document, one callback file pair, one callback per name.
TEST(GenCompile, SharedScpdIsWrittenOnce)
{
    TempDir out;
    ASSERT_EQ(runGen({"-i", "tests/data/devices/embedded/Hub.xml", "-o", out.str(), "-b", "Hub"}).status, 0);
    std::string main = readText(out.path() / "Hub.c");
    auto count = [&](const std::string &text) {
        size_t n = 0;
        for (size_t at = main.find(text); at != std::string::npos; at = main.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("#include \"Switch_CB.h\""), 1u);
    EXPECT_EQ(count("static char Switch_xml[]"), 1u);
    EXPECT_EQ(count("{ WEB_PATH \"Switch.xml\", Switch_xml },"), 1u);
    EXPECT_EQ(count("{ \"GetStatus\", qnActionCB_GetStatus },"), 1u);
    EXPECT_EQ(fileNames(out.path()),
              (std::vector<std::string>{"CMakeLists.txt", "Hub.c", "Hub_xml.h", "Light_CB.c", "Light_CB.h",
                                        "Light_xml.h", "Status_CB.c", "Status_CB.h", "Status_xml.h", "Switch_CB.c",
                                        "Switch_CB.h", "Switch_xml.h"}));
    std::string light = readText(out.path() / "Light_CB.c");
    EXPECT_EQ(light.find("QN_RET qnActionCB_GetStatus("), std::string::npos);
    EXPECT_NE(light.find("qnActionCB_GetStatus is in Status_CB.c"), std::string::npos);
}

} // namespace
