// Reads the captured peer messages under tests/data/wire: every message of a
// capture file as its exact bytes (framing in tests/data/wire/README.md).
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qntest {

inline std::string readWholeFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The messages of one capture file, in file order; empty when it is missing.
inline std::vector<std::string> wireMessages(const std::string &path)
{
    const std::string text = readWholeFile(path);
    const std::string request = ">>> request\r\n";
    const std::string response = "\r\n>>> response (raw, byte-exact below)\r\n";
    const std::string datagram = "===== ";
    std::vector<std::string> out;
    if (text.rfind(request, 0) == 0) {
        size_t split = text.find(response);
        if (split == std::string::npos)
            return out;
        out.push_back(text.substr(request.size(), split - request.size()));
        out.push_back(text.substr(split + response.size()));
    } else if (text.rfind(datagram, 0) == 0) {
        size_t at = 0;
        while (at < text.size()) {
            size_t lineEnd = text.find('\n', at);
            if (lineEnd == std::string::npos)
                break;
            size_t start = lineEnd + 1;
            size_t next = text.find("\n" + datagram, start);
            size_t end = next == std::string::npos ? text.size() : next + 1;
            out.push_back(text.substr(start, end - start));
            at = end;
        }
    } else if (!text.empty()) {
        out.push_back(text);
    }
    return out;
}

} // namespace qntest
