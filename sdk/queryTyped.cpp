// The copying model queries: a state variable with its type, default and
// allowed values, the related state variable of each argument of an
// action, and a device's icons. Unlike the list queries they hand out no pointers into the model,
// so an application may keep what they return while the server thread
// replaces or releases the model.
#include "query.h"

#include "entity.h"
#include "text.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

template <size_t N>
std::string_view textOf(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// The parsed SCPD of the first service of serviceType, or nullptr.
QNScpd *scpdOfType(QNRootDesc *root, const char *serviceType)
{
    return static_cast<QNScpd *>(findInDevice(&root->device, serviceType, "serviceType", FM_SCPD));
}

const QNVarDesc *findVar(const QNScpd *scpd, const char *name)
{
    for (int i = 0; i < scpd->varCount && i < kMaxStateVars; ++i) {
        const QNVarDesc *var = scpd->vars[i];
        if (var != nullptr && std::strcmp(var->name.val, name) == 0)
            return var;
    }
    return nullptr;
}

// A range's leaves are taken by name (UDA 1.0: minimum, maximum, step).
void copyRange(const QNAllowedVals &range, QNApiVarInfo *info)
{
    int n = std::min<int>(range.count, kMaxAllowedValues);
    for (int i = 0; i < n; ++i) {
        std::string_view name = xmlLocalName(textOf(range.values[i].name));
        char *dst = name == "minimum" ? info->minimum
                    : name == "maximum" ? info->maximum
                    : name == "step"    ? info->step
                                        : nullptr;
        if (dst != nullptr)
            copyBounded(dst, QN_NAME_MAX_LEN, textOf(range.values[i].val));
    }
}

void copyList(const QNAllowedVals &list, QNApiVarInfo *info)
{
    int n = std::min({static_cast<int>(list.count), kMaxAllowedValues, QN_ALLOWED_MAX_NUM});
    for (int i = 0; i < n; ++i)
        copyBounded(info->allowed[i], sizeof info->allowed[i], textOf(list.values[i].val));
    info->allowedNum = static_cast<uint16_t>(n);
}

void copyVar(const QNVarDesc &var, QNApiVarInfo *info)
{
    copyBounded(info->name, sizeof info->name, textOf(var.name.val));
    copyBounded(info->dataType, sizeof info->dataType, textOf(var.dataType.val));
    info->hasDefault = var.defaultValue.name[0] != '\0' ? 1 : 0;
    copyBounded(info->defaultValue, sizeof info->defaultValue, textOf(var.defaultValue.val));
    info->sendEvents = var.sendEvents != 0 ? 1 : 0;
    if (var.allowed == nullptr)
        return;
    if (var.allowed->kind == AK_RANGE) {
        info->hasRange = 1;
        copyRange(*var.allowed, info);
    } else {
        info->hasList = 1;
        copyList(*var.allowed, info);
    }
}

// A non-negative decimal number of at most 9 digits, or -1.
int32_t iconNumber(const char *text)
{
    if (text == nullptr || text[0] == '\0')
        return -1;
    int32_t value = 0;
    for (int i = 0; text[i] != '\0'; ++i) {
        if (text[i] < '0' || text[i] > '9' || i >= 9)
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

void copyIcon(const QNIconDesc &icon, QNApiIcon *out)
{
    std::memset(out, 0, sizeof *out);
    int n = std::min<int>(icon.fieldCount, kIconFields);
    auto leaf = [&](const char *name) { return findNameVal(icon.fields, n, name); };
    const char *mimetype = leaf("mimetype");
    const char *url = leaf("url");
    copyBounded(out->mimetype, sizeof out->mimetype, mimetype != nullptr ? mimetype : "");
    copyBounded(out->url, sizeof out->url, url != nullptr ? url : "");
    out->width = iconNumber(leaf("width"));
    out->height = iconNumber(leaf("height"));
    out->depth = iconNumber(leaf("depth"));
}

} // namespace

extern "C" QN_RET qnGetIconList(QN_ENTITY entity, const char *deviceType, QNApiIcon *icons, int32_t *count)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || deviceType == nullptr || icons == nullptr || count == nullptr || *count <= 0)
        return QN_ERR_ARG;
    const QNDevDesc *dev = deviceType[0] == '\0' ? &root->device : findDeviceByType(&root->device, deviceType);
    if (dev == nullptr) {
        *count = 0;
        return QN_ERR;
    }
    int n = std::min<int>({*count, dev->iconCount, kMaxIcons});
    int kept = 0;
    for (int i = 0; i < n; ++i)
        if (dev->icons[i] != nullptr)
            copyIcon(*dev->icons[i], &icons[kept++]);
    *count = kept;
    return QN_OK;
}

extern "C" QN_RET qnGetVarInfo(QN_ENTITY entity, const char *serviceType, const char *varName, QNApiVarInfo *info)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || serviceType == nullptr || varName == nullptr || info == nullptr)
        return QN_ERR_ARG;
    std::memset(info, 0, sizeof *info);
    const QNScpd *scpd = scpdOfType(root, serviceType);
    const QNVarDesc *var = scpd != nullptr && varName[0] != '\0' ? findVar(scpd, varName) : nullptr;
    if (var == nullptr)
        return QN_ERR;
    copyVar(*var, info);
    return QN_OK;
}

extern "C" QN_RET qnGetActionArgVars(QN_ENTITY entity, const char *serviceType, QNApiAction *action)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || serviceType == nullptr || action == nullptr)
        return QN_ERR_ARG;
    // The application's record may not be terminated.
    char name[QN_NAME_MAX_LEN];
    copyBounded(name, sizeof name, textOf(action->action));
    if (name[0] == '\0')
        return QN_ERR_ARG;
    const QNActionDesc *found = serviceType[0] == '\0' ? findActionInDevice(&root->device, name)
                                                       : findActionInScpd(scpdOfType(root, serviceType), name);
    if (found == nullptr)
        return QN_ERR;
    int n = std::min<int>(found->argCount, QN_ARG_MAX_NUM);
    for (int i = 0; i < n; ++i) {
        const QNArgDesc *arg = found->args[i];
        QNNameVal &nv = action->argNV[i];
        copyBounded(nv.name, sizeof nv.name, arg != nullptr ? textOf(arg->name.val) : std::string_view());
        copyBounded(nv.val, sizeof nv.val, arg != nullptr ? textOf(arg->relatedStateVariable.val) : std::string_view());
        action->argDirection[i] = argDirectionCode(arg != nullptr ? arg->direction.val : nullptr);
    }
    action->argNum = static_cast<uint16_t>(n);
    return QN_OK;
}
