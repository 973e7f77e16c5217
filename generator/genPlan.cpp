// Derived names and the plan of the generated files.
#include "genPlan.h"

#include "text.h"

#include <cctype>
#include <map>
#include <set>

namespace {

constexpr size_t kMaxScpdFileName = QN_NAME_MAX_LEN - 1;

bool isIdentChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool isPortableFileChar(char c)
{
    return isIdentChar(c) || c == '.' || c == '-';
}

void appendOctal(std::string *out, unsigned char c)
{
    out->push_back('\\');
    out->push_back(static_cast<char>('0' + ((c >> 6) & 7)));
    out->push_back(static_cast<char>('0' + ((c >> 3) & 7)));
    out->push_back(static_cast<char>('0' + (c & 7)));
}

// Depth-first over the device tree: services first, then embedded devices.
template <typename Fn>
void forEachService(const QNDevDesc *dev, Fn &&fn)
{
    for (int i = 0; i < dev->serviceCount && i < kMaxServices; ++i)
        if (dev->services[i] != nullptr)
            fn(dev->services[i]);
    for (int i = 0; i < dev->deviceCount && i < kMaxEmbeddedDevices; ++i)
        if (dev->devices[i] != nullptr)
            forEachService(dev->devices[i], fn);
}

// Makes name unique among taken by appending _2, _3, ...
std::string uniqueName(const std::string &name, std::set<std::string> *taken)
{
    std::string candidate = name;
    for (int n = 2; taken->count(candidate) != 0; ++n)
        candidate = name + "_" + std::to_string(n);
    taken->insert(candidate);
    return candidate;
}

// Callbacks of one SCPD: each identifier is defined by the first file that
// declares it; each exact name gets one dispatch row.
struct CallbackOwners {
    std::map<std::string, std::string> ownerOfIdent;
    std::set<std::string> rowNames;
};

void planCallbacks(const std::string &cbBase, std::vector<std::string_view> names, CallbackOwners *owners,
                   std::vector<CallbackItem> *items, std::vector<TableRow> *rows)
{
    for (std::string_view name : names) {
        CallbackItem item{std::string(name), identOf(name), true, cbBase};
        auto found = owners->ownerOfIdent.find(item.ident);
        if (found != owners->ownerOfIdent.end()) {
            item.own = false;
            item.owner = found->second;
        } else {
            owners->ownerOfIdent.emplace(item.ident, cbBase);
        }
        if (owners->rowNames.insert(item.name).second)
            rows->push_back({item.name, item.ident});
        // One entry per identifier and file: a name twice in one SCPD is one callback.
        bool seen = false;
        for (const CallbackItem &other : *items)
            seen = seen || other.ident == item.ident;
        if (!seen)
            items->push_back(std::move(item));
    }
}

std::vector<std::string_view> actionNames(const QNScpd *scpd)
{
    std::vector<std::string_view> names;
    for (int i = 0; scpd != nullptr && i < scpd->actionCount && i < kMaxActions; ++i)
        if (scpd->actions[i] != nullptr)
            names.emplace_back(scpd->actions[i]->name.val);
    return names;
}

std::vector<std::string_view> varNames(const QNScpd *scpd)
{
    std::vector<std::string_view> names;
    for (int i = 0; scpd != nullptr && i < scpd->varCount && i < kMaxStateVars; ++i)
        if (scpd->vars[i] != nullptr)
            names.emplace_back(scpd->vars[i]->name.val);
    return names;
}

} // namespace

std::string_view fileNameOf(std::string_view path)
{
    size_t sep = path.find_last_of("/\\");
    return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

std::string directoryOf(std::string_view path)
{
    size_t sep = path.find_last_of('/');
    if (sep == std::string_view::npos)
        return ".";
    if (sep == 0)
        return "/";
    return std::string(path.substr(0, sep));
}

std::string identOf(std::string_view text)
{
    std::string ident;
    for (char c : text)
        ident.push_back(isIdentChar(c) ? c : '_');
    return ident;
}

std::string fileScopeIdentOf(std::string_view text)
{
    bool letterFirst = !text.empty() && std::isalpha(static_cast<unsigned char>(text.front())) != 0;
    return (letterFirst ? "" : "x") + identOf(text);
}

std::string cStringOf(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '?' && i + 1 < text.size() && text[i + 1] == '?') {
            out += "?\\";
        } else if ((u < 0x20 && c != '\t') || u == 0x7f) {
            appendOctal(&out, u);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string scpdFileOf(const QNServDesc *serv)
{
    const char *url = serv != nullptr ? findNameVal(serv->fields, serv->fieldCount, "SCPDURL") : nullptr;
    std::string_view name = url != nullptr ? fileNameOf(url) : std::string_view();
    if (name.empty())
        return kUnknownName;
    return std::string(name.substr(0, kMaxScpdFileName));
}

std::string cbBaseOf(std::string_view scpdFile)
{
    std::string_view base = scpdFile;
    if (base.size() >= 4) {
        std::string_view tail = base.substr(base.size() - 4);
        bool isXml = tail[0] == '.' && std::tolower(static_cast<unsigned char>(tail[1])) == 'x' &&
                     std::tolower(static_cast<unsigned char>(tail[2])) == 'm' &&
                     std::tolower(static_cast<unsigned char>(tail[3])) == 'l';
        if (isXml)
            base.remove_suffix(4);
    }
    std::string out;
    for (char c : base)
        out.push_back(isPortableFileChar(c) ? c : '_');
    return out + "_CB";
}

GenPlan makePlan(const GenOptions &opts, const QNRootDesc &root, const std::string &lf)
{
    GenPlan plan;
    plan.opts = &opts;
    plan.root = &root;
    plan.lf = lf;
    plan.brief = fileScopeIdentOf(opts.brief);
    plan.prefix = plan.brief + (opts.isDevice != 0 ? "" : "CP");
    std::string_view descName = fileNameOf(opts.inputPath);
    plan.descName = descName.empty() ? kUnknownName : std::string(descName);
    plan.descIdent = fileScopeIdentOf(plan.descName);
    plan.localPath = directoryOf(opts.inputPath);

    // Names the generated files and identifiers already use.
    std::set<std::string> idents{plan.descIdent, plan.brief + "Desc_xml"};
    std::set<std::string> cbBases;
    std::set<std::string> files;
    CallbackOwners actionOwners;
    CallbackOwners varOwners;
    forEachService(&root.device, [&](const QNServDesc *serv) {
        std::string file = scpdFileOf(serv);
        if (!files.insert(file).second)
            return; // shares the SCPD of an earlier service
        ScpdFile entry;
        entry.service = serv;
        entry.file = file;
        entry.ident = uniqueName(fileScopeIdentOf(file), &idents);
        entry.cbBase = uniqueName(cbBaseOf(file), &cbBases);
        planCallbacks(entry.cbBase, actionNames(serv->scpd), &actionOwners, &entry.actions, &plan.actionRows);
        planCallbacks(entry.cbBase, varNames(serv->scpd), &varOwners, &entry.vars, &plan.varRows);
        plan.scpds.push_back(std::move(entry));
    });
    return plan;
}
