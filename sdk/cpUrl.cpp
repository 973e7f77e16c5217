#include "cpUrl.h"

#include "log.h"
#include "text.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <string_view>

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

// Drops "." and ".." segments of an absolute path.
std::string normalisePath(std::string_view path)
{
    std::string out;
    size_t at = 0;
    while (at < path.size()) {
        size_t next = path.find('/', at + 1);
        std::string_view seg = path.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at);
        if (seg == "/..") {
            size_t cut = out.rfind('/');
            out.resize(cut == std::string::npos ? 0 : cut);
        } else if (seg != "/.") {
            out.append(seg);
        }
        if (next == std::string_view::npos)
            break;
        at = next;
    }
    if (out.empty() || (path.size() > 0 && (path.ends_with("/..") || path.ends_with("/."))))
        out.push_back('/');
    return out;
}

// The host a description's URLs may name: the address the description was
// fetched from (its recorded device address), else the host of its URL.
uint32_t descriptionHost(const EntitySlot *cp)
{
    if (cp->desc != nullptr && cp->desc->hostAddr != 0)
        return cp->desc->hostAddr;
    char scheme[16], path[QN_VAL_MAX_LEN];
    uint32_t addr = 0;
    uint16_t port = 0;
    if (!startsWithNoCase(cp->cp.descFile, "http://") ||
        parseUrl(cp->cp.descFile, scheme, sizeof scheme, &addr, &port, path, sizeof path) != 0)
        return 0;
    return addr;
}

} // namespace

void joinUrl(const char *base, const char *ref, char *out, int outSize)
{
    std::string_view r(ref ? ref : "");
    std::string_view b(base ? base : "");
    if (startsWithNoCase(r, "http://") || b.empty()) {
        copyBounded(out, static_cast<size_t>(outSize), r);
        return;
    }
    // Split the base into "http://host:port" and its path without query.
    size_t authorityEnd = b.find('/', startsWithNoCase(b, "http://") ? 7 : 0);
    std::string_view origin = b.substr(0, authorityEnd);
    std::string_view basePath = authorityEnd == std::string_view::npos ? "/" : b.substr(authorityEnd);
    basePath = basePath.substr(0, basePath.find_first_of("?#"));
    std::string joined;
    if (r.starts_with("/")) {
        joined = normalisePath(r.substr(0, r.find_first_of("?#"))) +
                 std::string(r.substr(std::min(r.size(), r.find_first_of("?#"))));
    } else if (r.starts_with("?")) {
        joined = std::string(basePath) + std::string(r);
    } else {
        std::string_view dir = basePath.substr(0, basePath.rfind('/') + 1);
        std::string whole = std::string(dir) + std::string(r.substr(0, r.find_first_of("?#")));
        joined = normalisePath(whole) + std::string(r.substr(std::min(r.size(), r.find_first_of("?#"))));
    }
    copyBounded(out, static_cast<size_t>(outSize), std::string(origin) + joined);
}

int resolveRemoteUrl(const EntitySlot *cp, const char *url, RemoteTarget *out)
{
    if (cp == nullptr || url == nullptr || out == nullptr)
        return QN_ERR_ARG;
    *out = RemoteTarget{};
    char absolute[QN_VAL_MAX_LEN];
    const QNRootDesc *desc = cp->desc;
    if (startsWithNoCase(url, "http://")) {
        copyBounded(absolute, sizeof absolute, url);
    } else if (url[0] == '/' && desc != nullptr && desc->hostAddr != 0) {
        // An absolute path goes to the device's recorded address.
        in_addr a{desc->hostAddr};
        char origin[64];
        strBuild(origin, sizeof origin, "s", "http://", "s", inet_ntoa(a), "s", ":", "u",
                 static_cast<unsigned>(ntohs(desc->hostPort)), "");
        joinUrl(origin, url, absolute, sizeof absolute);
    } else {
        const char *base = desc != nullptr && desc->urlBase.val[0] != '\0' &&
                                   std::strcmp(desc->urlBase.name, "URLBase") == 0
                               ? desc->urlBase.val
                               : cp->cp.descFile;
        joinUrl(base, url, absolute, sizeof absolute);
    }
    char scheme[16];
    if (!startsWithNoCase(absolute, "http://") ||
        parseUrl(absolute, scheme, sizeof scheme, &out->addr, &out->port, out->path, sizeof out->path) != 0)
        return -1;
    // A description sends its control point nowhere but back to its own
    // host: not to a third party, and never through a name look-up.
    if (out->addr != descriptionHost(cp)) {
        debugPrint(LOG_SSDP, "URL names another host", LOG_NOTABLE);
        return -1;
    }
    if (out->path[0] == '\0')
        copyBounded(out->path, sizeof out->path, "/");
    in_addr a{out->addr};
    uint16_t port = ntohs(out->port);
    if (port == 80)
        copyBounded(out->host, sizeof out->host, inet_ntoa(a));
    else
        strBuild(out->host, sizeof out->host, "s", inet_ntoa(a), "s", ":", "u", static_cast<unsigned>(port), "");
    return 0;
}
