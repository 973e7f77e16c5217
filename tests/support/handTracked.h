// A control point's tracked description filled in by hand, for tests and
// benchmarks that exercise control without waiting for SSDP discovery.
#pragma once

#include "desc.h"
#include "entity.h"
#include "server.h"
#include "wireCapture.h"

#include <arpa/inet.h>

#include <mutex>
#include <string>

namespace qntest {

// Fills a control point's tracked description from a description file, as
// discovery would after hearing the device at addr:port, and sets its SOAP
// client and event listener running (its SSDP roles stay stopped).
inline bool trackByHand(QN_CONTROL_POINT cp, const std::string &descPath, const char *addr, uint16_t port)
{
    std::string text = readWholeFile(descPath);
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(cp);
    if (slot == nullptr || text.empty())
        return false;
    releaseModel(slot);
    slot->desc = new QNRootDesc{};
    text.resize(kMaxDocument + 1, '\0');
    QNTextDoc doc;
    xmlDocOpen(&doc, kDescDocKind, text.data(), static_cast<uint32_t>(text.size()));
    if (parseDesc(&doc, slot->desc) != 0)
        return false;
    inet_pton(AF_INET, addr, &slot->desc->hostAddr);
    slot->desc->hostPort = htons(port);
    slot->desc->device.lastActive = 1;
    setRunState(&slot->handlers[CR_SOAP], ES_RUNNING);
    setRunState(&slot->handlers[CR_EVENT], ES_RUNNING);
    return true;
}

} // namespace qntest
