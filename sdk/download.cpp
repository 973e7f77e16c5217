// The control point's HTTP client ("DLing" in the logs): descriptions and
// SCPDs, fetched with one GET each, one after the other, and parsed into
// the tracked description under the stack lock as each arrives.
#include "download.h"

#include "cpUrl.h"
#include "exchange.h"
#include "httpFrame.h"
#include "log.h"
#include "roles.h"
#include "scpd.h"
#include "text.h"
#include "track.h"

#include <arpa/inet.h>

#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

// An SSDP message that arrived while its control point was downloading.
struct Deferred {
    int role;              // the handler that took it
    sockaddr_in peer;      // where it came from
    std::string text;
};

// The download of one control point; under the stack lock.
struct Job {
    bool busy = false;
    uint32_t generation = 0; // answers of an ended job are recognised and dropped
    EntitySlot *cp = nullptr;
    HeardAlive alive{};
    bool withScpds = false;
    AliveFinish finish = nullptr;
    std::vector<QNServDesc *> scpds; // services whose SCPD is fetched, in order
    size_t next = 0;
    std::deque<Deferred> deferred;
};

Job jobs[QN_MAX_ENTITY];
const Job *replaying = nullptr; // the job whose waiting message is being handled

using Step = void (*)(Job &job, ExchangeResult &answer, const std::string &url);

// Where the XML document of a response starts: its declaration, or the
// first element after the headers when a device leaves the (optional)
// declaration out.
char *findXml(char *text)
{
    if (char *decl = std::strstr(text, "<?xml"))
        return decl;
    char *body = std::strstr(text, "\r\n\r\n");
    if (body == nullptr)
        return nullptr;
    body += 4;
    while (isBlank(*body))
        ++body;
    return *body == '<' ? body : nullptr;
}

// The document of a complete answer, its chunking undone; nullptr when
// the answer did not come whole or holds no XML. *room: the bytes from
// the document to the end of the buffer.
char *documentOf(ExchangeResult &answer, const std::string &url, uint32_t *room)
{
    if (!answer.complete) {
        debugPrint(LOG_HTTP_XFER, "DLing - sock read error", LOG_NOTABLE);
        return nullptr;
    }
    httpUnchunkMessage(answer.data, &answer.len);
    // One console line per document; the text itself only for whoever asked
    // for the transfers in detail (a description is up to 64 KiB).
    consolePrint(" get %s: %u bytes\r\n", url.c_str(), static_cast<unsigned>(answer.len));
    if (debugEnabled(LOG_HTTP_XFER, LOG_DETAIL))
        debugPrint(LOG_HTTP_XFER, answer.data, LOG_DETAIL);
    char *xml = findXml(answer.data);
    if (xml != nullptr)
        *room = answer.len + 1 - static_cast<uint32_t>(xml - answer.data);
    return xml;
}

// Sends the GET of url; step follows with the answer. False when the
// request cannot go out (wrong state, no address for the URL).
bool fetch(Job &job, const char *url, Step step)
{
    EntitySlot *cp = job.cp;
    const MsgHandler &client = cp->handlers[CR_DOWNLOAD];
    bool addressKnown = cp->desc != nullptr && cp->desc->hostAddr != 0 && cp->desc->hostPort != 0;
    if (client.state != ES_RUNNING || (cp->cp.cpType != CPT_PLAIN && !addressKnown)) {
        debugPrint(LOG_HTTP_XFER, "Wrong state/type?", LOG_NOTABLE);
        return false;
    }
    RemoteTarget remote{};
    // The process's own devices are known from their records, never fetched.
    if (resolveRemoteUrl(cp, url, &remote) != 0)
        return false;
    ExchangePlan plan{};
    plan.addr = remote.addr;
    plan.port = remote.port;
    copyBounded(plan.localAddr, sizeof plan.localAddr, cp->cp.ipAddr);
    plan.connectWaitMs = kConnectWaitMs;
    plan.totalWaitMs = kDownloadWaitMs;
    plan.answerMax = static_cast<uint32_t>(kMsgBufSize - 1);
    std::string request = std::string("GET ") + remote.path + " HTTP/1.1\r\nHost: " + remote.host + "\r\n\r\n";
    debugPrint(LOG_HTTP_XFER, "Sending get", LOG_DETAIL);
    int index = cp->self;
    uint32_t generation = job.generation;
    exchangeStart(plan, std::move(request), [index, generation, step, where = std::string(url)](ExchangeResult &r) {
        Job &j = jobs[index];
        if (j.busy && j.generation == generation)
            step(j, r, where);
    });
    return true;
}

