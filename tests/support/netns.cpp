#include "netns.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace qntest {

namespace {

bool privateNetwork = false;

bool writeFile(const char *path, const std::string &text)
{
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

// Without root a user namespace gives us the capabilities for the network one.
bool unshareAsUser(std::string *why)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        *why = std::string("unshare(CLONE_NEWUSER|CLONE_NEWNET): ") + std::strerror(errno);
        return false;
    }
    writeFile("/proc/self/setgroups", "deny");
    if (!writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
        *why = "cannot write the user namespace's id maps";
        return false;
    }
    return true;
}

} // namespace

bool enterPrivateNetwork(std::string *why)
{
    if (privateNetwork)
        return true;
    if (unshare(CLONE_NEWNET) != 0 && !unshareAsUser(why))
        return false;
    // The new namespace holds only a loopback interface that is down.
    std::string setup = std::string("ip link set lo up multicast on"
                                    " && ip addr add ") + kSecondAddr + "/32 dev lo"
                        " && ip route add 239.0.0.0/8 dev lo"
                        " && ip route add 224.0.0.0/4 dev lo";
    int rc = std::system((setup + " >/dev/null 2>&1").c_str());
    if (rc != 0) {
        *why = "configuring the private network failed (is iproute2 installed?)";
        return false;
    }
    setenv("QN_PRIVATE_NETNS", "1", 1);
    privateNetwork = true;
    return true;
}

bool inPrivateNetwork()
{
    return privateNetwork;
}

std::string dataPath(const std::string &relative)
{
    return std::string(QN_TEST_DATA_DIR) + "/" + relative;
}

} // namespace qntest
