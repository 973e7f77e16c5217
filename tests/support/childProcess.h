// A peer program run by a test as a child process inside the test's
// private network namespace: its standard output read line by line, and
// ended by its PID (SIGTERM, then SIGKILL) when the test is done with it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace qntest {

class ChildProcess {
public:
    // Starts argv[0] (a full path) with its standard output on a pipe and
    // its standard error to errPath (or the test's own when empty).
    explicit ChildProcess(const std::vector<std::string> &argv, const std::string &errPath = "")
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            if (!errPath.empty()) {
                int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                if (err >= 0)
                    dup2(err, STDERR_FILENO);
            }
            std::vector<char *> args;
            for (const std::string &a : argv)
                args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The next line of output (without its line end), or "" when none came
    // within waitMs or the child closed its output.
    std::string readLine(int waitMs)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (out_ < 0 || left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return "";
            char buf[4096];
            ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) {
                eof_ = true;
                return "";
            }
            pending_.append(buf, static_cast<size_t>(n));
        }
    }

    // Reads lines until one starts with prefix; returns it, or "".
    std::string waitForLine(const std::string &prefix, int waitMs, std::vector<std::string> *seen = nullptr)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (std::chrono::steady_clock::now() < until) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            std::string line = readLine(static_cast<int>(left.count()));
            if (line.empty() && eof_)
                break;
            if (line.empty())
                continue;
            if (seen != nullptr)
                seen->push_back(line);
            if (line.rfind(prefix, 0) == 0)
                return line;
        }
        return "";
    }

    // Waits for the child to end by itself: its exit status, or -1 when it
    // is still running after waitMs (it is then ended by stop()).
    int wait(int waitMs)
    {
        for (int i = 0; pid_ > 0 && i < waitMs / 10; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10000);
        }
        return -1;
    }

    // Ends the child by its PID and reaps it.
    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 100; ++i) {
                if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                    pid_ = -1;
                    break;
                }
                usleep(20000);
            }
            if (pid_ > 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
        pid_ = -1;
        if (out_ >= 0)
            close(out_);
        out_ = -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool eof_ = false;
    std::string pending_;
};

} // namespace qntest
