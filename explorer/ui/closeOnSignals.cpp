#include "closeOnSignals.h"

#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumivarui {

namespace {

// A signal handler may only write to a descriptor: the window thread reads
// the other end through its event loop.
int wakePair[2] = {-1, -1};

void onSignal(int)
{
    char byte = 1;
    ssize_t ignored = write(wakePair[0], &byte, 1);
    (void)ignored;
}

} // namespace

bool closeOnSignals(QWidget &window)
{
    if (wakePair[0] >= 0)
        return true;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakePair) != 0)
        return false;
    auto *notifier = new QSocketNotifier(wakePair[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (read(wakePair[1], bytes, sizeof bytes) > 0) {
        }
        window.close();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

} // namespace lumivarui
