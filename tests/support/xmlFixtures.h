// Test support for the XML layer and the description, SCPD and SOAP
// models: fixture documents, cursors over heap buffers, model comparison
// and checks of written documents with real XML parsers (xmllint, Python).
#pragma once

#include "desc.h"
#include "netns.h"
#include "scpd.h"
#include "xml.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qntest {

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fixture under tests/data/fixtures.
inline std::string fixture(const std::string &relative)
{
    return readFile(dataPath("fixtures/" + relative));
}


inline const std::vector<std::string> &descFixtures()
{
    static const std::vector<std::string> paths = {
        "devices/minidlna/rootDesc.xml",
        "devices/network-light/network-light-desc.xml",
    };
    return paths;
}

inline const std::vector<std::string> &scpdFixtures()
{
    static const std::vector<std::string> paths = {
        "devices/minidlna/ContentDir.xml",
        "devices/minidlna/ConnectionMgr.xml",
        "devices/minidlna/X_MS_MediaReceiverRegistrar.xml",
        "devices/network-light/SwitchPower-scpd.xml",
        "devices/network-light/Dimming-scpd.xml",
        "scpd/AVTransport2.xml",
        "scpd/RenderingControl2.xml",
        "scpd/ContentDirectory.xml",
        "scpd/ConnectionManager.xml",
    };
    return paths;
}

// A real document as some devices send it: a UTF-8 byte-order mark before
// it (bom) and a comment holding markup characters before every tag after
// the declaration (comments). Either way it is the same document.
inline std::string decorated(const std::string &text, bool bom, bool comments)
{
    std::string out = bom ? "\xEF\xBB\xBF" : "";
    for (size_t i = 0; i < text.size(); ++i) {
        const bool tag = text[i] == '<' && i + 1 < text.size() && text[i + 1] != '?' && text[i + 1] != '!';
        if (comments && tag)
            out += "<!-- a > b <c> </d> -->";
        out += text[i];
    }
    return out;
}

// The decorations the reader tests try on every fixture.
struct Decoration {
    const char *name;
    bool bom;
    bool comments;
};
inline constexpr Decoration kDecorations[] = {
    {"byte-order mark", true, false},
    {"comment before every tag", false, true},
    {"both", true, true},
};

// A cursor of an XML kind over its own heap buffer of kMaxDocument + 1
// bytes (or a given capacity), holding a copy of text.
class DocBuffer {
public:
    explicit DocBuffer(std::string_view text, const QNTextDoc &kind = xmlDocKind(nullptr, nullptr),
                       size_t capacity = kMaxDocument + 1)
        : buf_(std::max(capacity, text.size() + 1), '\0')
    {
        std::memcpy(buf_.data(), text.data(), text.size());
        xmlDocOpen(&doc, kind, buf_.data(), static_cast<uint32_t>(buf_.size()));
    }
    QNTextDoc doc{};
    std::string text() const { return std::string(doc.text, doc.len); }
    const char *data() const { return buf_.data(); }

private:
    std::vector<char> buf_;
};

// Heap-allocated, zero-filled models released at the end of the scope.
struct RootModel {
    std::unique_ptr<QNRootDesc> root{new QNRootDesc()};
    ~RootModel() { freeDesc(root.get()); }
    QNRootDesc *get() { return root.get(); }
    QNRootDesc *operator->() { return root.get(); }
};

struct ScpdModel {
    QNScpd *scpd = newScpd();
    ~ScpdModel()
    {
        freeScpd(scpd);
        deleteScpd(scpd);
    }
    QNScpd *get() { return scpd; }
    QNScpd *operator->() { return scpd; }
};

// ---- Model comparison: "" when equal, else the first difference --------------

inline std::string diffNv(const std::string &where, const QNNameVal &a, const QNNameVal &b)
{
    if (std::strcmp(a.name, b.name) != 0 || std::strcmp(a.val, b.val) != 0)
        return where + ": (" + a.name + ", " + a.val + ") vs (" + b.name + ", " + b.val + ")";
    return "";
}

inline std::string diffNvList(const std::string &where, const QNNameVal *a, int na, const QNNameVal *b, int nb)
{
    if (na != nb)
        return where + ": count " + std::to_string(na) + " vs " + std::to_string(nb);
    for (int i = 0; i < na; ++i) {
        std::string d = diffNv(where + "[" + std::to_string(i) + "]", a[i], b[i]);
        if (!d.empty())
            return d;
    }
    return "";
}

inline std::string diffDevice(const std::string &where, const QNDevDesc &a, const QNDevDesc &b)
{
    std::string d = diffNvList(where + ".fields", a.fields, a.fieldCount, b.fields, b.fieldCount);
    if (!d.empty())
        return d;
    if (a.serviceCount != b.serviceCount)
        return where + ": serviceCount " + std::to_string(a.serviceCount) + " vs " + std::to_string(b.serviceCount);
    for (int i = 0; i < a.serviceCount; ++i) {
        d = diffNvList(where + ".service" + std::to_string(i), a.services[i]->fields, a.services[i]->fieldCount,
                       b.services[i]->fields, b.services[i]->fieldCount);
        if (!d.empty())
            return d;
    }
    if (a.deviceCount != b.deviceCount)
        return where + ": deviceCount " + std::to_string(a.deviceCount) + " vs " + std::to_string(b.deviceCount);
    for (int i = 0; i < a.deviceCount; ++i) {
        d = diffDevice(where + ".device" + std::to_string(i), *a.devices[i], *b.devices[i]);
        if (!d.empty())
            return d;
    }
    return "";
}

