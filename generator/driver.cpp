// Command line, generation step and the reading of the input documents.
#include "driver.h"

#include "emitFiles.h"
#include "log.h"
#include "scpd.h"
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

constexpr size_t kMaxLineEndText = 4;

struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A document buffer on the heap: up to kMaxDocument bytes and a terminator.
struct DocText {
    std::unique_ptr<char[]> data{new char[kMaxDocument + 1]};
    size_t len = 0;
};

// Reads up to max bytes of path into doc. False when the file cannot be
// opened; *more tells whether the file holds more than max bytes.
bool readDocument(const std::string &path, size_t max, DocText *doc, bool *more)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr)
        return false;
    doc->len = std::fread(doc->data.get(), 1, max, file.get());
    doc->data[doc->len] = '\0';
    *more = std::fgetc(file.get()) != EOF;
    return true;
}

// Releases the model at the end of the run, whatever path it takes.
struct DescGuard {
    QNRootDesc *root;
    ~DescGuard() { freeDesc(root); }
};

int readScpdOfService(const std::string &dir, QNServDesc *serv, DocText *doc)
{
    const char *url = findNameVal(serv->fields, serv->fieldCount, "SCPDURL");
    if (url == nullptr || url[0] == '\0') {
        consolePrint(" could not find SCPDURL\r\n");
        return -1;
    }
    std::string path = dir + "/" + std::string(fileNameOf(url));
    consolePrint(" file name = %s\r\n", path.c_str());
    bool more = false;
    if (!readDocument(path, kMaxDocument, doc, &more)) {
        consolePrint(" could not open file %s\r\n", path.c_str());
        return -1;
    }
    consolePrint(" open file %s OK\r\n", path.c_str());
    if (doc->len == 0) {
        consolePrint(" could not read data from file %s\r\n", path.c_str());
        return -1;
    }
    if (attachNewScpd(serv) == nullptr)
        return QN_ERR_NOMEM;
    return parseAttachedScpd(serv, doc->data.get(), 0);
}

int readScpdTree(const std::string &dir, QNDevDesc *dev, DocText *doc)
{
    for (int i = 0; i < dev->serviceCount && i < kMaxServices; ++i) {
        if (dev->services[i] == nullptr)
            continue;
        int rc = readScpdOfService(dir, dev->services[i], doc);
        if (rc != 0)
            return rc;
    }
    for (int i = 0; i < dev->deviceCount && i < kMaxEmbeddedDevices; ++i) {
        if (dev->devices[i] == nullptr)
            continue;
        int rc = readScpdTree(dir, dev->devices[i], doc);
        if (rc != 0) {
            consolePrint(" parseScpdOfDev() error: %d\r\n", rc);
            return rc;
        }
    }
    return 0;
}

// Reads, parses and writes, with the options already checked.
int readAndWrite(const GenOptions &opts, const std::string &lf)
{
    DocText doc;
    bool more = false;
    if (!readDocument(opts.inputPath, kMaxDocument, &doc, &more)) {
        consolePrint(" unable to open file %s\r\n", opts.inputPath.c_str());
        return GR_NO_FILE;
    }
    if (more)
        return GR_TOO_LONG;
    consolePrint(" parsing file %s: %s\r\n", opts.inputPath.c_str(), doc.data.get());
    auto root = std::make_unique<QNRootDesc>();
    DescGuard guard{root.get()};
    QNTextDoc text;
    // Size 0: the parser leaves the text as it was (the model is all we need).
    xmlDocOpen(&text, kDescDocKind, doc.data.get(), 0);
    if (parseDesc(&text, root.get()) != 0) {
        consolePrint(" parsing of file %s failed!\r\n", opts.inputPath.c_str());
        return GR_PARSE_FAILED;
    }
    if (readScpdFiles(opts.inputPath, &root->device) != 0) {
        consolePrint(" parsing of scpd failed!\r\n");
        return GR_PARSE_FAILED;
    }
    return writeMainFile(makePlan(opts, *root, lf));
}

} // namespace

