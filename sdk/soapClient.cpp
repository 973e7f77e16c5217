// SOAP control, control-point side: qnCPSoapAction and qnCPSoapQuery. A
// call copies what it needs from the tracked description under the stack
// lock, then talks to the device without it on a connection of its own.
#include "clientConn.h"
#include "entity.h"
#include "log.h"
#include "roles.h"
#include "soapParse.h"
#include "soapWrite.h"
#include "text.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr char kFaultName[] = "Fault";

// The result of a failed preparation, with its console message.
QN_RET preparationResult(int rc)
{
    switch (rc) {
    case CP_NOT_RUNNING:
    case CP_NO_DEVICE:
        consolePrint(" dev not found\r\n");
        return QN_ERR_NO_DEVICE;
    case CP_NO_SERVICE:
        return QN_ERR_ARG;
    case CP_NO_URL:
        return QN_ERR_NO_URL;
    default:
        return rc;
    }
}

bool isCtrlPoint(QN_CONTROL_POINT cp)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(cp);
    return slot != nullptr && slot->kind == EK_CTRL_POINT;
}

// One POST and its answer. *read tells whether an answer arrived (the
// caller's record is then replaced, whatever the parse gave).
int postSoap(const CpCall &call, const HttpHeader *headers, int count, const SoapText &body, QNApiAction *parsed,
             bool *read)
{
    *read = false;
    ClientConn conn;
    if (openCpCall(conn, call, kSoapAbsoluteWaitUs, kSoapRelativeWaitUs) != 0)
        return QN_ERR_SOCK;
    int rc = conn.request(HM_POST, call.target.path, headers, count, body.data(), body.size());
    if (rc != 0)
        return rc;
    HttpMsg msg;
    rc = conn.readAnswer(&msg);
    if (rc == QN_ERR_SOCK)
        return rc;
    debugPrint(LOG_SOAP, "Soap response recv'ed\r\n", LOG_DETAIL);
    *read = true;
    if (rc == 0) {
        parsed->errCode = msg.status;
        copyBounded(parsed->errDesc, sizeof parsed->errDesc, fieldView(msg.reason));
        QNTextDoc doc;
        xmlDocOpen(&doc, kSoapDocKind, msg.body, 0);
        rc = msg.body != nullptr ? parseSoap(&doc, parsed) : QN_ERR_ARG;
    }
    debugPrint(LOG_SOAP, rc != 0 ? "Parsing soap response failed\r\n" : "Soap response parsed OK\r\n", LOG_DETAIL);
    return rc;
}

// Copies the answer over the caller's record, keeping its directions.
void takeAnswer(QNApiAction *caller, QNApiAction *parsed)
{
    std::memcpy(parsed->argDirection, caller->argDirection, sizeof parsed->argDirection);
    *caller = *parsed;
}

} // namespace

extern "C" QN_RET qnCPSoapAction(QN_CONTROL_POINT cp, const char *serviceType, QNApiAction *action)
{
    if (action == nullptr || serviceType == nullptr || !isCtrlPoint(cp) || fieldView(action->action).empty())
        return QN_ERR_ARG;
    action->errDesc[0] = '\0';
    CpCall call;
    int rc = prepareCpCall(cp, CR_SOAP, serviceType, "controlURL", &call);
    if (rc != 0)
        return preparationResult(rc);
    SoapText body;
    if (!writeActionRequest(body, serviceType, *action))
        return QN_ERR_NOMEM;
    char soapAction[QN_VAL_MAX_LEN + QN_NAME_MAX_LEN + 4];
    strBuild(soapAction, sizeof soapAction, "s", "\"", "s", serviceType, "s", "#", "s", action->action, "s", "\"",
             "");
    const HttpHeader headers[] = {
        makeHeader(HH_CONTENT_TYPE, kSoapContentType),
        makeHeader(HH_SOAPACTION, soapAction),
        makeHeader(HH_USER_AGENT, kSoapUserAgent),
        makeHeader(HH_HOST, call.target.host),
    };
    debugPrint(LOG_SOAP, "Sending soap reqeust\r\n", LOG_DETAIL);
    std::unique_ptr<QNApiAction> parsed(new (std::nothrow) QNApiAction{});
    if (parsed == nullptr)
        return QN_ERR_NOMEM;
    bool read = false;
    rc = postSoap(call, headers, 4, body, parsed.get(), &read);
    if (!read)
        return rc;
    bool fault = std::strcmp(parsed->action, kFaultName) == 0;
    copyBounded(parsed->action, sizeof parsed->action, fieldView(action->action));
    takeAnswer(action, parsed.get());
    if (rc != 0) {
        debugPrint(LOG_SOAP, "Action response parsed error\r\n", LOG_DETAIL);
        return rc;
    }
    return fault ? QN_ERR : QN_OK;
}

extern "C" QN_RET qnCPSoapQuery(QN_CONTROL_POINT cp, const char *serviceType, QNApiAction *action)
{
    if (action == nullptr || serviceType == nullptr || !isCtrlPoint(cp) || action->argNum != 1 ||
        fieldView(action->argNV[0].name).empty())
        return QN_ERR_ARG;
    action->errDesc[0] = '\0';
    CpCall call;
    int rc = prepareCpCall(cp, CR_SOAP, serviceType, "controlURL", &call);
    if (rc != 0)
        return preparationResult(rc);
    char varName[QN_NAME_MAX_LEN];
    copyBounded(varName, sizeof varName, fieldView(action->argNV[0].name));
    SoapText body;
    if (!writeQueryRequest(body, varName))
        return QN_ERR_NOMEM;
    char soapAction[sizeof kQuerySoapAction + 2];
    strBuild(soapAction, sizeof soapAction, "s", "\"", "s", kQuerySoapAction, "s", "\"", "");
    const HttpHeader headers[] = {
        makeHeader(HH_HOST, call.target.host),
        makeHeader(HH_SOAPACTION, soapAction),
        makeHeader(HH_USER_AGENT, kSoapUserAgent),
        makeHeader(HH_CONTENT_TYPE, kSoapContentType),
    };
    debugPrint(LOG_SOAP, "Sending query request\r\n", LOG_DETAIL);
    std::unique_ptr<QNApiAction> parsed(new (std::nothrow) QNApiAction{});
    if (parsed == nullptr)
        return QN_ERR_NOMEM;
    bool read = false;
    rc = postSoap(call, headers, 4, body, parsed.get(), &read);
    if (!read)
        return rc;
    takeAnswer(action, parsed.get());
    if (rc != 0) {
        debugPrint(LOG_SOAP, "Query response parsed error\r\n", LOG_DETAIL);
        return rc;
    }
    bool fault = std::strcmp(action->action, kFaultName) == 0;
    return fault || action->argNum != 1 ? QN_ERR : QN_OK;
}

// The SOAP client lives on the socketless record: it sends requests of its
// own and takes no message from the server loop.
int soapClientMatch(MsgHandler *) { return -1; }
int soapClientHandle(MsgHandler *) { return 0; }
