// qnsdk subscribe LOCATION SERVICE_TYPE [--for S] [--addr IP] [--wait S]:
// subscribes to a service of a remote device and prints one line per event
// as it arrives,
//   {"t":0.004,"event":{"Status":"0"}}
// t being the seconds since the subscription was made. Ends after S seconds
// (without --for: on SIGINT or SIGTERM), renewing the subscription while it
// runs, and cancels it at the end.
#include "commands.h"
#include "json.h"
#include "remoteDevice.h"

#include "qnSdkApi.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace qncli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kUsage[] = "usage: qnsdk subscribe LOCATION SERVICE_TYPE [--for S] [--addr IP] [--wait S]\n";
// The time-out asked for; the subscription is renewed at half of it.
constexpr int kSubscriptionSeconds = 300;
constexpr auto kTick = std::chrono::milliseconds(100);

struct Event {
    Clock::time_point at;
    std::vector<std::pair<std::string, std::string>> vars;
};

struct Events {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Event> queue;
};
Events events;

volatile sig_atomic_t stopSignal = 0;

void noteSignal(int sig) { stopSignal = sig; }

// Runs on the stack's thread; the main thread prints.
QN_RET onEvent(QN_ENTITY, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_CP_EVENT || arg == nullptr)
        return QN_OK;
    const auto *record = static_cast<const QNApiEvent *>(arg);
    Event event{Clock::now(), {}};
    for (int i = 0; i < record->argNum && i < QN_ARG_MAX_NUM; ++i)
        event.vars.emplace_back(record->argNV[i].name, record->argNV[i].val);
    std::lock_guard guard(events.lock);
    events.queue.push_back(std::move(event));
    events.arrived.notify_all();
    return QN_OK;
}

// Writes one line to the real standard output (the stack's console goes to
// a file meanwhile).
bool writeLine(int fd, std::string line)
{
    line += '\n';
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string eventLine(const Event &event, Clock::time_point start)
{
    Json vars = Json::object();
    for (const auto &[name, value] : event.vars)
        addFirst(vars, name, value);
    // Milliseconds as written, not a double's shortest form.
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", std::chrono::duration<double>(event.at - start).count());
    return std::string("{\"t\":") + t + ",\"event\":" + jsonText(vars) + "}";
}

struct Options {
    RemoteOptions remote;
    std::string serviceType;
    int seconds = 0; // 0: until a signal
};

bool parseOptions(int argc, char **argv, Options &o)
{
    std::vector<std::string> rest;
    if (!takeRemoteOptions(argc, argv, o.remote, rest))
        return false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == "--for" && i + 1 < rest.size()) {
            char *end = nullptr;
            long s = std::strtol(rest[++i].c_str(), &end, 10);
            if (*end != '\0' || s < 1 || s > 86400)
                return false;
            o.seconds = static_cast<int>(s);
        } else {
            positional.push_back(rest[i]);
        }
    }
    if (positional.size() != 2)
        return false;
    o.remote.location = positional[0];
    o.serviceType = positional[1];
    return true;
}

void catchStopSignals()
{
    struct sigaction sa {};
    sa.sa_handler = noteSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// Prints events until the time is up or a signal came; renews on the way.
bool printEvents(const Options &o, QN_CONTROL_POINT cp, char *sid, size_t sidSize, int out, Clock::time_point start)
{
    auto end = start + std::chrono::seconds(o.seconds);
    auto renewAt = start + std::chrono::seconds(kSubscriptionSeconds / 2);
    while (stopSignal == 0 && (o.seconds == 0 || Clock::now() < end)) {
        std::deque<Event> ready;
        {
            std::unique_lock guard(events.lock);
            events.arrived.wait_for(guard, kTick, [] { return !events.queue.empty(); });
            ready.swap(events.queue);
        }
        for (const Event &event : ready)
            if (!writeLine(out, eventLine(event, start)))
                return false;
        if (Clock::now() >= renewAt) {
            qnCPSubscribe(cp, o.serviceType.c_str(), "/eventCB", kSubscriptionSeconds, sid,
                          static_cast<int32_t>(sidSize));
            renewAt = Clock::now() + std::chrono::seconds(kSubscriptionSeconds / 2);
        }
    }
    return true;
}

} // namespace

int runSubscribe(int argc, char **argv)
{
    if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    catchStopSignals();
    int out = dup(STDOUT_FILENO); // before the session takes standard output over
    RemoteSession session;
    std::string why;
    if (out < 0 || !session.open(o.remote, onEvent, &why)) {
        if (out >= 0)
            close(out);
        return failCommand("subscribe", out < 0 ? "no standard output" : why, session.close());
    }
    char sid[QN_VAL_MAX_LEN] = "";
    auto start = Clock::now();
    QN_RET rc = session.untilTracked(
        [&] {
            sid[0] = '\0';
            start = Clock::now();
            return qnCPSubscribe(session.cp(), o.serviceType.c_str(), "/eventCB", kSubscriptionSeconds, sid,
                                 sizeof sid);
        },
        QN_ERR);
    if (rc != QN_OK) {
        close(out);
        return failCommand("subscribe", "the device did not accept the subscription (" + std::to_string(rc) + ")",
                           session.close());
    }
    bool written = printEvents(o, session.cp(), sid, sizeof sid, out, start);
    qnCPUnsubscribe(session.cp(), o.serviceType.c_str(), sid);
    (void)session.close();
    close(out);
    return written ? kExitOk : kExitFailure;
}

} // namespace qncli
