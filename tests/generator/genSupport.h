// Helpers of the generator tests: running QNGenCmd and the programs built
// from its output as child processes, temporary folders, files, and the C
// compiler line that the generated code must pass without a warning.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace gentest {

namespace fs = std::filesystem;

inline std::string sourcePath(const std::string &relative)
{
    return std::string(QN_SOURCE_DIR) + "/" + relative;
}

inline std::string readText(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buf;
    buf << in.rdbuf();
    return buf.str();
}

inline void writeText(const fs::path &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "qngen-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const fs::path &path() const { return path_; }
    std::string str(const std::string &relative = "") const
    {
        return relative.empty() ? path_.string() : (path_ / relative).string();
    }

private:
    fs::path path_;
};

// A child process with its standard input and (merged) output on pipes.
// The destructor ends a child that is still running, by its own pid.
class Child {
public:
    Child(const std::vector<std::string> &argv, const std::string &cwd)
    {
        // Everything the child needs is made before fork: no allocation after it.
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
            close(in[1]);
            close(out[0]);
            if (!cwd.empty() && chdir(cwd.c_str()) != 0)
                _exit(126);
            execv(args[0], args.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        signal(SIGPIPE, SIG_IGN);
    }
    ~Child()
    {
        closeInput();
        if (out_ >= 0)
            close(out_);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool started() const { return pid_ > 0; }
    void send(const std::string &text)
    {
        if (in_ >= 0)
            (void)!write(in_, text.data(), text.size());
    }
    void closeInput()
    {
        if (in_ >= 0)
            close(in_);
        in_ = -1;
    }
    // Reads output until it contains text (true), the output ends or waitMs pass.
    bool readUntil(const std::string &text, int waitMs)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (output_.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count())))
                return false;
        }
        return true;
    }
    // Reads to the end of the output and waits for the exit; -1 after waitMs
    // (the child is then killed) or on a signal.
    int finish(int waitMs)
    {
        closeInput();
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        readUntil(std::string(1, '\0') + "never", waitMs);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                reaped_ = true;
                return -1;
            }
            usleep(2000);
        }
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string &output() const { return output_; }

private:
    bool readSome(int waitMs)
    {
        pollfd p{out_, POLLIN, 0};
        if (out_ < 0 || poll(&p, 1, waitMs) <= 0)
            return false;
        char buf[4096];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0)
            return false;
        output_.append(buf, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    std::string output_;
};

struct RunResult {
    int status = -1;
    std::string out;
};

// Runs a program to its end with input on its standard input.
inline RunResult runProgram(const std::vector<std::string> &argv, const std::string &cwd = "",
                            const std::string &input = "", int waitMs = 60000)
{
    Child child(argv, cwd);
    if (!child.started())
        return {};
    child.send(input);
    RunResult result;
    result.status = child.finish(waitMs);
    result.out = child.output();
    return result;
}

// QNGenCmd with the given arguments, from the folder cwd (the source tree
// when empty, so that relative input paths name the repository's files).
inline RunResult runGen(std::vector<std::string> args, const std::string &cwd = QN_SOURCE_DIR)
{
    args.insert(args.begin(), QNGEN_CMD);
    return runProgram(args, cwd);
}

// The exit status of QNGenCmd for a GenResult (modulo 256, as the shell sees it).
inline int exitStatusOf(int result)
{
    return result & 0xff;
}

// The compiler line every generated source must pass: C99, all warnings as
// errors, POSIX threads, the in-tree SDK header.
inline std::vector<std::string> compileLine(const std::string &dir)
{
    std::vector<std::string> line = {QN_C_COMPILER, "-std=c99", "-Wall", "-Wextra", "-Werror", "-D_QN_POSIX_",
                                     "-I" + dir, "-I" + sourcePath("sdk")};
    std::string sanitize = QN_SANITIZE_FLAGS;
    if (!sanitize.empty())
        line.push_back(sanitize);
    return line;
}

// Switches a generated device's main source to its file-system mode, as a
// user does by commenting out NO_FILE_SYS; false when the line is missing.
inline bool useFileSystem(const fs::path &mainSource)
{
    std::string main = readText(mainSource);
    const std::string line = "#define NO_FILE_SYS\n";
    size_t at = main.find(line);
    if (at == std::string::npos)
        return false;
    main.replace(at, line.size(), "/* #define NO_FILE_SYS */\n");
    writeText(mainSource, main);
    return true;
}

// The generated C sources of dir.
inline std::vector<std::string> cSources(const std::string &dir)
{
    std::vector<std::string> files;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".c")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Compiles every generated source of dir into dir/program, linked with the
// in-tree shared SDK.
inline RunResult buildProgram(const std::string &dir)
{
    std::vector<std::string> line = compileLine(dir);
    for (const std::string &src : cSources(dir))
        line.push_back(src);
    line.insert(line.end(), {"-o", dir + "/program", "-L" + std::string(QN_SDK_LIB_DIR), "-lqnsdk",
                             "-Wl,-rpath," + std::string(QN_SDK_LIB_DIR), "-lpthread"});
    return runProgram(line, dir);
}

// Compiles (no link) every generated source of dir.
inline RunResult compileOnly(const std::string &dir)
{
    std::vector<std::string> line = compileLine(dir);
    line.push_back("-c");
    for (const std::string &src : cSources(dir))
        line.push_back(src);
    return runProgram(line, dir);
}

} // namespace gentest
