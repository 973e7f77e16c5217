// Every real description and SCPD, served by a device of the stack, is
// well-formed XML in the UDA namespaces: a namespace-aware reader (python's
// ElementTree with namespaced queries) finds its elements, and the
// sendEvents flags come back as the model has them.
#include "entity.h"
#include "log.h"
#include "netns.h"
#include "query.h"
#include "rawnet.h"
#include "scpd.h"
#include "sdkThread.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

QN_RET refuse(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_ERR; }

std::string bodyOf(const std::string &response)
{
    size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? "" : response.substr(end + 4);
}

// Runs the namespace check on a served document; its one line of output.
std::string checkNamespaces(const char *kind, const std::string &text)
{
    std::string path = testing::TempDir() + "/served.xml";
    std::ofstream(path, std::ios::binary) << text;
    std::string cmd = std::string("/usr/bin/python3 ") + QN_TEST_DATA_DIR + "/../support/udaNamespaces.py " + kind +
                      " " + path + " 2>&1";
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p) != nullptr)
            out += buf;
        pclose(p);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

struct Fixture {
    const char *dir;
    const char *descFile;
};

void collectServices(const QNDevDesc *dev, std::vector<const QNServDesc *> &out)
{
    for (int i = 0; i < dev->serviceCount; ++i)
        out.push_back(dev->services[i]);
    for (int i = 0; i < dev->deviceCount; ++i)
        collectServices(dev->devices[i], out);
}

TEST(ServedXml, EveryFixtureIsNamespaceValidUda)
{
    if (std::system("/usr/bin/python3 -c 'import xml.etree.ElementTree' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no python3 with ElementTree";
    setConsoleSink([](const char *) {});
    QNApiSdkConfig config{1, 0, 1 << 20, qntest::startThread, 0, 0};
    ASSERT_EQ(qnSdkInit(&config), QN_OK);
    const Fixture fixtures[] = {
        {"fixtures/devices/minidlna", "rootDesc.xml"},
        {"fixtures/devices/network-light", "network-light-desc.xml"},
        {"devices/embedded", "Hub.xml"},
        {"devices/av", "AVDevice.xml"},
        {"../../examples/binarylight", "BinaryLight.xml"},
    };
    uint16_t port = 32500;
    std::vector<std::pair<QN_DEVICE, uint16_t>> devices;
    for (const Fixture &f : fixtures) {
        QNApiDevSettings s{};
        copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
        s.httpPort = s.soapPort = ++port;
        copyBounded(s.localPath, sizeof s.localPath, qntest::dataPath(f.dir));
        copyBounded(s.webPath, sizeof s.webPath, "/");
        copyBounded(s.descFile, sizeof s.descFile, f.descFile);
        s.msgHandler = refuse;
        QN_DEVICE dev = qnAddDevice(&s);
        ASSERT_NE(dev, QN_INVALID_DEVICE) << f.dir;
        qnChangeEntityState(dev, ES_RUNNING);
        devices.emplace_back(dev, port);
    }
    ASSERT_EQ(qnSdkRun(), QN_OK);
    for (size_t i = 0; i < devices.size(); ++i) {
        auto [dev, devPort] = devices[i];
        std::string get = std::string("GET /") + fixtures[i].descFile + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        std::string types = checkNamespaces("desc", bodyOf(qntest::exchange("127.0.0.1", devPort, get)));
        const QNDevDesc *root = &entityDesc(dev)->device;
        EXPECT_EQ(types.substr(0, types.find(' ')), findNameVal(root->fields, root->fieldCount, "deviceType"))
            << fixtures[i].dir << ": " << types;
        std::vector<const QNServDesc *> services;
        collectServices(root, services);
        for (const QNServDesc *serv : services) {
            const char *url = findNameVal(serv->fields, serv->fieldCount, "SCPDURL");
            std::string body = bodyOf(qntest::exchange(
                "127.0.0.1", devPort, std::string("GET ") + url + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
            int quiet = 0;
            for (int v = 0; v < serv->scpd->varCount; ++v)
                quiet += serv->scpd->vars[v]->sendEvents == 0;
            std::string expected = std::to_string(serv->scpd->actionCount) + " " +
                                   std::to_string(serv->scpd->varCount) + " " + std::to_string(quiet);
            EXPECT_EQ(checkNamespaces("scpd", body), expected) << fixtures[i].dir << url;
        }
    }
    qnSdkClean();
    setConsoleSink(nullptr);
}

} // namespace
