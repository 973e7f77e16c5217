// QNGenCmd as a program: options, usage, exit statuses, progress messages,
// input paths and output folders.
#include "genInput.h"
#include "genOptions.h"
#include "qnLimits.h"

#include <gtest/gtest.h>

namespace {

using namespace gentest;

std::string usageAfterNotice(const std::string &program)
{
    return "QNGenCmd: A comand line tool to generate C/C++ code for Zentrova SDK\r\n"
           "Usage: " + program + " -h\r\n"
           "Usage: " + program + " -i InputFileName -o OutputDir\r\n"
           "-i InputFileName - file name of description xml for root device\r\n"
           "-o OutputDir - where to output files\r\n"
           "-t dev|cp - generates code for UPnP device or control point\r\n"
           "-l c|cpp - generates C code or C++ code\r\n"
           "-a x.x.x.x - IP address of entity, default to use entity's local IP\r\n"
           "-b ProjectBrief - Brief name of project to generate prefix\r\n"
           "-n name - entity's name\r\n"
           "-h - print this help info\r\n"
           "\r\n";
}

// Everything after the first (notice) line.
std::string afterFirstLine(const std::string &text)
{
    size_t nl = text.find('\n');
    return nl == std::string::npos ? "" : text.substr(nl + 1);
}

struct UsageCase {
    const char *name;
    std::vector<std::string> args;
};

TEST(GenCmdUsage, PrintsUsageAndEndsWithZero)
{
    const std::string bl = "examples/binarylight/BinaryLight.xml";
    const UsageCase cases[] = {
        {"help", {"-h"}},
        {"help after options", {"-i", bl, "-h"}},
        {"help word", {"-help", "x"}},
        {"type in upper case", {"-i", bl, "-o", "/nonexistent", "-b", "X", "-t", "CP"}},
        {"unknown type", {"-t", "device"}},
        {"name option listed but refused", {"-n", "Lamp"}},
        {"unknown option", {"-x", "y"}},
        {"argument without a dash", {"input.xml"}},
        {"option without a value", {"-i"}},
        {"value missing after pairs", {"-i", bl, "-o"}},
        {"dash alone", {"-", "x"}},
    };
    for (const UsageCase &c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = runGen(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(afterFirstLine(r.out), usageAfterNotice(QNGEN_CMD));
    }
}

TEST(GenCmdUsage, NoArgumentsFailsSilently)
{
    RunResult r = runGen({});
    EXPECT_EQ(r.status, exitStatusOf(GR_BAD_OPTIONS));
    EXPECT_EQ(r.out, "");
}

struct FailureCase {
    const char *name;
    std::vector<std::string> args;
    int result;
    std::string message; // expected in the output; empty: no output at all
};

TEST(GenCmdFailures, StatusAndMessage)
{
    TempDir dir;
    writeSimpleDevice(dir);
    writeText(dir.path() / "notxml.xml", "this is not a description\n");
    writeText(dir.path() / "noscpd.xml", descriptionText({{"Svc:1", "/Missing.xml"}}));
    writeText(dir.path() / "nourl.xml", descriptionText({{"Svc:1", ""}}));
    writeText(dir.path() / "badscpd.xml", descriptionText({{"Bad:1", "/Bad.xml"}}));
    writeText(dir.path() / "Bad.xml", "<?xml version=\"1.0\"?>\n<scpd><vendor><x>1</x></vendor></scpd>\n");
    writeText(dir.path() / "empty.xml", descriptionText({{"Empty:1", "/Empty.xml"}}));
    writeText(dir.path() / "Empty.xml", "");
    writeText(dir.path() / "file", "a file where a folder should be");
    const std::string out = dir.str("out");
    const std::string desc = dir.str("desc.xml");
    const FailureCase cases[] = {
        {"no brief", {"-i", desc, "-o", out}, GR_BAD_OPTIONS, ""},
        {"no output folder", {"-i", desc, "-b", "X"}, GR_BAD_OPTIONS, ""},
        {"no input", {"-o", out, "-b", "X"}, GR_BAD_OPTIONS, ""},
        {"output folder under a file", {"-i", desc, "-o", dir.str("file/out"), "-b", "X"}, GR_NO_OUTPUT, ""},
        {"description missing", {"-i", dir.str("none.xml"), "-o", out, "-b", "X"}, GR_NO_FILE,
         " unable to open file " + dir.str("none.xml") + "\r\n"},
        {"description does not parse", {"-i", dir.str("notxml.xml"), "-o", out, "-b", "X"}, GR_PARSE_FAILED,
         " parsing of file " + dir.str("notxml.xml") + " failed!\r\n"},
        {"SCPD missing", {"-i", dir.str("noscpd.xml"), "-o", out, "-b", "X"}, GR_PARSE_FAILED,
         " could not open file " + dir.str("Missing.xml") + "\r\n parsing of scpd failed!\r\n"},
        {"no SCPDURL", {"-i", dir.str("nourl.xml"), "-o", out, "-b", "X"}, GR_PARSE_FAILED,
         " could not find SCPDURL\r\n parsing of scpd failed!\r\n"},
        {"SCPD does not parse", {"-i", dir.str("badscpd.xml"), "-o", out, "-b", "X"}, GR_PARSE_FAILED,
         " parseScpd() error: -500\r\n parsing of scpd failed!\r\n"},
        {"SCPD empty", {"-i", dir.str("empty.xml"), "-o", out, "-b", "X"}, GR_PARSE_FAILED,
         " could not read data from file " + dir.str("Empty.xml") + "\r\n parsing of scpd failed!\r\n"},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out);
        RunResult r = runGen(c.args);
        EXPECT_EQ(r.status, exitStatusOf(c.result));
        if (c.message.empty())
            EXPECT_EQ(r.out, "");
        else
            EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(dir.path() / "out" / "X.c"));
    }
}

