// SOAP control, device side. soapDispatch is the role's match and does the
// whole work: it checks the request, asks the application through the
// device's message handler and answers; the role's handle only confirms.
#include "soap.h"

#include "devRequest.h"
#include "log.h"
#include "query.h"
#include "roles.h"
#include "soapParse.h"
#include "soapWrite.h"
#include "text.h"

#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {

constexpr std::string_view kServicePrefix = "urn:schemas-upnp-org:service:";

enum class CallKind { Query, Action, Malformed, UnknownService };

struct SoapCall {
    CallKind kind;
    char serviceType[QN_VAL_MAX_LEN];
    char action[QN_NAME_MAX_LEN];
};

// Reads the SOAPAction value: quoted or not, a query or a service's action.
void readSoapAction(const EntitySlot *slot, const char *value, SoapCall *call)
{
    std::string_view text(value);
    call->kind = CallKind::Malformed;
    if (!text.empty() && text.front() == '"') {
        if (text.size() < 2 || text.back() != '"') {
            consolePrint(" val = %s\r\n", value);
            return;
        }
        text = text.substr(1, text.size() - 2);
    }
    if (text.starts_with(kQuerySoapAction)) {
        call->kind = CallKind::Query;
        return;
    }
    if (!text.starts_with(kServicePrefix)) {
        consolePrint(" val = %s\r\n", value);
        return;
    }
    size_t hash = text.find('#');
    copyBounded(call->serviceType, sizeof call->serviceType, text.substr(0, hash));
    if (hash == std::string_view::npos || hash + 1 == text.size()) {
        consolePrint(" serviceType = %s\r\n", call->serviceType);
        return;
    }
    copyBounded(call->action, sizeof call->action, text.substr(hash + 1));
    if (findServiceByType(&slot->desc->device, call->serviceType) == nullptr) {
        consolePrint(" serviceType = %s\r\n", call->serviceType);
        call->kind = CallKind::UnknownService;
        return;
    }
    call->kind = CallKind::Action;
}

// The request's body (it stays in the socket's buffer; it is not rewritten).
int parseBody(const HttpMsg *msg, QNApiAction *action)
{
    if (msg->body == nullptr)
        return QN_ERR_ARG;
    QNTextDoc doc;
    xmlDocOpen(&doc, kSoapDocKind, msg->body, 0);
    int rc = parseSoap(&doc, action);
    if (rc != 0)
        consolePrint(" parseSoap() failed!\r\n");
    return rc;
}

QNMsgHandler appHandler(const EntitySlot *slot)
{
    return slot->dev.msgHandler;
}

// The UPnP errors the stack answers itself (UDA 1.0, 3.2.2).
struct UpnpError {
    uint16_t code;
    const char *desc;
};
constexpr UpnpError kInvalidAction{401, "Invalid Action"};
constexpr UpnpError kInvalidArgs{402, "Invalid Args"};
constexpr UpnpError kInvalidVar{404, "Invalid Var"};
constexpr UpnpError kNoError{0, ""};

bool isInArg(const QNArgDesc *arg)
{
    int32_t dir = arg != nullptr ? argDirectionCode(arg->direction.val) : AD_UNKNOWN;
    return dir == AD_IN || dir == AD_INOUT;
}

// A request's argument elements are compared by their local names: a
// control point may give them the action's prefix.
bool requestHasArg(const QNApiAction &request, std::string_view name)
{
    for (int i = 0; i < request.argNum && i < QN_ARG_MAX_NUM; ++i)
        if (xmlLocalName(fieldView(request.argNV[i].name)) == name)
            return true;
    return false;
}

bool actionHasInArg(const QNActionDesc *action, std::string_view name)
{
    for (int i = 0; i < action->argCount && i < QN_ARG_MAX_NUM; ++i)
        if (isInArg(action->args[i]) && name == action->args[i]->name.val)
            return true;
    return false;
}

// Checks a request against the SCPD of the service it was posted to: the
// action must be defined, and its in-arguments must be exactly the
// defined ones, matched by name so that their order does not matter (some
// control points do not keep the SCPD's order). *found is the action's
// description. A service without a parsed SCPD is not checked.
UpnpError checkAction(QNScpd *scpd, const QNApiAction &request, const QNActionDesc **found)
{
    *found = nullptr;
    if (scpd == nullptr)
        return kNoError;
    const QNActionDesc *action = findActionInScpd(scpd, request.action);
    if (action == nullptr)
        return kInvalidAction;
    int inArgs = 0;
    for (int i = 0; i < action->argCount && i < QN_ARG_MAX_NUM; ++i) {
        if (!isInArg(action->args[i]))
            continue;
        ++inArgs;
        if (!requestHasArg(request, action->args[i]->name.val))
            return kInvalidArgs;
    }
    for (int i = 0; i < request.argNum && i < QN_ARG_MAX_NUM; ++i)
        if (!actionHasInArg(action, xmlLocalName(fieldView(request.argNV[i].name))))
            return kInvalidArgs;
    // Every name is known and every in-argument is there: a surplus count
    // means a name given twice.
    if (request.argNum != inArgs)
        return kInvalidArgs;
    *found = action;
    return kNoError;
}

