// SOAP envelopes, faults and property sets.
#include "soapParse.h"

#include "log.h"

#include <cstring>

namespace {

constexpr int kErrStructure = -500;

int parseSoapDoc(QNTextDoc *doc, void *model)
{
    return parseSoap(doc, static_cast<QNApiAction *>(model));
}

int writeSoapDoc(QNTextDoc *doc, void *model)
{
    return writeSoap(doc, static_cast<const QNApiAction *>(model));
}

std::string_view localOf(const QNTextDoc *doc, const XmlChild &el)
{
    return xmlLocalName(xmlChildName(doc, el));
}

// Reads the element at pos; true when a whole (non-empty) element was read
// whose local name is `local`. Logs `failure` when the read fails.
bool readNamed(QNTextDoc *doc, XmlChild *el, std::string_view local, const char *failure)
{
    *el = XmlChild{};
    if (xmlReadElementAt(doc, el) != 0) {
        debugPrint(LOG_XML, failure, LOG_DETAIL);
        return false;
    }
    return doc->state == XS_ELEMENT && localOf(doc, *el) == local;
}

// A fault's detail: the leaves of detail/UPnPError after the pairs stored.
int readFaultDetail(QNTextDoc *doc, QNApiAction *action)
{
    XmlChild detail{};
    if (!readNamed(doc, &detail, "detail", "Fault parsing - failed\r\n"))
        return kErrStructure;
    doc->pos = detail.start;
    XmlChild error{};
    if (!readNamed(doc, &error, "UPnPError", "Error parsing - failed\r\n"))
        return kErrStructure;
    doc->pos = error.start;
    int room = QN_ARG_MAX_NUM - action->argNum;
    if (xmlReadLeafList(doc, action->argNV + action->argNum, &room) != 0)
        return kErrStructure;
    action->argNum = static_cast<uint16_t>(action->argNum + room);
    return 0;
}

int parseEnvelope(QNTextDoc *doc, QNApiAction *action, const XmlChild &envelope)
{
    doc->pos = envelope.start;
    XmlChild body{};
    // A header element before the body is not accepted.
    if (!readNamed(doc, &body, "Body", "Body parsing - failed\r\n"))
        return kErrStructure;
    doc->pos = body.start;
    XmlChild call{};
    if (xmlReadElementAt(doc, &call) != 0) {
        debugPrint(LOG_XML, "N-V parsing - failed\r\n", LOG_DETAIL);
        return kErrStructure;
    }
    if (doc->state == XS_NONE)
        return kErrStructure; // an empty Body
    copyBounded(action->action, sizeof action->action, localOf(doc, call));
    action->argNum = 0;
    if (doc->state == XS_ELEMENT) { // an empty element (<u:Stop/>) has no arguments
        doc->pos = call.start;
        int count = QN_ARG_MAX_NUM;
        if (xmlReadLeafList(doc, action->argNV, &count) != 0)
            return kErrStructure;
        action->argNum = static_cast<uint16_t>(count);
        // SOAP 1.1 faults carry an unprefixed faultcode.
        if (count > 0 && std::strcmp(action->argNV[0].name, "faultcode") == 0) {
            int ret = readFaultDetail(doc, action);
            if (ret != 0)
                return ret;
        }
    }
    if (doc->size > 0)
        (void)writeSoap(doc, action);
    return 0;
}

// Every leaf of every property, up to the record's capacity. UDA puts one
// variable in each property; a property with several gives them all.
int parsePropertySet(QNTextDoc *doc, QNApiAction *action, const XmlChild &set)
{
    doc->pos = set.start;
    int stored = 0;
    while (stored < QN_ARG_MAX_NUM) {
        XmlChild property{};
        if (xmlReadElementAt(doc, &property) != 0) {
            debugPrint(LOG_XML, "Propertyset parsing - failed\r\n", LOG_DETAIL);
            break;
        }
        if (doc->state == XS_NONE || localOf(doc, property) != "property")
            break;
        if (doc->state == XS_EMPTY) { // <e:property/>: nothing to read
            doc->pos = property.end;
            continue;
        }
        doc->pos = property.start;
        int room = QN_ARG_MAX_NUM - stored;
        if (xmlReadLeafList(doc, action->argNV + stored, &room) != 0)
            return kErrStructure;
        stored += room;
        doc->pos = property.end;
        if (docFindChar(doc, '>') != 0)
            return -1;
        ++doc->pos;
    }
    action->argNum = static_cast<uint16_t>(stored);
    return 0;
}

// The plain forms carry no prefixes: a name is written when it is an XML
// name without a colon.
bool plainName(const char *name)
{
    return std::strchr(name, ':') == nullptr && xmlNameWritable(name, nullptr, 0);
}

// The local name of a stored (possibly prefixed) name.
const char *localPart(const QNNameVal &nv)
{
    const char *colon = static_cast<const char *>(std::memchr(nv.name, ':', strnlen(nv.name, sizeof nv.name)));
    return colon != nullptr ? colon + 1 : nv.name;
}

// A pair of the plain forms, written by the local name of its element.
int writeLocalLeaf(QNTextDoc *doc, const QNNameVal &nv, int depth)
{
    const char *local = localPart(nv);
    if (!plainName(local))
        return 0;
    int ret = writeIndent(doc, depth);
    if (ret == 0)
        ret = writeStartTag(doc, local);
    if (ret == 0)
        ret = xmlWriteText(doc, std::string_view(nv.val, strnlen(nv.val, sizeof nv.val)), false);
    if (ret == 0)
        ret = writeEndTag(doc, local);
    return ret;
}

int argCountOf(const QNApiAction *action)
{
    return action->argNum < QN_ARG_MAX_NUM ? action->argNum : QN_ARG_MAX_NUM;
}

} // namespace