// Outputs that cannot be written: a folder stands where a file should be.
TEST(GenCmdFailures, UnwritableOutputs)
{
    struct Case {
        const char *name;
        const char *blocked;
        int result;
    };
    const Case cases[] = {
        {"main source", "Thing.c", GR_NO_OUTPUT},
        {"callback header", "Svc_CB.h", GR_NO_FILE},
        {"callback source", "Svc_CB.c", GR_NO_FILE},
        {"XML header: later files are still written", "Svc_xml.h", GR_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeSimpleDevice(dir);
        fs::create_directories(dir.path() / "out" / c.blocked);
        RunResult r = runGen({"-i", dir.str("desc.xml"), "-o", dir.str("out"), "-b", "Thing"});
        EXPECT_EQ(r.status, exitStatusOf(c.result)) << r.out;
        bool writesCallbacks = c.result == GR_OK;
        EXPECT_EQ(fs::exists(dir.path() / "out/Svc_CB.h") && fs::is_regular_file(dir.path() / "out/Svc_CB.h"),
                  writesCallbacks || std::string(c.blocked) == "Svc_CB.c");
    }
}

TEST(GenCmdRun, ProgressMessagesInOrder)
{
    TempDir dir;
    writeSimpleDevice(dir);
    std::string desc = dir.str("desc.xml");
    RunResult r = runGen({"-i", desc, "-o", dir.str("out"), "-b", "Thing"});
    ASSERT_EQ(r.status, 0) << r.out;
    std::string expected = " parsing file " + desc + ": " + readText(desc) + "\r\n parse ok!\r\n file name = " +
                           dir.str("Svc.xml") + "\r\n open file " + dir.str("Svc.xml") + " OK\r\n fileName = " +
                           dir.str("out") + "/Thing.c\r\n";
    EXPECT_EQ(r.out, expected);
}

// A description is read whole up to kMaxDocument bytes; one byte more is refused.
TEST(GenCmdRun, DescriptionSizeLimit)
{
    TempDir dir;
    writeSimpleDevice(dir);
    std::string base = descriptionText({{"Svc:1", "/Svc.xml"}});
    auto padded = [&](size_t size) {
        std::string comment = "<!--" + std::string(size - base.size() - 8, 'x') + "-->\n";
        return base + comment;
    };
    writeText(dir.path() / "fits.xml", padded(kMaxDocument));
    writeText(dir.path() / "over.xml", padded(kMaxDocument + 1));
    ASSERT_EQ(fs::file_size(dir.path() / "fits.xml"), kMaxDocument);
    RunResult fits = runGen({"-i", dir.str("fits.xml"), "-o", dir.str("out"), "-b", "Fits"});
    EXPECT_EQ(fits.status, 0) << fits.out.substr(fits.out.size() > 400 ? fits.out.size() - 400 : 0);
    RunResult over = runGen({"-i", dir.str("over.xml"), "-o", dir.str("out"), "-b", "Over"});
    EXPECT_EQ(over.status, exitStatusOf(GR_TOO_LONG));
    EXPECT_EQ(over.out, "");
}

TEST(GenCmdRun, BareFileNameReadsFromTheCurrentFolder)
{
    TempDir out;
    RunResult r = runGen({"-i", "BinaryLight.xml", "-o", out.str(), "-b", "Lamp"}, sourcePath("examples/binarylight"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(" file name = ./SwitchPower.xml\r\n open file ./SwitchPower.xml OK\r\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(out.path() / "SwitchPower_CB.c"));
    // The embedded table and the local path name the current folder.
    EXPECT_NE(readText(out.path() / "Lamp.c").find("#define LOCAL_PATH \".\""), std::string::npos);
}

TEST(GenCmdRun, OutputFolders)
{
    TempDir dir;
    const std::string bl = "examples/binarylight/BinaryLight.xml";
    std::string backslashed = dir.str() + "\\a\\b\\c";
    RunResult first = runGen({"-i", bl, "-o", backslashed, "-b", "Lamp"});
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_TRUE(fs::exists(dir.path() / "a/b/c/Lamp.c"));
    EXPECT_NE(first.out.find(" fileName = " + dir.str() + "/a/b/c/Lamp.c\r\n"), std::string::npos);
    RunResult again = runGen({"-i", bl, "-o", dir.str("a/b/c/"), "-b", "Lamp"});
    EXPECT_EQ(again.status, 0) << again.out;
}

TEST(GenCmdRun, OptionValues)
{
    TempDir dir;
    const std::string bl = "examples/binarylight/BinaryLight.xml";
    // -i twice: the last wins; -l takes any value; a value may begin with '-'.
    RunResult r = runGen({"-i", "none.xml", "-l", "fortran", "-o", dir.str(), "-b", "-Lamp", "-i", bl, "-a",
                          "10.0.0.7", "-t", "cp"});
    ASSERT_EQ(r.status, 0) << r.out;
    std::string main = readText(dir.path() / "-LampCP.c");
    EXPECT_NE(main.find("\"10.0.0.7\","), std::string::npos);
    // The brief is also an identifier prefix: characters C does not take become '_'.
    EXPECT_NE(main.find("QN_RET x_LampCPOnMsgRecved("), std::string::npos);
}

TEST(GenCmdRun, ScpdUrlOfSeveralSegments)
{
    TempDir out;
    RunResult r = runGen(
        {"-i", "tests/data/fixtures/devices/network-light/network-light-desc.xml", "-o", out.str(), "-b", "Light"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(" open file tests/data/fixtures/devices/network-light/SwitchPower-scpd.xml OK"),
              std::string::npos);
}

} // namespace
