// Generated programs running on the stack, inside the test's private
// network: a device loads its embedded documents through its read-file
// handler and serves them over HTTP; the file-system variant serves local
// files in pieces; a control point lists its description in the command
// loop; end to end, the generated control point finds the generated device
// and calls it, and GUPnP's control point drives a generated device whose
// SwitchPower callbacks are filled in.
#include "genSupport.h"
#include "gupnpPeer.h"
#include "netns.h"
#include "rawnet.h"

#include <gtest/gtest.h>

namespace {

using namespace gentest;

const char kBinaryLight[] = "examples/binarylight/BinaryLight.xml";
const char kHub[] = "tests/data/devices/embedded/Hub.xml";
constexpr int kStartWaitMs = 15000;

std::string httpGet(const std::string &path)
{
    return qntest::exchange(qntest::kSecondAddr, 80,
                            "GET " + path + " HTTP/1.1\r\nHost: " + qntest::kSecondAddr + "\r\n\r\n");
}

std::string statusLine(const std::string &response)
{
    return response.substr(0, response.find("\r\n"));
}

std::string bodyOf(const std::string &response)
{
    size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? "" : response.substr(at + 4);
}

// Generates and builds a program into out; the address is the test
// network's second address (a namespace has no interface of its own).
void buildGenerated(const TempDir &out, const std::string &input, const std::string &brief, bool cp)
{
    RunResult gen = runGen({"-i", input, "-o", out.str(), "-b", brief, "-a", qntest::kSecondAddr, "-t", cp ? "cp" : "dev"});
    ASSERT_EQ(gen.status, 0) << gen.out;
    RunResult built = buildProgram(out.str());
    ASSERT_EQ(built.status, 0) << built.out;
}

TEST(GenRun, DeviceServesItsEmbeddedDocuments)
{
    TempDir out;
    ASSERT_NO_FATAL_FAILURE(buildGenerated(out, kBinaryLight, "Lamp", false));
    Child device({out.str("program")}, out.str());
    ASSERT_TRUE(device.readUntil("cmd> ", kStartWaitMs)) << device.output();
    // The embedded SCPD is the file without its line breaks.
    std::string scpdFile = readText(sourcePath("examples/binarylight/SwitchPower.xml"));
    std::erase(scpdFile, '\n');
    EXPECT_NE(device.output().find(" read file /SwitchPower.xml by callback func OK, file len = " +
                                   std::to_string(scpdFile.size())),
              std::string::npos)
        << device.output();

    std::string desc = httpGet("/BinaryLight.xml");
    EXPECT_EQ(statusLine(desc), "HTTP/1.1 200 OK");
    EXPECT_NE(bodyOf(desc).find("urn:schemas-upnp-org:device:BinaryLight:1"), std::string::npos);
    std::string scpd = httpGet("/SwitchPower.xml");
    EXPECT_EQ(statusLine(scpd), "HTTP/1.1 200 OK");
    EXPECT_NE(bodyOf(scpd).find("<name>GetStatus</name>"), std::string::npos);
    // Not in the embedded table: the handler refuses, the file service answers 404.
    EXPECT_EQ(statusLine(httpGet("/other.txt")), "HTTP/1.1 404 Not Found");

    device.send("exit\n");
    EXPECT_EQ(device.finish(kStartWaitMs), 0) << device.output();
}

// Switch.xml is asked for twice while the hub loads: each request starts
// at the beginning of the file.
TEST(GenRun, HubLoadsTheSharedScpdTwice)
{
    TempDir out;
    ASSERT_NO_FATAL_FAILURE(buildGenerated(out, kHub, "Hub", false));
    Child device({out.str("program")}, out.str());
    ASSERT_TRUE(device.readUntil("cmd> ", kStartWaitMs)) << device.output();
    const std::string &log = device.output();
    size_t first = log.find(" read file /Switch.xml by callback func OK");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find(" read file /Switch.xml by callback func OK", first + 1), std::string::npos) << log;
    EXPECT_NE(log.find(" adding dev to server"), std::string::npos);
    device.send("exit\n");
    EXPECT_EQ(device.finish(kStartWaitMs), 0) << device.output();
}

