// Description parser and release functions.
#include "desc.h"

#include "log.h"
#include "scpd.h"

#include <cstring>
#include <new>

namespace {

constexpr int kErrStructure = -500;

int parseDescDoc(QNTextDoc *doc, void *model)
{
    return parseDesc(doc, static_cast<QNRootDesc *>(model));
}

int writeDescDoc(QNTextDoc *doc, void *model)
{
    return writeDesc(doc, static_cast<const QNRootDesc *>(model));
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

// Prepares a device record for parseDevice: no services, no devices and
// the full field capacity. Slots keep the records they hold for reuse.
void resetDevice(QNDevDesc *dev)
{
    dev->serviceCount = 0;
    dev->deviceCount = 0;
    dev->fieldCount = kMaxFields;
}

int parseServiceList(QNTextDoc *doc, QNDevDesc *dev, const XmlChild &list)
{
    doc->pos = list.start;
    XmlChild items[kMaxServices];
    int noLeaves = 0;
    int count = kMaxServices;
    int ret = xmlReadChildList(doc, nullptr, &noLeaves, items, &count);
    if (ret != 0)
        return ret;
    if (dev->serviceCount != 0)
        return -1; // a second serviceList
    for (int i = 0; i < count; ++i) {
        if (xmlChildName(doc, items[i]) != "service")
            return -1;
        QNServDesc *&slot = dev->services[dev->serviceCount];
        if (slot == nullptr) {
            slot = new (std::nothrow) QNServDesc();
            if (slot == nullptr)
                return QN_ERR_NOMEM;
        }
        ++dev->serviceCount;
        doc->pos = items[i].start;
        slot->fieldCount = kMaxFields;
        slot->extra1 = 0;
        slot->extra2 = 0;
        int fields = kMaxFields;
        int noChildren = 0;
        ret = xmlReadChildList(doc, slot->fields, &fields, nullptr, &noChildren);
        if (ret != 0)
            return ret;
        slot->fieldCount = static_cast<uint16_t>(fields);
    }
    return 0;
}

int parseDeviceList(QNTextDoc *doc, QNDevDesc *dev, const XmlChild &list)
{
    doc->pos = list.start;
    XmlChild items[kMaxEmbeddedDevices];
    int noLeaves = 0;
    int count = kMaxEmbeddedDevices;
    int ret = xmlReadChildList(doc, nullptr, &noLeaves, items, &count);
    if (ret != 0)
        return ret;
    if (dev->deviceCount != 0)
        return -1; // a second deviceList
    for (int i = 0; i < count; ++i) {
        if (xmlChildName(doc, items[i]) != "device")
            return -1;
        QNDevDesc *&slot = dev->devices[dev->deviceCount];
        if (slot == nullptr) {
            slot = new (std::nothrow) QNDevDesc();
            if (slot == nullptr)
                return QN_ERR_NOMEM;
        }
        ++dev->deviceCount;
        resetDevice(slot);
        slot->link1 = nullptr;
        slot->link2 = nullptr;
        doc->pos = items[i].start;
        // Nesting is bounded: the document element was read with at most
        // kMaxXmlDepth levels, and each device level takes two of them.
        ret = parseDevice(doc, slot);
        if (ret != 0)
            return ret;
    }
    return 0;
}

// ---- Namespaces of prefixed leaves ---------------------------------------------

// The URI that the document declares for prefix (xmlns:prefix="..."), from
// the first such declaration anywhere in the text. Real descriptions declare
// a prefix once, on the leaf (MiniDLNA's dlna:X_DLNADOC) or on root.
bool findDeclaration(const QNTextDoc *doc, std::string_view prefix, char *uri, size_t uriSize)
{
    static constexpr char kXmlns[] = "xmlns:";
    const char *t = doc->text;
    const uint32_t len = doc->len;
    uint32_t from = 0;
    while (from < len) {
        const void *hit = memmem(t + from, len - from, kXmlns, sizeof kXmlns - 1);
        if (hit == nullptr)
            return false;
        uint32_t p = static_cast<uint32_t>(static_cast<const char *>(hit) - t) + sizeof kXmlns - 1;
        from = p;
        if (len - p <= prefix.size() || std::string_view(t + p, prefix.size()) != prefix)
            continue;
        p += static_cast<uint32_t>(prefix.size());
        while (p < len && isBlank(t[p]))
            ++p;
        if (p >= len || t[p] != '=')
            continue;
        ++p;
        while (p < len && isBlank(t[p]))
            ++p;
        if (p >= len || (t[p] != '"' && t[p] != '\''))
            continue;
        char quote = t[p++];
        const void *close = std::memchr(t + p, quote, len - p);
        if (close == nullptr)
            return false;
        uint32_t end = static_cast<uint32_t>(static_cast<const char *>(close) - t);
        if (xmlDecodeText(std::string_view(t + p, end - p), uri, uriSize) > 0)
            return true;
    }
    return false;
}

// Remembers the namespace of a prefixed leaf that the writer can write with
// it; a leaf it would leave out anyway (no name, no declaration) adds none.
void noteNamespace(const QNTextDoc *doc, QNRootDesc *root, const QNNameVal &field)
{
    std::string_view name(field.name, strnlen(field.name, sizeof field.name));
    size_t colon = name.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return;
    std::string_view prefix = name.substr(0, colon);
    if (prefix == "xml" || xmlFindNamespace(root->ns, root->nsCount, prefix) != nullptr ||
        root->nsCount >= kMaxDescNamespaces)
        return;
    QNNameVal &decl = root->ns[root->nsCount];
    if (prefix.size() >= sizeof decl.name || !findDeclaration(doc, prefix, decl.val, sizeof decl.val))
        return;
    copyBounded(decl.name, sizeof decl.name, prefix);
    if (xmlNameWritable(name, &decl, 1))
        ++root->nsCount;
}

void noteDeviceNamespaces(const QNTextDoc *doc, QNRootDesc *root, const QNDevDesc *dev)
{
    for (int i = 0; i < dev->fieldCount && i < kMaxFields; ++i)
        noteNamespace(doc, root, dev->fields[i]);
    for (int s = 0; s < dev->serviceCount && s < kMaxServices; ++s) {
        const QNServDesc *serv = dev->services[s];
        for (int i = 0; serv != nullptr && i < serv->fieldCount && i < kMaxFields; ++i)
            noteNamespace(doc, root, serv->fields[i]);
    }
    for (int d = 0; d < dev->deviceCount && d < kMaxEmbeddedDevices; ++d)
        if (dev->devices[d] != nullptr)
            noteDeviceNamespaces(doc, root, dev->devices[d]);
}

void releaseIcons(QNDevDesc *dev)
{
    for (QNIconDesc *&icon : dev->icons) {
        delete icon;
        icon = nullptr;
    }
    dev->iconCount = 0;
}

// The icons of an iconList, for the model queries. Icons are only
// information: children that are not icons, icons that cannot be read and
// icons beyond kMaxIcons are passed over without failing the description.
// Records a model parsed before already holds are reused, so that parsing
// again allocates nothing.
void parseIconList(QNTextDoc *doc, QNDevDesc *dev, const XmlChild &list)
{
    dev->iconCount = 0;
    doc->pos = list.start;
    for (;;) {
        XmlChild item{};
        if (xmlReadElementAt(doc, &item) != 0 || (doc->state != XS_ELEMENT && doc->state != XS_EMPTY))
            return;
        int state = doc->state;
        if (state == XS_ELEMENT && dev->iconCount < kMaxIcons && xmlLocalName(xmlChildName(doc, item)) == "icon") {
            QNIconDesc *&icon = dev->icons[dev->iconCount];
            if (icon == nullptr && (icon = new (std::nothrow) QNIconDesc()) == nullptr)
                return;
            doc->pos = item.start;
            int fields = kIconFields;
            int noChildren = 0;
            if (xmlReadChildList(doc, icon->fields, &fields, nullptr, &noChildren) == 0) {
                icon->fieldCount = static_cast<uint16_t>(fields);
                ++dev->iconCount;
            }
        }
        xmlMovePast(doc, item, state);
    }
}

// Empties the service, device and icon slots of dev, releasing their records.
void releaseChildren(QNDevDesc *dev)
{
    releaseIcons(dev);
    for (QNServDesc *&serv : dev->services) {
        if (serv != nullptr)
            freeService(serv);
        serv = nullptr;
    }
    dev->serviceCount = 0;
    for (QNDevDesc *&child : dev->devices) {
        if (child != nullptr)
            freeDevice(child);
        child = nullptr;
    }
    dev->deviceCount = 0;
}

} // namespace

constinit const QNTextDoc kDescDocKind = xmlDocKind(parseDescDoc, writeDescDoc);

int parseDevice(QNTextDoc *doc, QNDevDesc *dev)
{
    if (!docUsable(doc) || dev == nullptr)
        return QN_ERR_ARG;
    int fields = dev->fieldCount < kMaxFields ? dev->fieldCount : kMaxFields;
    dev->iconCount = 0; // a reused record shows none of its old icons
    XmlChild kids[kDeviceContainerSlots];
    int count = kDeviceContainerSlots;
    int ret = xmlReadChildList(doc, dev->fields, &fields, kids, &count);
    if (ret != 0)
        return ret;
    dev->fieldCount = static_cast<uint16_t>(fields);
    for (int i = 0; i < count; ++i) {
        std::string_view name = xmlChildName(doc, kids[i]);
        if (name == "serviceList")
            ret = parseServiceList(doc, dev, kids[i]);
        else if (name == "deviceList")
            ret = parseDeviceList(doc, dev, kids[i]);
        else if (name == "iconList")
            parseIconList(doc, dev, kids[i]); // never fails the description
        else
            ret = kErrStructure;
        if (ret != 0)
            return ret;
    }
    return 0;
}

int parseDesc(QNTextDoc *doc, QNRootDesc *root)
{
    if (!docUsable(doc) || root == nullptr)
        return QN_ERR_ARG;
    if (xmlSkipDecl(doc) != 0)
        return kErrStructure;
    XmlChild top{};
    if (xmlReadElementAt(doc, &top) != 0) {
        debugPrint(LOG_XML, "Desc parsing: sub desc failed\r\n", LOG_DETAIL);
        return kErrStructure;
    }
    if (doc->state != XS_ELEMENT || xmlChildName(doc, top) != "root")
        return kErrStructure;

    doc->pos = top.start;
    clearNameVal(&root->specVersion[0]);
    clearNameVal(&root->specVersion[1]);
    clearNameVal(&root->urlBase);
    root->nsCount = 0;
    resetDevice(&root->device);
    root->device.fieldCount = 0; // a description without a device has no fields
    int leaves = 1;
    XmlChild kids[kRootContainerSlots];
    int count = kRootContainerSlots;
    if (xmlReadChildList(doc, &root->urlBase, &leaves, kids, &count) != 0)
        return kErrStructure;
    for (int i = 0; i < count; ++i) {
        std::string_view name = xmlChildName(doc, kids[i]);
        doc->pos = kids[i].start;
        if (name == "specVersion") {
            int versions = 2;
            XmlChild ignored[kRootContainerSlots];
            int slots = kRootContainerSlots;
            if (xmlReadChildList(doc, root->specVersion, &versions, ignored, &slots) != 0)
                return kErrStructure;
        } else if (name == "device") {
            resetDevice(&root->device);
            if (parseDevice(doc, &root->device) != 0)
                return kErrStructure;
        } else {
            return kErrStructure;
        }
    }
    noteNamespace(doc, root, root->urlBase);
    noteDeviceNamespaces(doc, root, &root->device);
    consolePrint(" parse ok!\r\n");
    // The buffer now receives the normalised text (a cut one when it does
    // not fit; the model is complete either way).
    if (doc->size > 0)
        (void)writeDesc(doc, root);
    return 0;
}

int freeService(QNServDesc *serv)
{
    if (serv == nullptr)
        return QN_ERR_ARG;
    serv->fieldCount = 0;
    releaseScpd(serv);
    delete serv;
    return 0;
}

QNScpd *attachNewScpd(QNServDesc *serv)
{
    serv->scpd = newScpd();
    if (serv->scpd == nullptr)
        consolePrint(" could not alloc mem\r\n");
    return serv->scpd;
}

int parseAttachedScpd(QNServDesc *serv, char *text, uint32_t len)
{
    QNTextDoc doc;
    xmlDocOpen(&doc, kScpdDocKind, text, len);
    int rc = parseScpd(&doc, serv->scpd);
    if (rc != 0) {
        releaseScpd(serv);
        consolePrint(" parseScpd() error: %d\r\n", rc);
    }
    return rc;
}

void releaseScpd(QNServDesc *serv)
{
    if (serv->scpd == nullptr)
        return;
    freeScpd(serv->scpd);
    deleteScpd(serv->scpd);
    serv->scpd = nullptr;
}

int freeDevice(QNDevDesc *dev)
{
    if (dev == nullptr)
        return QN_ERR_ARG;
    releaseChildren(dev);
    delete dev;
    return 0;
}

int freeDesc(QNRootDesc *root)
{
    if (root == nullptr)
        return QN_ERR_ARG;
    releaseChildren(&root->device);
    root->device.link1 = nullptr;
    root->device.link2 = nullptr;
    root->hostAddr = 0;
    root->hostPort = 0;
    root->nsCount = 0;
    return 0;
}
