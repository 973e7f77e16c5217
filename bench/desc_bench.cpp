// Parsing speed of the description and SCPD parsers on real documents: each
// fixture description (parseDesc, which also rewrites its buffer with the
// normalised text) and the largest fixture SCPD, AVTransport2.xml (18 KiB,
// 17 actions, 34 variables). Throughput is reported over the document's
// bytes. Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true.
#include "desc.h"
#include "log.h"
#include "scpd.h"
#include "soapParse.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string fixture(const std::string &relative)
{
    std::ifstream in(std::string(QN_TEST_DATA_DIR) + "/fixtures/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void silence()
{
    static bool done = [] {
        setConsoleSink([](const char *) {});
        return true;
    }();
    (void)done;
}

// parseDesc into a model that keeps its records between iterations (the
// steady state of a control point re-reading a device). Each iteration
// first copies the text back, since parseDesc overwrites it.
void parseDescription(benchmark::State &state, const char *path)
{
    silence();
    const std::string text = fixture(path);
    if (text.empty()) {
        state.SkipWithError("fixture missing");
        return;
    }
    std::vector<char> buf(kMaxDocument + 1);
    auto root = std::make_unique<QNRootDesc>();
    for (auto _ : state) {
        std::memcpy(buf.data(), text.c_str(), text.size() + 1);
        QNTextDoc doc{};
        xmlDocOpen(&doc, kDescDocKind, buf.data(), static_cast<uint32_t>(buf.size()));
        int ret = parseDesc(&doc, root.get());
        if (ret != 0)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(root->device.fieldCount);
    }
    freeDesc(root.get());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// parseScpd into a model whose records are reused (no allocation).
void parseScpdReused(benchmark::State &state, const char *path)
{
    silence();
    const std::string text = fixture(path);
    if (text.empty()) {
        state.SkipWithError("fixture missing");
        return;
    }
    QNScpd *scpd = newScpd();
    for (auto _ : state) {
        QNTextDoc doc{};
        xmlDocOpen(&doc, kScpdDocKind, const_cast<char *>(text.c_str()), 0);
        if (parseScpd(&doc, scpd) != 0)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(scpd->varCount);
    }
    freeScpd(scpd);
    deleteScpd(scpd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// As a downloader does it: a new QNScpd, parsed, then released.
void parseScpdFresh(benchmark::State &state, const char *path)
{
    silence();
    const std::string text = fixture(path);
    if (text.empty()) {
        state.SkipWithError("fixture missing");
        return;
    }
    for (auto _ : state) {
        QNScpd *scpd = newScpd();
        QNTextDoc doc{};
        xmlDocOpen(&doc, kScpdDocKind, const_cast<char *>(text.c_str()), 0);
        if (parseScpd(&doc, scpd) != 0)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(scpd->varCount);
        freeScpd(scpd);
        deleteScpd(scpd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void writeScpdText(benchmark::State &state, const char *path)
{
    silence();
    const std::string text = fixture(path);
    QNScpd *scpd = newScpd();
    QNTextDoc in{};
    xmlDocOpen(&in, kScpdDocKind, const_cast<char *>(text.c_str()), 0);
    if (parseScpd(&in, scpd) != 0) {
        state.SkipWithError("parse failed");
        return;
    }
    std::vector<char> out(kMaxDocument + 1);
    size_t written = 0;
    for (auto _ : state) {
        QNTextDoc doc = kScpdDocKind;
        docInitWrite(&doc, out.data(), static_cast<uint32_t>(out.size()));
        writeScpd(&doc, scpd);
        written = doc.len;
        benchmark::DoNotOptimize(out.data());
    }
    freeScpd(scpd);
    deleteScpd(scpd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(written));
}

} // namespace

BENCHMARK_CAPTURE(parseDescription, minidlna, "devices/minidlna/rootDesc.xml");
BENCHMARK_CAPTURE(parseDescription, networkLight, "devices/network-light/network-light-desc.xml");
BENCHMARK_CAPTURE(parseScpdReused, AVTransport2, "scpd/AVTransport2.xml");
BENCHMARK_CAPTURE(parseScpdFresh, AVTransport2, "scpd/AVTransport2.xml");
BENCHMARK_CAPTURE(writeScpdText, AVTransport2, "scpd/AVTransport2.xml");

BENCHMARK_MAIN();