// The file-system variant answers MT_READ_FILE from the description's
// folder, piece by piece, and only below it.
TEST(GenRun, FileSystemVariantServesLocalFilesInPieces)
{
    TempDir in;
    for (const char *name : {"BinaryLight.xml", "SwitchPower.xml"})
        writeText(in.path() / name, readText(sourcePath(std::string("examples/binarylight/") + name)));
    std::string big;
    for (int i = 0; big.size() < 40000; ++i)
        big += "line " + std::to_string(i) + " of a file larger than two pieces\n";
    writeText(in.path() / "big.txt", big);
    TempDir out;
    ASSERT_EQ(runGen({"-i", in.str("BinaryLight.xml"), "-o", out.str(), "-b", "Lamp", "-a", qntest::kSecondAddr}).status, 0);
    ASSERT_TRUE(useFileSystem(out.path() / "Lamp.c"));
    RunResult built = buildProgram(out.str());
    ASSERT_EQ(built.status, 0) << built.out;

    Child device({out.str("program")}, out.str());
    ASSERT_TRUE(device.readUntil("cmd> ", kStartWaitMs)) << device.output();
    std::string response = httpGet("/big.txt");
    EXPECT_EQ(statusLine(response), "HTTP/1.1 200 OK");
    EXPECT_TRUE(bodyOf(response) == big) << "body of " << bodyOf(response).size() << " bytes";
    EXPECT_TRUE(httpGet("/big.txt") == response) << "a second request starts again";
    EXPECT_EQ(statusLine(httpGet("/missing.txt")), "HTTP/1.1 404 Not Found");
    EXPECT_NE(statusLine(httpGet("/x/../BinaryLight.xml")), "HTTP/1.1 200 OK");
    device.send("exit\n");
    EXPECT_EQ(device.finish(kStartWaitMs), 0) << device.output();
}