void printUsage(const char *program)
{
    std::printf("QNGenCmd 1.0: skeleton code for devices and control points of the qnsdk UPnP stack\r\n");
    std::printf("QNGenCmd: A comand line tool to generate C/C++ code for Zentrova SDK\r\n");
    std::printf("Usage: %s -h\r\n", program);
    std::printf("Usage: %s -i InputFileName -o OutputDir\r\n", program);
    std::printf("-i InputFileName - file name of description xml for root device\r\n");
    std::printf("-o OutputDir - where to output files\r\n");
    std::printf("-t dev|cp - generates code for UPnP device or control point\r\n");
    std::printf("-l c|cpp - generates C code or C++ code\r\n");
    std::printf("-a x.x.x.x - IP address of entity, default to use entity's local IP\r\n");
    std::printf("-b ProjectBrief - Brief name of project to generate prefix\r\n");
    std::printf("-n name - entity's name\r\n");
    std::printf("-h - print this help info\r\n");
    std::printf("\r\n");
    std::fflush(stdout);
}

bool parseArgs(int argc, const char *const *argv, GenOptions *opts)
{
    const char *program = argc > 0 ? argv[0] : "QNGenCmd";
    for (int i = 1; i < argc; i += 2) {
        const char *arg = argv[i];
        if (arg[0] != '-' || arg[1] == 'h' || i + 1 >= argc) {
            printUsage(program);
            return false;
        }
        std::string value = argv[i + 1];
        switch (arg[1]) {
        case 'i': opts->inputPath = value; break;
        case 'o': opts->outputDir = value; break;
        case 'b': opts->brief = value; break;
        case 'a': opts->ipAddr = value; break;
        case 'l': opts->lang = 1; break;
        case 't':
            if (value != "dev" && value != "cp") {
                printUsage(program);
                return false;
            }
            opts->isDevice = value == "dev" ? 1 : 0;
            break;
        default: printUsage(program); return false;
        }
    }
    return true;
}

int makeDirs(const std::string &path)
{
    std::error_code ec;
    std::filesystem::create_directory(path, ec);
    if (std::filesystem::is_directory(path, ec))
        return 0;
    size_t sep = path.find_last_of('/');
    if (sep == std::string::npos || sep == 0)
        return -1;
    if (makeDirs(path.substr(0, sep)) != 0)
        return -1;
    std::filesystem::create_directory(path, ec);
    return std::filesystem::is_directory(path, ec) ? 0 : -1;
}

int parseLineEnd(std::string_view escaped, std::string *out)
{
    out->clear();
    if (escaped.size() > kMaxLineEndText || escaped.size() % 2 != 0)
        return GR_BAD_OPTIONS;
    for (size_t i = 0; i < escaped.size(); i += 2) {
        if (escaped[i] != '\\' || (escaped[i + 1] != 'r' && escaped[i + 1] != 'n'))
            return GR_BAD_OPTIONS;
        out->push_back(escaped[i + 1] == 'r' ? '\r' : '\n');
    }
    return GR_OK;
}

int readScpdFiles(const std::string &inputPath, QNDevDesc *dev)
{
    DocText doc;
    return readScpdTree(directoryOf(inputPath), dev, &doc);
}

int generate(const GenOptions &given)
{
    if (given.inputPath.empty() || given.outputDir.empty() || given.brief.empty())
        return GR_BAD_OPTIONS;
    GenOptions opts = given;
    std::replace(opts.inputPath.begin(), opts.inputPath.end(), '\\', '/');
    std::replace(opts.outputDir.begin(), opts.outputDir.end(), '\\', '/');
    if (makeDirs(opts.outputDir) != 0)
        return GR_NO_OUTPUT;
    if (opts.lineEnd.empty())
        opts.lineEnd = kDefaultLineEnd;
    if (opts.entityName.empty())
        opts.entityName = kDefaultEntityName;
    std::string lf;
    if (parseLineEnd(opts.lineEnd, &lf) != GR_OK)
        return GR_BAD_OPTIONS;
    return readAndWrite(opts, lf);
}

int runGenCmd(int argc, const char *const *argv)
{
    GenOptions opts;
    if (!parseArgs(argc, argv, &opts))
        return GR_OK;
    return generate(opts);
}