void complete(Job &job, bool ok)
{
    EntitySlot *cp = job.cp;
    if (ok) {
        copyBounded(cp->cp.descFile, sizeof cp->cp.descFile, job.alive.location);
        debugPrint(LOG_SSDP, "dl and parsing ok", LOG_DETAIL);
    } else {
        // The next message downloads again.
        discardTracked(cp);
    }
    // The parse starts from an empty record: the address stays recorded.
    cp->desc->hostAddr = job.alive.addr;
    cp->desc->hostPort = job.alive.port;
    job.busy = false;
    ++job.generation;
    HeardAlive alive = job.alive;
    (void)job.finish(cp, alive);
    // The messages that waited follow, one per pass of the loop.
    if (!job.deferred.empty())
        serverWake();
}

bool inTree(const QNDevDesc *dev, const QNServDesc *serv)
{
    for (int i = 0; i < dev->serviceCount; ++i)
        if (dev->services[i] == serv)
            return true;
    for (int i = 0; i < dev->deviceCount; ++i)
        if (inTree(dev->devices[i], serv))
            return true;
    return false;
}

// Services without an SCPD, or whose service is not active, in the order
// of the description.
void collectScpds(QNDevDesc *dev, std::vector<QNServDesc *> &out)
{
    for (int i = 0; i < dev->serviceCount; ++i) {
        QNServDesc *serv = dev->services[i];
        if (serv->scpd == nullptr || serv->extra1 == 0)
            out.push_back(serv); // an active one keeps what it has
    }
    for (int i = 0; i < dev->deviceCount; ++i)
        collectScpds(dev->devices[i], out);
}

void onScpd(Job &job, ExchangeResult &answer, const std::string &url);

// Fetches the next SCPD; the first that fails ends the walk (the
// description stays, with the SCPDs it got).
void nextScpd(Job &job)
{
    EntitySlot *cp = job.cp;
    while (job.next < job.scpds.size()) {
        QNServDesc *serv = job.scpds[job.next];
        if (!inTree(&cp->desc->device, serv)) {
            ++job.next;
            continue;
        }
        if (serv->scpd != nullptr)
            releaseScpd(serv);
        const char *url = findNameVal(serv->fields, serv->fieldCount, "SCPDURL");
        if (url == nullptr || url[0] == '\0') {
            consolePrint(" could not find SCPDURL\r\n");
            debugPrint(LOG_SSDP, "Could not find SCPDURL", LOG_DETAIL);
            break;
        }
        debugPrintf(LOG_SSDP, LOG_DETAIL, "SCPDURL = %s\r\n", url);
        if (!fetch(job, url, onScpd)) {
            debugPrint(LOG_SSDP, "DL SCPDURL failed", LOG_DETAIL);
            break;
        }
        return;
    }
    complete(job, true);
}

void onScpd(Job &job, ExchangeResult &answer, const std::string &url)
{
    QNServDesc *serv = job.scpds[job.next];
    if (!inTree(&job.cp->desc->device, serv)) {
        ++job.next;
        nextScpd(job);
        return;
    }
    uint32_t room = 0;
    char *xml = documentOf(answer, url, &room);
    if (xml == nullptr) {
        debugPrint(LOG_SSDP, answer.complete ? "Wrong scpd" : "DL SCPDURL failed", LOG_DETAIL);
        complete(job, true);
        return;
    }
    if (attachNewScpd(serv) == nullptr) {
        debugPrint(LOG_SSDP, "Out of mem", LOG_DETAIL);
        complete(job, true);
        return;
    }
    debugPrint(LOG_SSDP, "Parsing scpd", LOG_DETAIL);
    if (parseAttachedScpd(serv, xml, room) != 0) {
        debugPrint(LOG_SSDP, "Parsing scpd failed", LOG_DETAIL);
        complete(job, true);
        return;
    }
    ++job.next;
    nextScpd(job);
}

void onDescription(Job &job, ExchangeResult &answer, const std::string &url)
{
    EntitySlot *cp = job.cp;
    uint32_t room = 0;
    char *xml = documentOf(answer, url, &room);
    if (xml == nullptr) {
        complete(job, false);
        return;
    }
    debugPrint(LOG_SSDP, "Parsing desc", LOG_DETAIL);
    QNTextDoc doc;
    xmlDocOpen(&doc, kDescDocKind, xml, room);
    uint32_t addr = cp->desc->hostAddr;
    uint16_t port = cp->desc->hostPort;
    int rc = parseDesc(&doc, cp->desc);
    cp->desc->hostAddr = addr;
    cp->desc->hostPort = port;
    if (rc != 0) {
        complete(job, false);
        return;
    }
    // SCPD URLs may be relative to the description's location.
    copyBounded(cp->cp.descFile, sizeof cp->cp.descFile, url);
    if (!job.withScpds) {
        complete(job, true);
        return;
    }
    job.scpds.clear();
    job.next = 0;
    collectScpds(&cp->desc->device, job.scpds);
    nextScpd(job);
}

