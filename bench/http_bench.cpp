// Parsing of typical messages as they arrive: an SSDP NOTIFY (the bulk of
// multicast traffic on a busy network) and a SOAP POST request, both real
// captures.
#include "http.h"

#include "../tests/support/wireCapture.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

std::string capture(const char *file, size_t index)
{
    std::vector<std::string> messages = qntest::wireMessages(std::string(QN_TEST_DATA_DIR) + "/wire/" + file);
    return index < messages.size() ? messages[index] : std::string();
}

// The server parses in place in the socket's buffer; so does this.
void parseMessage(benchmark::State &state, const std::string &text)
{
    if (text.empty()) {
        state.SkipWithError("capture missing");
        return;
    }
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    static HttpMsg msg;
    QNTextDoc doc = kHttpDocTemplate;
    for (auto _ : state) {
        docInitRead(&doc, buffer.data());
        int ret = httpParse(&doc, &msg);
        benchmark::DoNotOptimize(ret);
        benchmark::DoNotOptimize(msg.count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void parseSsdpNotify(benchmark::State &state)
{
    // An ssdp:alive of MiniDLNA: seven headers.
    parseMessage(state, capture("minidlna/ssdp-notify.txt", 6));
}

void parseSoapPost(benchmark::State &state)
{
    parseMessage(state, capture("minidlna/soap-action.txt", 0));
}

} // namespace

BENCHMARK(parseSsdpNotify);
BENCHMARK(parseSoapPost);

BENCHMARK_MAIN();