// Puts the checked in-arguments into the SCPD's order under the SCPD's
// names, so that a handler (a generated callback among them) may read them
// by position whatever order the control point chose.
void putInScpdOrder(const QNActionDesc *action, QNApiAction *request)
{
    QNNameVal ordered[QN_ARG_MAX_NUM];
    int n = 0;
    for (int i = 0; i < action->argCount && i < QN_ARG_MAX_NUM; ++i) {
        if (!isInArg(action->args[i]))
            continue;
        std::string_view name = action->args[i]->name.val;
        for (int k = 0; k < request->argNum && k < QN_ARG_MAX_NUM; ++k)
            if (xmlLocalName(fieldView(request->argNV[k].name)) == name) {
                copyBounded(ordered[n].name, sizeof ordered[n].name, name);
                copyBounded(ordered[n].val, sizeof ordered[n].val, fieldView(request->argNV[k].val));
                ++n;
                break;
            }
    }
    for (int i = 0; i < n; ++i) {
        request->argNV[i] = ordered[i];
        request->argDirection[i] = AD_IN;
    }
}

bool scpdHasVar(const QNScpd *scpd, const char *name)
{
    for (int i = 0; i < scpd->varCount && i < kMaxStateVars; ++i)
        if (scpd->vars[i] != nullptr && std::strcmp(scpd->vars[i]->name.val, name) == 0)
            return true;
    return false;
}

void sendFault(MsgHandler *handler, uint16_t code, const char *desc)
{
    if (soapRespErr(handler, code, desc) != 0)
        consolePrint(" soapRespErr() failed\r\n");
}

// The fault of a refused action: the handler's own UPnP error when it put
// one into the record (a code from 1 to 999), else 501 "XML error".
void sendRefusal(MsgHandler *handler, const QNApiAction &action)
{
    if (action.errCode == 0 || action.errCode > 999) {
        sendFault(handler, kFaultErrorCode, kFaultErrorText);
        return;
    }
    char desc[QN_VAL_MAX_LEN];
    copyBounded(desc, sizeof desc, fieldView(action.errDesc));
    sendFault(handler, action.errCode, desc);
}

int answerAction(MsgHandler *handler, EntitySlot *slot, QNServDesc *serv, const SoapCall &call)
{
    std::unique_ptr<QNApiAction> action(new (std::nothrow) QNApiAction{});
    if (action == nullptr || parseBody(handler->msg, action.get()) != 0)
        return -1;
    if (std::strcmp(action->action, call.action) != 0) {
        consolePrint(" val = %s, action = %s\r\n", call.action, action->action);
        return -1;
    }
    const QNActionDesc *defined = nullptr;
    UpnpError invalid = checkAction(serv->scpd, *action, &defined);
    if (invalid.code != 0) {
        consolePrint(" action %s refused: %d\r\n", call.action, invalid.code);
        sendFault(handler, invalid.code, invalid.desc);
        return 0;
    }
    if (defined != nullptr)
        putInScpdOrder(defined, action.get());
    // The handler may name its own error here when it refuses.
    action->errCode = 0;
    action->errDesc[0] = '\0';
    debugPrint(LOG_SOAP, "Get argument values via msg handler\r\n", LOG_DETAIL);
    RequestGuard guard(handler);
    QNMsgHandler app = appHandler(slot);
    QN_RET rc = app != nullptr ? app(slot->self, MT_DEV_ACTION, 0, action.get()) : QN_ERR;
    if (!guard.alive())
        return 0; // the device or its connection went away meanwhile
    if (rc == 0) {
        debugPrint(LOG_SOAP, "Sending action result\r\n", LOG_DETAIL);
        if (soapRespAction(handler, call.serviceType, action.get()) != 0)
            consolePrint(" soapRespAction() failed\r\n");
    } else {
        sendRefusal(handler, *action);
    }
    return 0;
}

