// A generated project as a user builds it: the SDK and QNGenCmd installed
// into a temporary prefix, the installed QNGenCmd run on the BinaryLight,
// the generated CMakeLists.txt configured with pkg-config and built, and the
// program started in the test's private network.
#include "genSupport.h"
#include "netns.h"

#include <gtest/gtest.h>

namespace {

using namespace gentest;

// The folder of the installed qnsdk.pc, or "" when there is none.
std::string pkgConfigDir(const fs::path &prefix)
{
    std::error_code ec;
    for (const auto &entry : fs::recursive_directory_iterator(prefix, ec))
        if (entry.path().filename() == "qnsdk.pc")
            return entry.path().parent_path().string();
    return "";
}

TEST(GenInstall, GeneratedProjectBuildsWithPkgConfig)
{
    TempDir tmp;
    std::string prefix = tmp.str("prefix");
    RunResult install = runProgram({QN_CMAKE_COMMAND, "--install", QN_BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(install.status, 0) << install.out;
    std::string pcDir = pkgConfigDir(prefix);
    ASSERT_NE(pcDir, "") << "no qnsdk.pc installed";
    std::string genCmd = prefix + "/bin/QNGenCmd";
    ASSERT_TRUE(fs::exists(genCmd)) << "QNGenCmd is not installed in bin";

    std::string project = tmp.str("lamp");
    RunResult gen = runProgram({genCmd, "-i", "examples/binarylight/BinaryLight.xml", "-o", project, "-b", "Lamp", "-a",
                                qntest::kSecondAddr},
                               QN_SOURCE_DIR);
    ASSERT_EQ(gen.status, 0) << gen.out;

    std::vector<std::string> configure = {"/usr/bin/env", "PKG_CONFIG_PATH=" + pcDir, QN_CMAKE_COMMAND, "-S", project,
                                          "-B", project + "/build"};
    std::string sanitize = QN_SANITIZE_FLAGS;
    if (!sanitize.empty())
        configure.push_back("-DCMAKE_C_FLAGS=" + sanitize);
    RunResult configured = runProgram(configure);
    ASSERT_EQ(configured.status, 0) << configured.out;
    RunResult built = runProgram({QN_CMAKE_COMMAND, "--build", project + "/build"});
    ASSERT_EQ(built.status, 0) << built.out;

    // Loads its embedded documents through its own read-file handler, runs, ends on "exit".
    RunResult run = runProgram({project + "/build/Lamp"}, project, "exit\n", 30000);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(" adding dev to server"), std::string::npos) << run.out;
}

} // namespace