constinit const QNTextDoc kSoapDocKind = xmlDocKind(parseSoapDoc, writeSoapDoc);

int parseSoap(QNTextDoc *doc, QNApiAction *action)
{
    if (doc == nullptr || doc->text == nullptr || doc->pos > doc->len || action == nullptr)
        return QN_ERR_ARG;
    if (xmlSkipDecl(doc) != 0)
        return kErrStructure;
    XmlChild top{};
    if (xmlReadElementAt(doc, &top) != 0) {
        debugPrint(LOG_XML, "SOAP parsing - failed\r\n", LOG_DETAIL);
        return kErrStructure;
    }
    if (doc->state != XS_ELEMENT)
        return kErrStructure;
    std::string_view local = localOf(doc, top);
    if (local == "Envelope")
        return parseEnvelope(doc, action, top);
    if (local == "propertyset")
        return parsePropertySet(doc, action, top);
    return kErrStructure;
}

int writePropertySet(QNTextDoc *doc, const QNApiAction *action)
{
    if (doc == nullptr || action == nullptr)
        return QN_ERR_ARG;
    int ret = xmlBeginDoc(doc);
    if (ret == 0)
        ret = xmlWriteRaw(doc, "<e:propertyset xmlns:e=\"");
    if (ret == 0)
        ret = xmlWriteRaw(doc, kEventNamespace);
    if (ret == 0)
        ret = xmlWriteRaw(doc, "\">");
    for (int i = 0; i < argCountOf(action) && ret == 0; ++i) {
        const QNNameVal &nv = action->argNV[i];
        if (!plainName(localPart(nv)))
            continue; // no empty property for a variable that cannot be written
        ret = xmlWriteRaw(doc, "<e:property>");
        if (ret == 0)
            ret = writeLocalLeaf(doc, nv, 2);
        if (ret == 0)
            ret = xmlWriteRaw(doc, "</e:property>");
    }
    if (ret == 0)
        ret = xmlWriteRaw(doc, "</e:propertyset>");
    int end = xmlEndDoc(doc);
    return ret != 0 ? ret : end;
}

int writeSoap(QNTextDoc *doc, const QNApiAction *action)
{
    if (doc == nullptr || action == nullptr)
        return QN_ERR_ARG;
    if (std::strcmp(action->action, kPropertySetName) == 0)
        return writePropertySet(doc, action);
    int ret = xmlBeginDoc(doc);
    if (ret == 0)
        ret = xmlWriteRaw(doc, "<Envelope><Body>");
    // An action name no XML name can carry leaves the body empty rather than
    // the document ill-formed.
    bool named = plainName(action->action);
    if (ret == 0 && named)
        ret = writeStartTag(doc, action->action);
    for (int i = 0; i < argCountOf(action) && ret == 0 && named; ++i)
        ret = writeLocalLeaf(doc, action->argNV[i], 3);
    if (ret == 0 && named)
        ret = writeEndTag(doc, action->action);
    if (ret == 0)
        ret = xmlWriteRaw(doc, "</Body></Envelope>");
    int end = xmlEndDoc(doc);
    return ret != 0 ? ret : end;
}
