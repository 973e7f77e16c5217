// SCPD parser and release.
#include "scpd.h"

#include "log.h"

#include <cstring>
#include <new>

namespace {

constexpr int kErrStructure = -500;

int parseScpdDoc(QNTextDoc *doc, void *model)
{
    return parseScpd(doc, static_cast<QNScpd *>(model));
}

int writeScpdDoc(QNTextDoc *doc, void *model)
{
    return writeScpd(doc, static_cast<const QNScpd *>(model));
}

bool docUsable(const QNTextDoc *doc)
{
    return doc != nullptr && doc->text != nullptr && doc->pos <= doc->len;
}

void clearNameVal(QNNameVal *nv)
{
    nv->name[0] = '\0';
    nv->val[0] = '\0';
}

// The record for a slot: a new zero-filled one, or the one the slot holds,
// emptied but keeping the records it owns for reuse. nullptr when memory is
// short.
QNActionDesc *takeAction(QNActionDesc *&slot)
{
    if (slot == nullptr)
        return slot = new (std::nothrow) QNActionDesc();
    std::memset(&slot->name, 0, sizeof slot->name);
    slot->argCount = 0;
    return slot;
}

QNArgDesc *takeArg(QNArgDesc *&slot)
{
    if (slot == nullptr)
        return slot = new (std::nothrow) QNArgDesc();
    std::memset(slot, 0, sizeof *slot);
    return slot;
}

QNVarDesc *takeVar(QNVarDesc *&slot)
{
    if (slot == nullptr)
        return slot = new (std::nothrow) QNVarDesc();
    std::memset(&slot->name, 0, sizeof slot->name);
    std::memset(&slot->dataType, 0, sizeof slot->dataType);
    std::memset(&slot->defaultValue, 0, sizeof slot->defaultValue);
    slot->sendEvents = 0;
    return slot;
}

// Failure number printed by parseScpd before it answers -500.
int scpdFailure(int where)
{
    consolePrint(": %d\r\n", where);
    return kErrStructure;
}

bool startsWith(const QNTextDoc *doc, uint32_t at, std::string_view word)
{
    return at <= doc->len && doc->len - at >= word.size() && std::memcmp(doc->text + at, word.data(), word.size()) == 0;
}

uint32_t skipBlankAt(QNTextDoc *doc, uint32_t at)
{
    doc->pos = at;
    (void)xmlSkipBlank(doc);
    return doc->pos;
}

// The sendEvents attribute of the stateVariable start tag whose content
// starts at contentStart: 1 or 0 in *flag, -1 for a malformed attribute.
// Only the first attribute is examined; without sendEvents the variable is
// evented (UDA 1.0: sendEvents defaults to "yes").
int readSendEvents(QNTextDoc *doc, uint32_t contentStart, uint8_t *flag)
{
    static constexpr std::string_view kTag = "stateVariable";
    static constexpr std::string_view kAttr = "sendEvents";
    *flag = 1;
    if (contentStart > doc->len || contentStart < kTag.size())
        return -1;
    uint32_t at = contentStart - static_cast<uint32_t>(kTag.size());
    for (;;) {
        if (startsWith(doc, at, kTag))
            break;
        if (at == 0)
            return -1;
        --at;
    }
    uint32_t p = skipBlankAt(doc, at + static_cast<uint32_t>(kTag.size()));
    if (!startsWith(doc, p, kAttr))
        return 0;
    p = skipBlankAt(doc, p + static_cast<uint32_t>(kAttr.size()));
    if (p >= doc->len || doc->text[p] != '=')
        return -1;
    p = skipBlankAt(doc, p + 1);
    if (p >= doc->len || doc->text[p] != '"')
        return -1;
    ++p;
    if (startsWith(doc, p, "yes")) {
        *flag = 1;
    } else if (startsWith(doc, p, "no")) {
        *flag = 0;
    } else {
        consolePrint(" NULL sendEvents\r\n");
        return -1;
    }
    return 0;
}

// The argument fields read so far; relatedStateVariable and dataType name
// the argument's type two ways and share one flag.
struct ArgLeavesSeen {
    bool name = false;
    bool direction = false;
    bool type = false;
};

// Stores a leaf of an argument in the field of its name. The first name is
// kept; a second direction or type is an error (-1). retval and leaves the
// record has no field for are passed over.
int keepArgLeaf(QNArgDesc *arg, const QNNameVal &leaf, ArgLeavesSeen *seen)
{
    std::string_view name(leaf.name);
    if (name == "name") {
        if (!seen->name)
            arg->name = leaf;
        seen->name = true;
    } else if (name == "direction") {
        if (seen->direction)
            return -1;
        seen->direction = true;
        arg->direction = leaf;
    } else if (name == "relatedStateVariable" || name == "dataType") {
        if (seen->type)
            return -1;
        seen->type = true;
        (name == "dataType" ? arg->dataType : arg->relatedStateVariable) = leaf;
    }
    return 0;
}

// The allowed-value kind of a child named name, or -1 for any other child.
int allowedKindOf(std::string_view name)
{
    if (name == "allowedValueList")
        return AK_LIST;
    if (name == "allowedValueRange")
        return AK_RANGE;
    return -1;
}

// Moves pos to the first allowedValueList or allowedValueRange among the
// variable's remaining children and stores it in *child with its kind: the
// leaves before it (defaultValue, which UDA 1.0 puts between dataType and
// the allowed values, and any other) are passed over. *kind is -1 when
// another container or the variable's closing tag comes first.
int findAllowedValues(QNTextDoc *doc, XmlChild *child, int *kind)
{
    for (;;) {
        *kind = -1;
        int ret = xmlReadElementAt(doc, child); // pos stays before the child
        if (ret != 0 || doc->state == XS_NONE)
            return ret;
        if (doc->state == XS_ELEMENT)
            *kind = allowedKindOf(xmlChildName(doc, *child));
        if (*kind >= 0)
            return 0;
        QNNameVal passed;
        ret = xmlReadLeaf(doc, &passed); // moves pos past a leaf only
        if (ret != 0 || doc->state == XS_NONE)
            return ret;
    }
}

// The first defaultValue leaf among the variable's children from pos, kept
// in *out; other leaves and containers are passed over. UDA 1.0 puts it
// before the allowed values, many devices after them. The leading leaves
// that parseStateVar takes as name and dataType (up to two, whatever their
// tags) are not candidates, so that a written variable reads back the same.
// A child that cannot be read ends the search without an error: the pass
// that fills the rest of the record reports it.
void findDefaultValue(QNTextDoc *doc, QNNameVal *out)
{
    int leading = 0; // leaves before the first container, up to two
    bool inLead = true;
    for (;;) {
        XmlChild child{};
        if (xmlReadElementAt(doc, &child) != 0 || doc->state == XS_NONE)
            return;
        QNNameVal leaf;
        if (xmlReadLeaf(doc, &leaf) != 0)
            return;
        if (doc->state == XS_NONE) { // an element with children
            inLead = false;
            xmlMovePast(doc, child, XS_ELEMENT);
            continue;
        }
        if (inLead && leading < 2) {
            ++leading;
            continue;
        }
        if (std::strcmp(leaf.name, "defaultValue") == 0) {
            *out = leaf;
            return;
        }
    }
}

} // namespace

