// Writers of the generated files: main source, XML headers, callback files
// and the project's CMakeLists.txt.
#include "emitFiles.h"

#include "expand.h"
#include "log.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

// Generated text is written byte for byte: the line end is the one chosen
// by the options, on every platform.
struct FileCloser {
    void operator()(FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr openForWriting(const std::string &path)
{
    return FilePtr(std::fopen(path.c_str(), "wb"));
}

// Writes text and closes; false when anything failed.
bool finishFile(FilePtr file, const std::string &text)
{
    bool ok = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fclose(file.release()) == 0 && ok;
}

bool writeWholeFile(const std::string &path, const std::string &text)
{
    FilePtr file = openForWriting(path);
    return file != nullptr && finishFile(std::move(file), text);
}

// Only a file counts as existing: anything else in its place is no file
// to keep and fails when written.
bool fileExists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

bool readWholeFile(const std::string &path, std::string *text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buf;
    buf << in.rdbuf();
    *text = std::move(buf).str();
    return !in.bad();
}

std::string outputPath(const GenPlan &plan, const std::string &name)
{
    return plan.opts->outputDir + "/" + name;
}

// A literal stays below what every C compiler takes in one piece; a longer
// line continues in the next literal.
constexpr size_t kLiteralPiece = 1023;

void appendLineLiterals(std::string_view line, const std::string &lf, std::string *out)
{
    do {
        std::string_view piece = line.substr(0, kLiteralPiece);
        *out += "\"" + cStringOf(piece) + "\"" + lf;
        line.remove_prefix(piece.size());
    } while (!line.empty());
}

// The XML text as literals: CR LF, LF and CR each end a line. An empty file
// is one empty literal, so that the including initialiser stays valid.
std::string xmlLiterals(std::string_view xml, const std::string &lf)
{
    std::string out = xml.empty() ? "\"\"" + lf : "";
    while (!xml.empty()) {
        size_t end = xml.find_first_of("\r\n");
        appendLineLiterals(xml.substr(0, end), lf, &out);
        if (end == std::string_view::npos)
            break;
        size_t breakLen = xml.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        xml.remove_prefix(end + breakLen);
    }
    return out + lf;
}

void appendActionCallback(const QNActionDesc *action, const std::string &ident, const std::string &lf,
                          std::string *out)
{
    *out += "QN_RET qnActionCB_" + ident + "(QNApiAction *action)" + lf + "{" + lf + "\tint i = 0;" + lf + lf;
    int checks = 0;
    for (int i = 0; i < action->argCount && i < QN_ARG_MAX_NUM; ++i) {
        const QNArgDesc *arg = action->args[i];
        if (arg == nullptr || std::string_view(arg->direction.val) != "in")
            continue;
        *out += "\tif (0 != strcmp(action->argNV[i ++].name, \"" + cStringOf(arg->name.val) + "\"))" + lf +
                "\t\treturn QN_ERR_ARG;" + lf;
        ++checks;
    }
    *out += (checks > 0 ? lf : "") + "\t// TODO: Add your extra code here" + lf;
    // The stack has answered undefined actions and arguments itself; what
    // the application refuses, it names in the record.
    *out += "\t// To refuse the request, set action->errCode to a UPnP error (600" + lf +
            "\t// Argument Value Invalid, 701 Transition not available, ...) and" + lf +
            "\t// action->errDesc to its text, and return QN_ERR: the SOAP fault" + lf +
            "\t// carries them (without them it is 501 XML error)." + lf + lf;
    if (checks > 0)
        *out += "\ti = 0;" + lf;
    int outs = 0;
    for (int i = 0; i < action->argCount && i < QN_ARG_MAX_NUM; ++i) {
        const QNArgDesc *arg = action->args[i];
        if (arg == nullptr || std::string_view(arg->direction.val) != "out")
            continue;
        *out += "\tqnSetNVNameVal(&action->argNV[i ++], \"" + cStringOf(arg->name.val) + "\", \"tempVal" +
                std::to_string(outs++) + "\");" + lf;
    }
    *out += "\taction->argNum = i;" + lf + lf + "\treturn QN_OK;" + lf + "}" + lf + lf;
}

void appendQueryCallback(const std::string &ident, const std::string &lf, std::string *out)
{
    *out += "QN_RET qnQueryCB_" + ident + "(QNNameVal *nv)" + lf + "{" + lf + "\tqnSetNVVal(nv->val, \"tempVal\");" +
            lf + "\treturn QN_OK;" + lf + "}" + lf + lf;
}

// A name whose callback another file defines: the stack hands actions and
// queries to the device by name alone, so one callback serves them all.
void appendSharedNote(const char *kind, const CallbackItem &item, const std::string &lf, std::string *out)
{
    *out += std::string("/* ") + kind + item.ident + " is in " + item.owner + ".c: one callback serves every service with " +
            "this name */" + lf + lf;
}

const QNActionDesc *findAction(const QNScpd *scpd, const std::string &name)
{
    for (int i = 0; scpd != nullptr && i < scpd->actionCount && i < kMaxActions; ++i)
        if (scpd->actions[i] != nullptr && name == scpd->actions[i]->name.val)
            return scpd->actions[i];
    return nullptr;
}

std::string callbackHeader(const GenPlan &plan, const ScpdFile &scpd)
{
    std::string text;
    writeBanner(plan, &text);
    for (const CallbackItem &item : scpd.actions)
        if (item.own)
            text += "QN_RET qnActionCB_" + item.ident + "(QNApiAction *action);" + plan.lf;
    text += plan.lf;
    for (const CallbackItem &item : scpd.vars)
        if (item.own)
            text += "QN_RET qnQueryCB_" + item.ident + "(QNNameVal *nv);" + plan.lf;
    return text + plan.lf;
}

std::string callbackSource(const GenPlan &plan, const ScpdFile &scpd)
{
    const std::string &lf = plan.lf;
    std::string text;
    writeBanner(plan, &text);
    text += "#include <string.h>" + lf + "#include <stdio.h>" + lf + "#include \"qnSdkApi.h\"" + lf + "#include \"" +
            scpd.cbBase + ".h\"" + lf + lf;
    for (const CallbackItem &item : scpd.actions) {
        const QNActionDesc *action = findAction(scpd.service->scpd, item.name);
        if (!item.own)
            appendSharedNote("qnActionCB_", item, lf, &text);
        else if (action != nullptr)
            appendActionCallback(action, item.ident, lf, &text);
    }
    text += lf;
    for (const CallbackItem &item : scpd.vars) {
        if (item.own)
            appendQueryCallback(item.ident, lf, &text);
        else
            appendSharedNote("qnQueryCB_", item, lf, &text);
    }
    return text;
}

// The path of an SCPD beside the description: its last segment replaced.
std::string scpdSourcePath(const GenPlan &plan, const ScpdFile &scpd)
{
    return plan.localPath + "/" + scpd.file;
}

} // namespace

int writeXmlHeader(const GenPlan &plan, const std::string &xmlPath, const std::string &headerPath)
{
    if (plan.opts->overwriteXmlHeaders == 0 && fileExists(headerPath))
        return 0;
    std::string xml;
    if (!readWholeFile(xmlPath, &xml))
        return -1;
    return writeWholeFile(headerPath, xmlLiterals(xml, plan.lf)) ? 0 : -1;
}

int writeCallbackFiles(const GenPlan &plan, const ScpdFile &scpd)
{
    if (!writeWholeFile(outputPath(plan, scpd.cbBase + ".h"), callbackHeader(plan, scpd)))
        return -1;
    std::string source = outputPath(plan, scpd.cbBase + ".c");
    if (plan.opts->overwriteCallbackSources == 0 && fileExists(source))
        return 0;
    return writeWholeFile(source, callbackSource(plan, scpd)) ? 0 : -1;
}

int writeCMakeLists(const GenPlan &plan)
{
    std::string path = outputPath(plan, "CMakeLists.txt");
    if (fileExists(path))
        return 0;
    const GenOptions &opts = *plan.opts;
    std::string project = plan.prefix;
    std::string sources = opts.brief + (opts.isDevice != 0 ? ".c" : "CP.c");
    for (const ScpdFile &scpd : plan.scpds)
        if (opts.isDevice != 0)
            sources += " " + scpd.cbBase + ".c";
    std::string text(cmakeListsTemplate());
    for (size_t at; (at = text.find("@PROJECT@")) != std::string::npos;)
        text.replace(at, 9, project);
    for (size_t at; (at = text.find("@SOURCES@")) != std::string::npos;)
        text.replace(at, 9, sources);
    return writeWholeFile(path, text) ? 0 : -1;
}

int writeMainFile(const GenPlan &plan)
{
    const GenOptions &opts = *plan.opts;
    std::string mainPath = outputPath(plan, opts.brief + (opts.isDevice != 0 ? ".c" : "CP.c"));
    consolePrint(" fileName = %s\r\n", mainPath.c_str());
    FilePtr mainFile = openForWriting(mainPath);
    if (mainFile == nullptr)
        return GR_NO_OUTPUT;
    std::string text;
    writeBanner(plan, &text);
    expandTemplate(mainTemplate(), plan, &text, true);
    if (!finishFile(std::move(mainFile), text))
        return GR_NO_OUTPUT;

    if (writeXmlHeader(plan, opts.inputPath, outputPath(plan, plan.descIdent + ".h")) == 0) {
        for (const ScpdFile &scpd : plan.scpds)
            if (writeXmlHeader(plan, scpdSourcePath(plan, scpd), outputPath(plan, scpd.ident + ".h")) != 0)
                break;
    }
    if (opts.isDevice != 0) {
        for (const ScpdFile &scpd : plan.scpds)
            if (writeCallbackFiles(plan, scpd) != 0)
                return GR_NO_FILE;
    }
    (void)writeCMakeLists(plan);
    return GR_OK;
}
