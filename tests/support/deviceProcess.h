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

// One BinaryLight a DeviceProcess serves: its UDN, its port and the path it
// is published under ("/" or "/dev3": several lights may share one port).
struct LightSpec {
    std::string udn;
    uint16_t port;
    std::string webPath = "/";

    std::string url() const
    {
        std::string path = webPath == "/" ? "" : webPath;
        return "http://127.0.0.1:" + std::to_string(port) + path + "/BinaryLight.xml";
    }
};

// BinaryLights of the stack in one child process, each with its own UDN.
// Commands through a pipe: 'b' stops every device (byebye), 'b' followed by
// a light's index byte stops that one, 'r' sets every device running;
// closing the pipe ends the process. The child is a fork of the test: make
// it before the test's own stack has sockets open or a server thread (a
// device that must appear later is made stopped and started with start()).
class DeviceProcess {
public:
    DeviceProcess(const std::string &udn, uint16_t port, bool running = true)
        : DeviceProcess(std::vector<LightSpec>{{udn, port}}, running)
    {
    }

    // handler answers the lights' requests in the child (it runs there, on
    // the child's server thread); by default every request succeeds empty.
    explicit DeviceProcess(std::vector<LightSpec> lights, bool running = true, QNMsgHandler handler = ignoreAll)
        : lights_(std::move(lights)), running_(running), handler_(handler)
    {
        dir_ = "/tmp/lights-" + std::to_string(getpid()) + "-" + std::to_string(lights_.front().port) + "-" +
               std::to_string(lights_.size());
        for (size_t i = 0; i < lights_.size(); ++i) {
            std::string dir = lightDir(i);
            std::string mk = "mkdir -p " + dir;
            if (std::system(mk.c_str()) != 0)
                return;
            std::string desc = std::regex_replace(readFile(exampleDir() + "/BinaryLight.xml"),
                                                  std::regex("<UDN>[^<]*</UDN>"), "<UDN>" + lights_[i].udn + "</UDN>");
            std::ofstream(dir + "/BinaryLight.xml") << desc;
            std::ofstream(dir + "/SwitchPower.xml") << readFile(exampleDir() + "/SwitchPower.xml");
        }
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
        std::string rm = "rm -rf " + dir_;
        (void)!std::system(rm.c_str());
    }

    void byebye() { (void)!write(commands_, "b\xff", 2); }
    void start() { (void)!write(commands_, "r\xff", 2); }
    void byebye(size_t index)
    {
        char command[2] = {'b', static_cast<char>(index)};
        (void)!write(commands_, command, 2);
    }
    std::string url(size_t index = 0) const { return lights_[index].url(); }

private:
    static std::vector<int> &openCommandPipes()
    {
        static std::vector<int> fds;
        return fds;
    }

    std::string lightDir(size_t index) const { return dir_ + "/" + std::to_string(index); }

    [[noreturn]] void runChild(int commands)
    {
        setConsoleSink([](const char *) {});
        QNApiSdkConfig config{1, 0, 1 << 20, startThread, 0, 0};
        qnSdkInit(&config);
        std::vector<QN_DEVICE> devices;
        for (size_t i = 0; i < lights_.size(); ++i) {
            QNApiDevSettings s{};
            copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
            s.httpPort = s.soapPort = lights_[i].port;
            copyBounded(s.localPath, sizeof s.localPath, lightDir(i).c_str());
            copyBounded(s.webPath, sizeof s.webPath, lights_[i].webPath.c_str());
            copyBounded(s.descFile, sizeof s.descFile, "BinaryLight.xml");
            s.msgHandler = handler_;
            s.adPeriod = lights_.size() > 10 ? 5 : 1;
            devices.push_back(qnAddDevice(&s));
            if (running_)
                qnChangeEntityState(devices.back(), ES_RUNNING);
        }
        qnSdkRun();
        char command[2];
        while (read(commands, command, 2) == 2) {
            auto index = static_cast<unsigned char>(command[1]);
            for (size_t i = 0; i < devices.size(); ++i)
                if (index == 0xff || index == i)
                    qnChangeEntityState(devices[i], command[0] == 'r' ? ES_RUNNING : ES_STOPPED);
        }
        qnSdkClean();
        _exit(0);
    }

    std::vector<LightSpec> lights_;
    bool running_;
    QNMsgHandler handler_ = ignoreAll;
    std::string dir_;
    pid_t pid_ = -1;
    int commands_ = -1;
};

} // namespace qntest