constinit const QNTextDoc kScpdDocKind = xmlDocKind(parseScpdDoc, writeScpdDoc);

QNScpd *newScpd()
{
    return new (std::nothrow) QNScpd();
}

void deleteScpd(QNScpd *scpd)
{
    delete scpd;
}

int parseScpd(QNTextDoc *doc, QNScpd *scpd)
{
    if (!docUsable(doc) || scpd == nullptr)
        return QN_ERR_ARG;
    if (xmlSkipDecl(doc) != 0)
        return scpdFailure(1);
    XmlChild top{};
    if (xmlReadElementAt(doc, &top) != 0) {
        debugPrint(LOG_XML, "SCPD parsing - failed\r\n", LOG_DETAIL);
        return scpdFailure(2);
    }
    if (doc->state != XS_ELEMENT || xmlChildName(doc, top) != "scpd")
        return scpdFailure(3);
    clearNameVal(&scpd->specVersion[0]);
    clearNameVal(&scpd->specVersion[1]);
    scpd->actionCount = 0;
    scpd->varCount = 0;
    doc->pos = top.start;
    XmlChild kids[kScpdContainerSlots];
    int noLeaves = 0;
    int count = kScpdContainerSlots;
    if (xmlReadChildList(doc, nullptr, &noLeaves, kids, &count) != 0)
        return scpdFailure(4);
    for (int i = 0; i < count; ++i) {
        std::string_view name = xmlChildName(doc, kids[i]);
        doc->pos = kids[i].start;
        if (name == "specVersion") {
            int versions = 2;
            XmlChild ignored[kScpdContainerSlots];
            int slots = kScpdContainerSlots;
            if (xmlReadChildList(doc, scpd->specVersion, &versions, ignored, &slots) != 0) {
                debugPrint(LOG_XML, "Parsing scpd: Sub Desc parsing failed\r\n", LOG_ERROR);
                return scpdFailure(5);
            }
        } else if (name == "actionList") {
            if (parseActionList(doc, scpd) != 0)
                return scpdFailure(6);
        } else if (name == "serviceStateTable") {
            if (parseStateTable(doc, scpd) != 0)
                return scpdFailure(7);
        } else {
            return scpdFailure(8);
        }
    }
    return 0;
}

