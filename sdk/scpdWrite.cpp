// SCPD writers. The scpd element carries the UDA service
// namespace, and every variable says whether it is evented, so that the output
// is a valid SCPD that parseScpd reads back to the same model.
#include "scpd.h"

#include <cstring>

namespace {

// An element with no child elements reads back as a text leaf, not as the
// record it was: an argument, action or variable with nothing to write is
// left out, so that the written SCPD parses to what was written.
bool writable(const QNNameVal &nv)
{
    return xmlNameWritable(std::string_view(nv.name, strnlen(nv.name, sizeof nv.name)), nullptr, 0);
}

bool argHasContent(const QNArgDesc *arg)
{
    return arg != nullptr && (writable(arg->name) || (arg->direction.val[0] != '\0' && writable(arg->direction)) ||
                              (arg->relatedStateVariable.val[0] != '\0' && writable(arg->relatedStateVariable)));
}

int argsOf(const QNActionDesc *action)
{
    return action->argCount < QN_ARG_MAX_NUM ? action->argCount : QN_ARG_MAX_NUM;
}

bool anyArgHasContent(const QNActionDesc *action)
{
    for (int i = 0; i < argsOf(action); ++i)
        if (argHasContent(action->args[i]))
            return true;
    return false;
}

bool varHasContent(const QNVarDesc *var)
{
    return writable(var->name) || writable(var->dataType) || var->allowed != nullptr ||
           (var->defaultValue.name[0] != '\0' && writable(var->defaultValue));
}

} // namespace

int writeArg(QNTextDoc *doc, const QNArgDesc *arg, int depth)
{
    if (doc == nullptr || arg == nullptr)
        return QN_ERR_ARG;
    if (!argHasContent(arg))
        return 0;
    XmlOut out{doc};
    out.raw("<argument>").leaf(arg->name, depth + 1);
    if (arg->direction.val[0] != '\0')
        out.leaf(arg->direction, depth + 1);
    if (arg->relatedStateVariable.val[0] != '\0')
        out.leaf(arg->relatedStateVariable, depth + 1);
    return out.raw("</argument>").err;
}

int writeAction(QNTextDoc *doc, const QNActionDesc *action, int depth)
{
    if (doc == nullptr || action == nullptr)
        return QN_ERR_ARG;
    bool withArgs = anyArgHasContent(action);
    if (!withArgs && !writable(action->name))
        return 0;
    XmlOut out{doc};
    out.raw("<action>").leaf(action->name, depth + 1);
    int args = argsOf(action);
    if (withArgs) {
        out.raw("<argumentList>");
        for (int i = 0; i < args; ++i)
            if (action->args[i] != nullptr)
                out.then([&] { return writeArg(doc, action->args[i], depth + 2); });
        out.raw("</argumentList>");
    }
    return out.raw("</action>").err;
}

int writeActionList(QNTextDoc *doc, const QNScpd *scpd, int depth)
{
    if (doc == nullptr || scpd == nullptr)
        return QN_ERR_ARG;
    XmlOut out{doc};
    out.raw("<actionList>");
    int actions = scpd->actionCount < kMaxActions ? scpd->actionCount : kMaxActions;
    for (int i = 0; i < actions; ++i)
        if (scpd->actions[i] != nullptr)
            out.then([&] { return writeAction(doc, scpd->actions[i], depth + 1); });
    return out.raw("</actionList>").err;
}

int writeStateVar(QNTextDoc *doc, const QNVarDesc *var, int depth)
{
    if (doc == nullptr || var == nullptr)
        return QN_ERR_ARG;
    if (!varHasContent(var))
        return 0;
    XmlOut out{doc};
    // Written in both cases: a reader that takes a missing attribute for
    // "no" (against UDA 1.0) must still see which variables are evented.
    out.raw(var->sendEvents == 0 ? "<stateVariable sendEvents=\"no\">" : "<stateVariable sendEvents=\"yes\">");
    out.leaf(var->name, depth + 1).leaf(var->dataType, depth + 1);
    if (var->defaultValue.name[0] != '\0')
        out.leaf(var->defaultValue, depth + 1);
    if (const QNAllowedVals *allowed = var->allowed) {
        bool range = allowed->kind == AK_RANGE;
        out.raw(range ? "<allowedValueRange>" : "<allowedValueList>");
        int values = allowed->count < kMaxAllowedValues ? allowed->count : kMaxAllowedValues;
        if (values > 0)
            out.then([&] { return writeLeafList(doc, allowed->values, values, depth + 2); });
        out.raw(range ? "</allowedValueRange>" : "</allowedValueList>");
    }
    return out.raw("</stateVariable>").err;
}

int writeStateTable(QNTextDoc *doc, const QNScpd *scpd, int depth)
{
    if (doc == nullptr || scpd == nullptr)
        return QN_ERR_ARG;
    XmlOut out{doc};
    out.raw("<serviceStateTable>");
    int vars = scpd->varCount < kMaxStateVars ? scpd->varCount : kMaxStateVars;
    for (int i = 0; i < vars; ++i)
        if (scpd->vars[i] != nullptr)
            out.then([&] { return writeStateVar(doc, scpd->vars[i], depth + 1); });
    return out.raw("</serviceStateTable>").err;
}

int writeScpd(QNTextDoc *doc, const QNScpd *scpd)
{
    if (doc == nullptr || scpd == nullptr)
        return QN_ERR_ARG;
    int ret = xmlBeginDoc(doc);
    if (ret != 0)
        return ret;
    XmlOut out{doc};
    out.raw("<scpd xmlns=\"").raw(kServiceNamespace).raw("\">");
    out.raw("<specVersion>").leaf(scpd->specVersion[0], 2).leaf(scpd->specVersion[1], 2).raw("</specVersion>");
    out.then([&] { return writeActionList(doc, scpd, 1); });
    out.then([&] { return writeStateTable(doc, scpd, 1); });
    out.raw("</scpd>");
    int end = xmlEndDoc(doc);
    return out.err != 0 ? out.err : end;
}
