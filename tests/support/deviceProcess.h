// A device of the stack in a child process of a test or benchmark, as a
// separate program on the same host would run it (the stack ignores
// datagrams from its own sockets).
#pragma once

#include "qnSdkApi.h"
#include "text.h"
#include "log.h"
#include "sdkThread.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qntest {

inline std::string exampleDir() { return std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight"; }

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline QN_RET ignoreAll(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_OK; }

// A BinaryLight of the stack in a child process, with its own UDN and port.
// Commands through a pipe: 'b' stops the device (byebye), closing the pipe ends it.
class DeviceProcess {
public:
    DeviceProcess(const std::string &udn, uint16_t port) : port_(port)
    {
        dir_ = std::string("/tmp") + "/light-" + std::to_string(port);
        std::string mk = "mkdir -p " + dir_;
        if (std::system(mk.c_str()) != 0)
            return;
        std::string desc = std::regex_replace(readFile(exampleDir() + "/BinaryLight.xml"),
                                              std::regex("<UDN>[^<]*</UDN>"), "<UDN>" + udn + "</UDN>");
        std::ofstream(dir_ + "/BinaryLight.xml") << desc;
        std::ofstream(dir_ + "/SwitchPower.xml") << readFile(exampleDir() + "/SwitchPower.xml");
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            // Earlier devices' command pipes must not stay open here, or they
            // would never see their end.
            for (int fd : openCommandPipes())
                close(fd);
            close(fds[1]);
            runChild(fds[0]);
        }
        close(fds[0]);
        commands_ = fds[1];
        openCommandPipes().push_back(commands_);
    }

    ~DeviceProcess()
    {
        auto &open = openCommandPipes();
        open.erase(std::remove(open.begin(), open.end(), commands_), open.end());
        if (commands_ >= 0)
            close(commands_);
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }

    void byebye() { (void)!write(commands_, "b", 1); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/BinaryLight.xml"; }

private:
    static std::vector<int> &openCommandPipes()
    {
        static std::vector<int> fds;
        return fds;
    }

    [[noreturn]] void runChild(int commands)
    {
        setConsoleSink([](const char *) {});
        QNApiSdkConfig config{1, 0, 1 << 20, startThread, 0, 0};
        qnSdkInit(&config);
        QNApiDevSettings s{};
        copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
        s.httpPort = s.soapPort = port_;
        copyBounded(s.localPath, sizeof s.localPath, dir_);
        copyBounded(s.webPath, sizeof s.webPath, "/");
        copyBounded(s.descFile, sizeof s.descFile, "BinaryLight.xml");
        s.msgHandler = ignoreAll;
        s.adPeriod = 1;
        QN_DEVICE dev = qnAddDevice(&s);
        qnChangeEntityState(dev, ES_RUNNING);
        qnSdkRun();
        char c;
        while (read(commands, &c, 1) == 1)
            if (c == 'b')
                qnChangeEntityState(dev, ES_STOPPED);
        qnSdkClean();
        _exit(0);
    }

    uint16_t port_;
    std::string dir_;
    pid_t pid_ = -1;
    int commands_ = -1;
};

} // namespace qntest