int parseActionList(QNTextDoc *doc, QNScpd *scpd)
{
    if (!docUsable(doc) || scpd == nullptr)
        return QN_ERR_ARG;
    XmlChild items[kMaxActions];
    int noLeaves = 0;
    int count = kMaxActions;
    int ret = xmlReadChildList(doc, nullptr, &noLeaves, items, &count);
    if (ret != 0)
        return ret;
    scpd->actionCount = 0;
    for (int i = 0; i < count; ++i) {
        if (xmlChildName(doc, items[i]) != "action")
            return -1;
        QNActionDesc *action = takeAction(scpd->actions[scpd->actionCount]);
        if (action == nullptr)
            return QN_ERR_NOMEM;
        ++scpd->actionCount;
        doc->pos = items[i].start;
        ret = parseAction(doc, action);
        if (ret != 0)
            return ret;
    }
    return 0;
}

int parseAction(QNTextDoc *doc, QNActionDesc *action)
{
    if (!docUsable(doc) || action == nullptr)
        return QN_ERR_ARG;
    int leaves = 1;
    XmlChild list{};
    int count = 1;
    int ret = xmlReadChildList(doc, &action->name, &leaves, &list, &count);
    if (ret != 0)
        return ret;
    action->argCount = 0;
    if (count == 0)
        return 0;
    if (xmlChildName(doc, list) != "argumentList")
        return -1;
    doc->pos = list.start;
    return parseArgList(doc, action);
}

int parseArgList(QNTextDoc *doc, QNActionDesc *action)
{
    if (!docUsable(doc) || action == nullptr)
        return QN_ERR_ARG;
    XmlChild items[QN_ARG_MAX_NUM];
    int noLeaves = 0;
    int count = QN_ARG_MAX_NUM;
    int ret = xmlReadChildList(doc, nullptr, &noLeaves, items, &count);
    if (ret != 0)
        return ret;
    for (int i = 0; i < count; ++i) {
        if (xmlChildName(doc, items[i]) != "argument")
            return -1;
        // parseAction starts from no arguments; a caller that did not
        // cannot make the list overflow its slots.
        if (action->argCount >= QN_ARG_MAX_NUM)
            return QN_ERR_NOMEM;
        QNArgDesc *arg = takeArg(action->args[action->argCount]);
        if (arg == nullptr)
            return QN_ERR_NOMEM;
        ++action->argCount;
        doc->pos = items[i].start;
        if (parseArg(doc, arg) != 0)
            return -1;
    }
    return 0;
}

