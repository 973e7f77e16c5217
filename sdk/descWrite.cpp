// Description writers: the normalised description that
// parseDesc leaves in its buffer and that the device side serves. The root
// element carries the UDA device namespace and declares the prefixes of the
// prefixed leaves the parser remembered, so the output is a valid,
// namespace-well-formed description.
#include "desc.h"

#include <cstring>

namespace {

// The leaves of a record; a record without any writes nothing.
int writeLeaves(QNTextDoc *doc, const QNNameVal *arr, int n, int depth, const QNNameVal *ns, int nsCount)
{
    return n > 0 ? writeLeafListNs(doc, arr, n, depth, ns, nsCount) : 0;
}

std::string_view viewOf(const char *text, size_t size)
{
    return std::string_view(text, strnlen(text, size));
}

// An element with no child elements reads back as a text leaf, not as the
// container it was: a service, device or specVersion with nothing to write
// is left out, so that the written description parses to what was written.
bool anyLeafWritable(const QNNameVal *arr, int n, const QNNameVal *ns, int nsCount)
{
    for (int i = 0; i < n; ++i)
        if (xmlNameWritable(viewOf(arr[i].name, sizeof arr[i].name), ns, nsCount))
            return true;
    return false;
}

int fieldsOf(const QNServDesc *serv)
{
    return serv->fieldCount < kMaxFields ? serv->fieldCount : kMaxFields;
}

bool serviceHasContent(const QNServDesc *serv, const QNNameVal *ns, int nsCount)
{
    return serv != nullptr && anyLeafWritable(serv->fields, fieldsOf(serv), ns, nsCount);
}

int servicesOf(const QNDevDesc *dev)
{
    return dev->serviceCount < kMaxServices ? dev->serviceCount : kMaxServices;
}

int devicesOf(const QNDevDesc *dev)
{
    return dev->deviceCount < kMaxEmbeddedDevices ? dev->deviceCount : kMaxEmbeddedDevices;
}

bool deviceHasContent(const QNDevDesc *dev, const QNNameVal *ns, int nsCount);

bool anyServiceHasContent(const QNDevDesc *dev, const QNNameVal *ns, int nsCount)
{
    for (int i = 0; i < servicesOf(dev); ++i)
        if (serviceHasContent(dev->services[i], ns, nsCount))
            return true;
    return false;
}

bool anyDeviceHasContent(const QNDevDesc *dev, const QNNameVal *ns, int nsCount)
{
    for (int i = 0; i < devicesOf(dev); ++i)
        if (dev->devices[i] != nullptr && deviceHasContent(dev->devices[i], ns, nsCount))
            return true;
    return false;
}

bool deviceHasContent(const QNDevDesc *dev, const QNNameVal *ns, int nsCount)
{
    int fields = dev->fieldCount < kMaxFields ? dev->fieldCount : kMaxFields;
    return anyLeafWritable(dev->fields, fields, ns, nsCount) || anyServiceHasContent(dev, ns, nsCount) ||
           anyDeviceHasContent(dev, ns, nsCount);
}

int writeServiceNs(QNTextDoc *doc, const QNServDesc *serv, int depth, const QNNameVal *ns, int nsCount)
{
    if (doc == nullptr || serv == nullptr)
        return QN_ERR_ARG;
    if (!serviceHasContent(serv, ns, nsCount))
        return 0;
    return XmlOut{doc}
        .raw("<service>")
        .then([&] { return writeLeaves(doc, serv->fields, fieldsOf(serv), depth + 1, ns, nsCount); })
        .raw("</service>")
        .err;
}

int writeDeviceNs(QNTextDoc *doc, const QNDevDesc *dev, int depth, const QNNameVal *ns, int nsCount)
{
    if (doc == nullptr || dev == nullptr)
        return QN_ERR_ARG;
    if (!deviceHasContent(dev, ns, nsCount))
        return 0;
    XmlOut out{doc};
    int fields = dev->fieldCount < kMaxFields ? dev->fieldCount : kMaxFields;
    out.raw("<device>").then([&] { return writeLeaves(doc, dev->fields, fields, depth + 1, ns, nsCount); });
    if (anyServiceHasContent(dev, ns, nsCount)) {
        out.raw("<serviceList>");
        for (int i = 0; i < servicesOf(dev) && out.err == 0; ++i)
            if (dev->services[i] != nullptr)
                out.err = writeServiceNs(doc, dev->services[i], depth + 2, ns, nsCount);
        out.raw("</serviceList>");
    }
    if (anyDeviceHasContent(dev, ns, nsCount)) {
        out.raw("<deviceList>");
        for (int i = 0; i < devicesOf(dev) && out.err == 0; ++i)
            if (dev->devices[i] != nullptr)
                out.err = writeDeviceNs(doc, dev->devices[i], depth + 2, ns, nsCount);
        out.raw("</deviceList>");
    }
    return out.raw("</device>").err;
}

} // namespace

int writeService(QNTextDoc *doc, const QNServDesc *serv, int depth)
{
    return writeServiceNs(doc, serv, depth, nullptr, 0);
}

int writeDevice(QNTextDoc *doc, const QNDevDesc *dev, int depth)
{
    return writeDeviceNs(doc, dev, depth, nullptr, 0);
}

int writeDesc(QNTextDoc *doc, const QNRootDesc *root)
{
    if (doc == nullptr || root == nullptr)
        return QN_ERR_ARG;
    int ret = xmlBeginDoc(doc);
    if (ret != 0)
        return ret;
    int nsCount = root->nsCount < kMaxDescNamespaces ? root->nsCount : kMaxDescNamespaces;
    XmlOut out{doc};
    out.raw("<root xmlns=\"").text(kDeviceNamespace, true).raw("\"");
    for (int i = 0; i < nsCount; ++i) {
        const QNNameVal &decl = root->ns[i];
        std::string_view prefix = viewOf(decl.name, sizeof decl.name);
        // The same prefixes xmlNameWritable lets leaves carry: "xml" needs
        // no declaration and "xmlns..." cannot have one.
        if (decl.val[0] == '\0' || prefix == "xml" || prefix.substr(0, 5) == "xmlns" ||
            !xmlNameWritable(prefix, nullptr, 0))
            continue;
        out.raw(" xmlns:").text(prefix, true).raw("=\"").text(viewOf(decl.val, sizeof decl.val), true).raw("\"");
    }
    out.raw(">");
    if (anyLeafWritable(root->specVersion, 2, nullptr, 0))
        out.raw("<specVersion>")
            .then([&] { return writeLeaves(doc, root->specVersion, 2, 2, nullptr, 0); })
            .raw("</specVersion>");
    if (out.err == 0 && root->urlBase.name[0] != '\0')
        out.err = writeLeafNs(doc, &root->urlBase, 1, root->ns, nsCount);
    if (out.err == 0)
        out.err = writeDeviceNs(doc, &root->device, 1, root->ns, nsCount);
    out.raw("</root>");
    int end = xmlEndDoc(doc);
    return out.err != 0 ? out.err : end;
}
