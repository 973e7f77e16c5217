#include "deviceOperations.h"

#include "actionArguments.h"
#include "text.h"

#include <cstring>
#include <memory>

namespace lumivar {

namespace {

// qnCPSoapAction's result for an answer that is not a SOAP envelope.
constexpr QN_RET kNotSoap = -500;

// What the stack's result says when no answer was read, so that a failure
// without an HTTP status ("0 ") still tells what failed.
const char *stackFailureText(QN_RET rc)
{
    switch (rc) {
    case QN_ERR_SOCK:
        return "The device could not be reached.";
    case QN_ERR_NO_DEVICE:
        return "The device is not tracked (no announcement of it was heard).";
    case QN_ERR_NO_URL:
        return "The service has no control URL.";
    case QN_ERR_ARG:
        return "The device has no such service, or is not a device on the network.";
    case QN_ERR_NOMEM:
        return "Out of memory.";
    case QN_ERR:
        return "The answer does not hold exactly one value.";
    case kNotSoap:
        return "The answer is not a SOAP envelope.";
    default:
        return "";
    }
}

std::string pairValue(const QNApiAction &answer, const char *name)
{
    for (int i = 0; i < answer.argNum && i < QN_ARG_MAX_NUM; ++i)
        if (std::strcmp(answer.argNV[i].name, name) == 0)
            return answer.argNV[i].val;
    return {};
}

// The rows under "... failed: %d %s.": the UPnP error of a SOAP fault, or
// what kept the request from being answered.
void addFailureDetail(InfoRows &rows, QN_RET rc, const QNApiAction &answer, bool fault)
{
    if (fault) {
        rows.add({"UPnP Error", pairValue(answer, "errorCode")});
        rows.add({"Description", pairValue(answer, "errorDescription")});
    } else {
        rows.add({"Error", std::to_string(rc), stackFailureText(rc)});
    }
}

// The stack would cut a longer value to its buffer and send that: a
// different value than the one entered.
constexpr size_t kArgValueMaxLen = QN_VAL_MAX_LEN - 1;

std::string tooLongText(const std::string &name)
{
    return "Value of argument \"" + name + "\" is longer than " + std::to_string(kArgValueMaxLen) + " characters.";
}

std::string argumentCountText(int count)
{
    return "Argument number (" + std::to_string(count) + ") exceeds limitation of Corvanta UPnP SDK!";
}

} // namespace

DeviceOperations::DeviceOperations(DeviceExplorer &explorer, UserPrompts &prompts)
    : explorer_(explorer), prompts_(prompts)
{
}

SelectionContext DeviceOperations::contextOf(uint64_t selectedId) const
{
    SelectionContext ctx;
    explorer_.readTree([&](const DeviceTree &tree) { ctx = selectionContextOf(tree, selectedId); });
    return ctx;
}

InfoRows DeviceOperations::discover(uint64_t selectedId)
{
    SelectionContext ctx = contextOf(selectedId);
    QN_CONTROL_POINT cp = ctx.deviceNodeId != 0 ? ctx.entity : explorer_.mainControlPoint();
    bool sent = qnCPSearch(cp, "", kSearchValue, nullptr) == QN_OK;
    InfoRows rows = outcomeLayout();
    rows.add({"Discover", sent ? "Successful" : "Failed",
              sent ? "Discovery sent successfully for all kinds of devices."
                   : "Discovery failed for all kinds of devices."});
    return rows;
}

InfoRows DeviceOperations::executeAction(uint64_t selectedId)
{
    SelectionContext ctx;
    std::vector<ArgumentItem> items;
    explorer_.readTree([&](const DeviceTree &tree) {
        ctx = selectionContextOf(tree, selectedId);
        if (const TreeNode *action = ctx.actionNodeId != 0 ? tree.findById(ctx.actionNodeId) : nullptr)
            items = argumentItemsOf(*action);
    });
    if (ctx.actionNodeId == 0) {
        prompts_.messageBox(kSelectActionFirst);
        return {};
    }
    std::optional<std::vector<ActionArgument>> arguments = actionArgumentsOf(ctx.entity, ctx.service, ctx.action);
    if (!arguments) {
        prompts_.messageBox("Could not get arguments of action \"" + ctx.action + "\"!");
        return {};
    }
    auto record = std::make_unique<QNApiAction>();
    copyBounded(record->action, sizeof record->action, ctx.action);
    int k = 0;
    // Directions are matched by name, not by position, so that an in
    // argument listed after an out argument is still sent.
    for (const ArgumentItem &item : items) {
        const ActionArgument *argument = argumentNamed(*arguments, item.name);
        if (argument == nullptr || (argument->direction != AD_IN && argument->direction != AD_INOUT))
            continue;
        std::optional<std::string> refusal;
        if (k == QN_ARG_MAX_NUM)
            refusal = argumentCountText(k);
        else if (!item.hasValue)
            refusal = "Please set value of argument \"" + item.name + "\"!";
        else if (item.value.size() > kArgValueMaxLen)
            refusal = tooLongText(item.name);
        else
            refusal = checkValue(typedEntry(ctx.entity, ctx.service, *argument), item.value);
        if (refusal) {
            prompts_.messageBox(*refusal);
            return {};
        }
        qnSetNVNameVal(&record->argNV[k], item.name.c_str(), item.value.c_str());
        record->argDirection[k] = argument->direction;
        ++k;
    }
    record->argNum = static_cast<uint16_t>(k);

    QN_RET rc = qnCPSoapAction(ctx.entity, ctx.service.c_str(), record.get());
    if (rc != QN_OK) {
        InfoRows rows = outcomeLayout();
        rows.add({"Action", "Failed",
                  "UPnP Action " + ctx.action + " failed: " + std::to_string(record->errCode) + " " +
                      record->errDesc + "."});
        addFailureDetail(rows, rc, *record, rc == QN_ERR);
        return rows;
    }
    int returned = std::min<int>(record->argNum, QN_ARG_MAX_NUM);
    explorer_.editTree([&](DeviceTree &tree) {
        TreeNode *action = tree.findById(ctx.actionNodeId);
        if (action == nullptr)
            return;
        for (int i = 0; i < returned; ++i) {
            TreeNode *arg = action->child(record->argNV[i].name);
            if (arg != nullptr && arg->kind() == NK_ARGUMENT)
                setValueItem(tree, *arg, NK_ARGUMENT_VALUE, record->argNV[i].val);
        }
        tree.notify({TreeNotification::NODE_CHANGED, action->id, ""});
    });
    InfoRows rows = valuesLayout();
    rows.add({"Action", "Successful"});
    rows.add({"Out Arguments", std::to_string(returned)});
    for (int i = 0; i < returned; ++i)
        rows.add({record->argNV[i].name, record->argNV[i].val});
    return rows;
}

InfoRows DeviceOperations::queryVariable(uint64_t selectedId)
{
    SelectionContext ctx = contextOf(selectedId);
    if (ctx.variableNodeId == 0) {
        prompts_.messageBox(kSelectVariableFirst);
        return {};
    }
    auto record = std::make_unique<QNApiAction>();
    record->argNum = 1;
    qnSetNVNameVal(&record->argNV[0], ctx.variable.c_str(), "");
    QN_RET rc = qnCPSoapQuery(ctx.entity, ctx.service.c_str(), record.get());
    if (rc != QN_OK) {
        InfoRows rows = outcomeLayout();
        rows.add({"Query", "Failed",
                  "UPnP Query failed: " + std::to_string(record->errCode) + " " + record->errDesc + "."});
        addFailureDetail(rows, rc, *record, rc == QN_ERR && std::strcmp(record->action, "Fault") == 0);
        return rows;
    }
    std::string value = record->argNV[0].val;
    explorer_.editTree([&](DeviceTree &tree) {
        TreeNode *variable = tree.findById(ctx.variableNodeId);
        if (variable == nullptr)
            return;
        setValueItem(tree, *variable, NK_VARIABLE_VALUE, value);
        variable->expanded = true;
        tree.notify({TreeNotification::NODE_CHANGED, variable->id, ""});
    });
    InfoRows rows = valuesLayout();
    rows.add({"Query", "Successful"});
    rows.add({ctx.variable, value});
    return rows;
}

} // namespace lumivar