int parseArg(QNTextDoc *doc, QNArgDesc *arg)
{
    if (!docUsable(doc) || arg == nullptr)
        return QN_ERR_ARG;
    clearNameVal(&arg->name);
    clearNameVal(&arg->direction);
    clearNameVal(&arg->relatedStateVariable);
    clearNameVal(&arg->dataType);
    // The leaves are taken by name, in any order: UDA 1.0 lets an empty
    // <retval/> stand before or after relatedStateVariable.
    ArgLeavesSeen seen;
    for (;;) {
        QNNameVal leaf;
        int ret = xmlReadLeaf(doc, &leaf);
        if (ret != 0)
            return ret;
        if (doc->state == XS_NONE)
            return 0; // the argument's closing tag, or a container
        if (keepArgLeaf(arg, leaf, &seen) != 0)
            return -1;
    }
}

int parseStateTable(QNTextDoc *doc, QNScpd *scpd)
{
    if (!docUsable(doc) || scpd == nullptr)
        return QN_ERR_ARG;
    XmlChild items[kMaxStateVars];
    int noLeaves = 0;
    int count = kMaxStateVars;
    int ret = xmlReadChildList(doc, nullptr, &noLeaves, items, &count);
    if (ret != 0)
        return ret;
    scpd->varCount = 0;
    for (int i = 0; i < count; ++i) {
        if (xmlChildName(doc, items[i]) != "stateVariable")
            return -1;
        uint8_t sendEvents = 1;
        if (readSendEvents(doc, items[i].start, &sendEvents) != 0)
            return -1;
        doc->pos = items[i].start;
        QNVarDesc *var = takeVar(scpd->vars[scpd->varCount]);
        if (var == nullptr)
            return QN_ERR_NOMEM;
        ++scpd->varCount;
        ret = parseStateVar(doc, var);
        if (ret != 0)
            return ret;
        var->sendEvents = sendEvents;
    }
    return 0;
}

int parseStateVar(QNTextDoc *doc, QNVarDesc *var)
{
    if (!docUsable(doc) || var == nullptr)
        return QN_ERR_ARG;
    // A record parsed before keeps its allowed-value record for reuse.
    QNAllowedVals *spare = var->allowed;
    var->allowed = nullptr;
    auto finish = [&](int ret) {
        delete spare;
        return ret;
    };
    uint32_t start = doc->pos;
    std::memset(&var->defaultValue, 0, sizeof var->defaultValue);
    findDefaultValue(doc, &var->defaultValue);
    doc->pos = start;
    int ret = xmlReadLeaf(doc, &var->name);
    if (ret == 0)
        ret = xmlReadLeaf(doc, &var->dataType);
    if (ret != 0)
        return finish(ret);
    XmlChild child{};
    int kind = -1;
    ret = findAllowedValues(doc, &child, &kind);
    if (ret != 0) {
        debugPrint(LOG_XML, "Var parsing - failed\r\n", LOG_DETAIL);
        return finish(ret);
    }
    if (kind < 0)
        return finish(0); // no allowed values
    QNAllowedVals *allowed = spare != nullptr ? spare : new (std::nothrow) QNAllowedVals();
    spare = nullptr;
    if (allowed == nullptr)
        return QN_ERR_NOMEM;
    allowed->count = 0;
    allowed->kind = static_cast<uint16_t>(kind);
    var->allowed = allowed;
    doc->pos = child.start;
    int values = kMaxAllowedValues;
    ret = xmlReadLeafList(doc, allowed->values, &values);
    if (ret == 0)
        allowed->count = static_cast<uint16_t>(values);
    return ret;
}

int freeScpd(QNScpd *scpd)
{
    if (scpd == nullptr)
        return QN_ERR_ARG;
    for (QNActionDesc *&action : scpd->actions) {
        if (action != nullptr) {
            for (QNArgDesc *&arg : action->args) {
                delete arg;
                arg = nullptr;
            }
            delete action;
        }
        action = nullptr;
    }
    for (QNVarDesc *&var : scpd->vars) {
        if (var != nullptr) {
            delete var->allowed;
            delete var;
        }
        var = nullptr;
    }
    scpd->actionCount = 0;
    scpd->varCount = 0;
    return 0;
}