inline std::string diffDesc(const QNRootDesc &a, const QNRootDesc &b)
{
    std::string d = diffNvList("specVersion", a.specVersion, 2, b.specVersion, 2);
    if (d.empty())
        d = diffNv("urlBase", a.urlBase, b.urlBase);
    if (d.empty())
        d = diffNvList("ns", a.ns, a.nsCount, b.ns, b.nsCount);
    if (d.empty())
        d = diffDevice("device", a.device, b.device);
    return d;
}

inline std::string diffScpd(const QNScpd &a, const QNScpd &b)
{
    std::string d = diffNvList("specVersion", a.specVersion, 2, b.specVersion, 2);
    if (!d.empty())
        return d;
    if (a.actionCount != b.actionCount)
        return "actionCount " + std::to_string(a.actionCount) + " vs " + std::to_string(b.actionCount);
    for (int i = 0; i < a.actionCount; ++i) {
        const QNActionDesc &x = *a.actions[i], &y = *b.actions[i];
        std::string where = "action" + std::to_string(i);
        d = diffNv(where, x.name, y.name);
        if (!d.empty())
            return d;
        if (x.argCount != y.argCount)
            return where + ": argCount";
        for (int j = 0; j < x.argCount; ++j) {
            const QNArgDesc &p = *x.args[j], &q = *y.args[j];
            std::string w = where + ".arg" + std::to_string(j);
            for (auto field : {&QNArgDesc::name, &QNArgDesc::direction, &QNArgDesc::relatedStateVariable}) {
                d = diffNv(w, p.*field, q.*field);
                if (!d.empty())
                    return d;
            }
        }
    }
    if (a.varCount != b.varCount)
        return "varCount " + std::to_string(a.varCount) + " vs " + std::to_string(b.varCount);
    for (int i = 0; i < a.varCount; ++i) {
        const QNVarDesc &x = *a.vars[i], &y = *b.vars[i];
        std::string where = "var" + std::to_string(i);
        d = diffNv(where, x.name, y.name);
        if (d.empty())
            d = diffNv(where, x.dataType, y.dataType);
        if (d.empty())
            d = diffNv(where, x.defaultValue, y.defaultValue);
        if (!d.empty())
            return d;
        if (x.sendEvents != y.sendEvents)
            return where + ": sendEvents";
        if ((x.allowed == nullptr) != (y.allowed == nullptr))
            return where + ": allowed presence";
        if (x.allowed != nullptr) {
            if (x.allowed->kind != y.allowed->kind)
                return where + ": allowed kind";
            d = diffNvList(where + ".allowed", x.allowed->values, x.allowed->count, y.allowed->values,
                           y.allowed->count);
            if (!d.empty())
                return d;
        }
    }
    return "";
}

// ---- Real XML parsers ----------------------------------------------------------

// Writes text to a fresh file in a temporary folder; the folder is removed
// with the object.
class TempXml {
public:
    explicit TempXml(const std::string &text, const std::string &name = "doc.xml")
    {
        char pattern[] = "/tmp/qnxml-XXXXXX";
        const char *made = mkdtemp(pattern);
        dir_ = made != nullptr ? made : "/tmp";
        path_ = dir_ + "/" + name;
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~TempXml()
    {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string &path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};

// Runs a shell command; its exit status, with standard output and error in
// *output.
inline int runCommand(const std::string &command, std::string *output)
{
    output->clear();
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output->append(chunk, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The result of an XPath expression (xmllint --xpath) over the text
// (without xmllint's final line end), or
// "ERROR: ..." when xmllint rejects the document or the expression.
inline std::string xpath(const std::string &text, const std::string &expr)
{
    TempXml file(text);
    std::string out;
    int rc = runCommand("xmllint --xpath \"" + expr + "\" " + file.path(), &out);
    if (rc != 0)
        return "ERROR: " + out;
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// "" when xmllint finds the text well-formed (and namespace-well-formed),
// else its complaint.
inline std::string xmllintProblems(const std::string &text)
{
    TempXml file(text);
    std::string out;
    int rc = runCommand("xmllint --noout " + file.path(), &out);
    return rc == 0 && out.empty() ? "" : "xmllint: " + out;
}

// The system's Python when there is one (a version-manager shim costs a
// second per start), else the first on the path.
inline std::string python()
{
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

// Runs a Python snippet with `doc` bound to the ElementTree root of the text
// and `ns` a dictionary of the UPnP namespaces; returns what it prints.
inline std::string pythonOnTree(const std::string &text, const std::string &snippet)
{
    TempXml file(text);
    TempXml script("import xml.etree.ElementTree as ET\n"
                   "ns = {'d': 'urn:schemas-upnp-org:device-1-0', 's': 'urn:schemas-upnp-org:service-1-0',\n"
                   "      'e': 'urn:schemas-upnp-org:event-1-0', 'dlna': 'urn:schemas-dlna-org:device-1-0'}\n"
                   "doc = ET.parse('" + file.path() + "').getroot()\n" + snippet + "\n",
                   "check.py");
    std::string out;
    int rc = runCommand(python() + " " + script.path(), &out);
    return rc == 0 ? out : "ERROR: " + out;
}

inline bool toolsAvailable()
{
    static const bool available = [] {
        std::string out;
        return runCommand("xmllint --version", &out) == 0 && runCommand(python() + " --version", &out) == 0;
    }();
    return available;
}

} // namespace qntest