int answerQuery(MsgHandler *handler, EntitySlot *slot, QNServDesc *serv)
{
    std::unique_ptr<QNApiAction> parsed(new (std::nothrow) QNApiAction{});
    if (parsed == nullptr || parseBody(handler->msg, parsed.get()) != 0)
        return -1;
    QNNameVal var{};
    if (parsed->argNum > 0)
        copyBounded(var.name, sizeof var.name, fieldView(parsed->argNV[0].val));
    if (serv->scpd != nullptr && !scpdHasVar(serv->scpd, var.name)) {
        sendFault(handler, kInvalidVar.code, kInvalidVar.desc);
        return 0;
    }
    debugPrint(LOG_SOAP, "Get var value via msg handler\r\n", LOG_DETAIL);
    RequestGuard guard(handler);
    QNMsgHandler app = appHandler(slot);
    QN_RET rc = app != nullptr ? app(slot->self, MT_DEV_GET_VAR, 0, &var) : QN_ERR;
    if (!guard.alive())
        return 0;
    if (rc == 0) {
        debugPrint(LOG_SOAP, "Sending query result\r\n", LOG_DETAIL);
        if (soapRespQuery(handler, &var) != 0)
            consolePrint(" soapRespQuery() failed\r\n");
    } else {
        sendFault(handler, kFaultErrorCode, kFaultErrorText);
    }
    return 0;
}

int sendSoapAnswer(MsgHandler *handler, int status, const SoapText &body)
{
    HttpHeader type{};
    type.index = HH_CONTENT_TYPE;
    copyBounded(type.value, sizeof type.value, kSoapContentType);
    return httpSendResponse(handler, status, &type, 1, body.data(), body.size());
}

} // namespace

int soapDispatch(MsgHandler *handler)
{
    EntitySlot *slot = requestDevice(handler);
    if (slot == nullptr || serverState() != SS_RUNNING || handler->msg->method != HM_POST)
        return -1;
    HttpMsg *msg = handler->msg;
    const char *soapAction = findHeader(msg, HH_SOAPACTION);
    if (soapAction == nullptr)
        return -1;
    QNServDesc *serv = serviceAtPath(slot, "controlURL", msg->uri);
    if (serv == nullptr) {
        consolePrint(" getScpdByControlUrl() retusn NULL\r\n");
        return -1;
    }
    if (!hostNamesDevice(slot, findHeader(msg, HH_HOST)))
        return -1;
    SoapCall call{};
    readSoapAction(slot, soapAction, &call);
    switch (call.kind) {
    case CallKind::Query:
        return answerQuery(handler, slot, serv);
    case CallKind::Action:
        return answerAction(handler, slot, serv, call);
    case CallKind::UnknownService:
        return -1;
    case CallKind::Malformed:
        break;
    }
    // Taken but not answerable: answered and closed, so that the connection
    // cannot hold the control server's socket.
    (void)httpSendResponse(handler, 400, nullptr, 0, nullptr, 0);
    return 0;
}

int soapRespAction(MsgHandler *handler, const char *serviceType, const QNApiAction *action)
{
    if (handler == nullptr || serviceType == nullptr || action == nullptr)
        return QN_ERR_ARG;
    consolePrint(" action->argNum = %d\r\n", action->argNum);
    SoapText body;
    if (!writeActionResponse(body, serviceType, *action))
        return body.ok() ? QN_ERR : QN_ERR_NOMEM;
    return sendSoapAnswer(handler, 200, body);
}

int soapRespQuery(MsgHandler *handler, const QNNameVal *var)
{
    if (handler == nullptr || var == nullptr)
        return QN_ERR_ARG;
    SoapText body;
    char value[QN_VAL_MAX_LEN];
    copyBounded(value, sizeof value, fieldView(var->val));
    if (!writeQueryResponse(body, value))
        return body.ok() ? QN_ERR : QN_ERR_NOMEM;
    return sendSoapAnswer(handler, 200, body);
}

int soapRespErr(MsgHandler *handler, uint16_t code, const char *desc)
{
    if (handler == nullptr || desc == nullptr)
        return QN_ERR_ARG;
    SoapText body;
    if (!writeFaultResponse(body, code, desc))
        return QN_ERR_NOMEM;
    return sendSoapAnswer(handler, 500, body);
}

int soapMatch(MsgHandler *handler)
{
    return soapDispatch(handler);
}

int soapHandle(MsgHandler *handler)
{
    HttpMsg *msg = handler != nullptr ? handler->msg : nullptr;
    if (msg == nullptr || msg->sock == nullptr || msg->sock->data == nullptr) {
        consolePrint(" invalid args\r\n");
        return QN_ERR_ARG;
    }
    return 0;
}