// The program's own output without the stack's console lines, which begin
// with one blank (the command loop indents by two) and may arrive from the
// server thread at any time; " dev not found" follows a prompt directly.
std::string withoutConsole(std::string out)
{
    const std::string note = " dev not found\r\n";
    for (size_t at = out.find(note); at != std::string::npos; at = out.find(note))
        out.erase(at, note.size());
    for (size_t at = 0; at < out.size();) {
        size_t end = out.find('\n', at);
        bool console = out[at] == ' ' && at + 1 < out.size() && out[at + 1] != ' ';
        if (console) {
            out.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
            continue;
        }
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return out;
}

// Sends one command line and waits for the next prompt.
std::string command(Child &cp, const std::string &line)
{
    size_t before = cp.output().size();
    cp.send(line + "\n");
    std::string marker = "\r\nZentrova>";
    for (int i = 0; i < 100; ++i) {
        if (cp.output().find(marker, before) != std::string::npos)
            break;
        cp.readUntil(marker + std::string(1, '\0'), 100);
    }
    std::string out = cp.output().substr(before);
    size_t end = out.find(marker);
    if (end != std::string::npos)
        out.resize(end);
    return withoutConsole(out);
}

TEST(GenRun, ControlPointCommandLoop)
{
    TempDir out;
    ASSERT_NO_FATAL_FAILURE(buildGenerated(out, sourcePath(kHub), "Hub", true));
    Child cp({out.str("program")}, out.str());
    ASSERT_TRUE(cp.readUntil("\r\nZentrova>", kStartWaitMs)) << cp.output();

    struct Case {
        const char *name;
        std::string line;
        std::string expected;
    };
    const Case cases[] = {
        {"devices of the root", "ld", "dev 0: urn:qn-test:device:Hub:1\r\n"},
        {"embedded devices", "ld urn:qn-test:device:Hub:1",
         "dev 0: urn:schemas-upnp-org:device:BinaryLight:1\r\ndev 1: urn:schemas-upnp-org:device:BinaryLight:1\r\n"},
        {"services of the root", "ls", "serv 0: urn:qn-test:service:Status:1\r\n"},
        {"actions", "la urn:qn-test:service:Light:1", "action 0: GetLevel\r\naction 1: GetStatus\r\n"},
        {"arguments", "lg GetStatus", "arg 0[UNKNOWN]: Detail\r\narg 1[UNKNOWN]: Summary\r\narg 2[INOUT]: Both\r\n"},
        {"variables", "lv urn:schemas-upnp-org:service:SwitchPower:1", "var 0: Target\r\nvar 1: Status\r\n"},
        {"a service asked for", "la\nurn:qn-test:service:Status:1", "\r\nplease input serv: action 0: GetStatus\r\n"},
        {"the whole tree",
         "show", "dev 0: urn:qn-test:device:Hub:1\r\n  serv 0: urn:qn-test:service:Status:1\r\n"
                 "    action 0: GetStatus\r\n      arg 0[UNKNOWN]: Detail\r\n      arg 1[UNKNOWN]: Summary\r\n"
                 "      arg 2[INOUT]: Both\r\n    var 0: Detail\r\n    var 1: Summary\r\n"
                 "  dev 0: urn:schemas-upnp-org:device:BinaryLight:1\r\n"},
        {"an action without a device", "ea\nurn:schemas-upnp-org:service:SwitchPower:1\nSetTarget\n1",
         "\r\nplease input serv: \r\npls input action name: \r\nplease input val of newTargetValue: "
         "unable to do action SetTarget\r\n"},
        {"an unknown action", "ea urn:qn-test:service:Status:1 Nothing", "unable to do action Nothing\r\n"},
        {"a query without a device", "qv urn:qn-test:service:Status:1 Summary", "unable to query Summary\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string answer = command(cp, c.line);
        if (std::string(c.name) == "the whole tree")
            EXPECT_EQ(answer.substr(0, c.expected.size()), c.expected);
        else
            EXPECT_EQ(answer, c.expected);
    }
    EXPECT_NE(command(cp, "help").find("  ea [serv [action]]"), std::string::npos);
    cp.send("exit\n");
    EXPECT_EQ(cp.finish(kStartWaitMs), 0) << cp.output();
}

// A generated control point finds the generated BinaryLight and calls it
// (ea, qv); the callbacks still answer what the generator wrote.
TEST(GenRunEndToEnd, ControlPointCallsDevice)
{
    TempDir devOut;
    TempDir cpOut;
    ASSERT_NO_FATAL_FAILURE(buildGenerated(devOut, kBinaryLight, "Lamp", false));
    ASSERT_NO_FATAL_FAILURE(buildGenerated(cpOut, sourcePath(kBinaryLight), "Lamp", true));
    Child device({devOut.str("program")}, devOut.str());
    ASSERT_TRUE(device.readUntil("cmd> ", kStartWaitMs)) << device.output();
    Child cp({cpOut.str("program")}, cpOut.str());
    ASSERT_TRUE(cp.readUntil("\r\nZentrova>", kStartWaitMs)) << cp.output();
    std::string answer;
    for (int i = 0; i < 30 && answer.find("action GetStatus ok") == std::string::npos; ++i) {
        answer = command(cp, "ea urn:schemas-upnp-org:service:SwitchPower:1 GetStatus");
        if (answer.find("ok") == std::string::npos)
            usleep(500000);
    }
    // The stack's console reports the discovery on the same output.
    EXPECT_NE(answer.find("action GetStatus ok\r\nResultStatus = tempVal0\r\n"), std::string::npos) << answer;
    std::string query = command(cp, "qv urn:schemas-upnp-org:service:SwitchPower:1 Status");
    EXPECT_NE(query.find("Status = tempVal\r\n"), std::string::npos) << query;
    cp.send("exit\n");
    EXPECT_EQ(cp.finish(kStartWaitMs), 0) << cp.output();
    device.send("exit\n");
    EXPECT_EQ(device.finish(kStartWaitMs), 0) << device.output();
}

// The JSON lines and DONE of the GUPnP script, without its warnings.
std::vector<std::string> scriptLines(const std::string &output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("{", 0) == 0 || line == "DONE")
            lines.push_back(line);
    return lines;
}

// An independent control point (GUPnP) drives the generated BinaryLight
// with SwitchPower filled in: actions, a query, the initial event (through
// the variable callbacks) and the event SetTarget sends.
TEST(GenRunEndToEnd, GupnpControlPointDrivesFilledDevice)
{
    if (!qntest::haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    TempDir out;
    RunResult gen = runGen({"-i", kBinaryLight, "-o", out.str(), "-b", "Lamp", "-a", qntest::kSecondAddr});
    ASSERT_EQ(gen.status, 0) << gen.out;
    writeText(out.path() / "SwitchPower_CB.c", readText(sourcePath("tests/data/generator/filled/SwitchPower_CB.c")));
    RunResult built = buildProgram(out.str());
    ASSERT_EQ(built.status, 0) << built.out;
    Child device({out.str("program")}, out.str());
    ASSERT_TRUE(device.readUntil("cmd> ", kStartWaitMs)) << device.output();

    Child cp({qntest::kPython, sourcePath("tests/interop/gupnp_switch_cp.py"), qntest::kSecondAddr,
              "uuid:6a1e5c7e-3b0f-4c8e-9d41-0c1b2a3d4e5f"},
             out.str());
    EXPECT_TRUE(cp.readUntil("DONE", kStartWaitMs)) << cp.output();
    const std::vector<std::string> expected =
        qntest::switchRunLines(std::string("http://") + qntest::kSecondAddr + ":80/BinaryLight.xml");
    EXPECT_EQ(scriptLines(cp.output()), expected) << cp.output();
    EXPECT_EQ(cp.finish(kStartWaitMs), 0);

    device.send("exit\n");
    EXPECT_EQ(device.finish(kStartWaitMs), 0);
    EXPECT_NE(device.output().find("filled: SetTarget 1\n"), std::string::npos) << device.output();
    EXPECT_NE(device.output().find("filled: SetTarget 0\n"), std::string::npos);
    EXPECT_EQ(device.output().find("the event could not be sent"), std::string::npos) << device.output();
}

} // namespace