// Handles the first message that waited for the download of job's
// control point; one per pass, so that no pass holds the lock for long and
// readers of the model see each state it goes through. The message goes
// where it would go if it came now: a control point made meanwhile (bound
// to the device it names, once the first message of that device was
// handled) takes it instead of the one it waited for.
void replayOne(Job &job)
{
    Deferred d = std::move(job.deferred.front());
    job.deferred.pop_front();
    EntitySlot *cp = job.cp;
    if (cp == nullptr || cp->kind != EK_CTRL_POINT) {
        job.deferred.clear();
        return;
    }
    const MsgHandler &took = cp->handlers[d.role];
    if (!cp->registered[d.role] || took.sock == nullptr)
        return;
    std::unique_ptr<HttpMsg> msg(new (std::nothrow) HttpMsg{});
    if (msg == nullptr || httpParseText(d.text.data(), static_cast<uint32_t>(d.text.size() + 1), msg.get()) != 0)
        return;
    SockInfo *sock = took.sock;
    sockaddr_in peer = sock->peer;
    sock->peer = d.peer;
    msg->sock = sock;
    replaying = &job;
    if (MsgHandler *chosen = findHandler(msg.get())) {
        if (chosen->handle != nullptr)
            (void)chosen->handle(chosen);
        chosen->msg = nullptr;
    }
    replaying = nullptr;
    sock->peer = peer;
}

// The loop's pass task: one waiting message of every control point whose
// download has ended. True while messages are left to handle.
bool replayTurn()
{
    bool more = false;
    for (Job &job : jobs) {
        if (job.busy || job.deferred.empty())
            continue;
        replayOne(job);
        more = more || (!job.busy && !job.deferred.empty());
    }
    return more;
}

} // namespace

void downloadStart(EntitySlot *cp, const HeardAlive &alive, bool withScpds, AliveFinish finish)
{
    Job &job = jobs[cp->self];
    job.busy = true;
    ++job.generation;
    job.cp = cp;
    job.alive = alive;
    job.withScpds = withScpds;
    job.finish = finish;
    job.scpds.clear();
    job.next = 0;
    debugPrint(LOG_SSDP, cp->desc->device.lastActive == 0 ? "First DL" : "DL again?", LOG_DETAIL);
    cp->desc->hostAddr = alive.addr;
    cp->desc->hostPort = alive.port;
    debugPrintf(LOG_SSDP, LOG_DETAIL, "SCPDURL = %s\r\n", alive.location);
    if (!fetch(job, alive.location, onDescription))
        complete(job, false);
}

bool downloadDefers(EntitySlot *cp, MsgHandler *handler)
{
    Job &job = jobs[cp->self];
    // Messages wait during a download and after it, until those that came
    // before them have been handled.
    if (job.cp != cp || &job == replaying || (!job.busy && job.deferred.empty()))
        return false;
    const SockInfo *sock = handler->msg->sock;
    int role = static_cast<int>(handler - cp->handlers);
    if (sock == nullptr || sock->data == nullptr || role < 0 || role >= kRolesPerEntity)
        return true;
    size_t len = strnlen(sock->data, sock->len);
    if (job.deferred.size() >= static_cast<size_t>(kMaxDeferredSsdp) || len > kDeferredSsdpMax) {
        debugPrint(LOG_SSDP, "Message dropped while downloading", LOG_DETAIL);
        return true;
    }
    job.deferred.push_back(Deferred{role, sock->peer, std::string(sock->data, len)});
    serverAddPassTask(replayTurn);
    return true;
}

bool downloadBusy(QN_CONTROL_POINT cp)
{
    return cp >= 0 && cp < QN_MAX_ENTITY && jobs[cp].busy;
}

void downloadForget(QN_CONTROL_POINT cp)
{
    if (cp < 0 || cp >= QN_MAX_ENTITY)
        return;
    Job &job = jobs[cp];
    job.busy = false;
    ++job.generation;
    job.scpds.clear();
    job.deferred.clear();
}

int downloadMatch(MsgHandler *) { return -1; }
int downloadHandle(MsgHandler *) { return 0; }
