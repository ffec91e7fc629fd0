#include "terminal.h"

#include <cstdlib>
#include <cstring>
#include <signal.h>
#include <unistd.h>

#include "session/session.h"

namespace {

std::atomic<bool>* g_interrupted = nullptr;

// Only lock-free atomic stores: safe in a signal handler.
void onInterrupt(int) {
    g_interrupted->store(true);
    StopConversations(true);
}

}  // namespace

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool StderrMovesCursor() {
    const char* term = std::getenv("TERM");
    return StderrIsTerminal() && term && *term && std::strcmp(term, "dumb") != 0;
}

void StopOnInterrupt(std::atomic<bool>* flag) {
    g_interrupted = flag;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onInterrupt;
    // A write to standard output goes on after the signal; a second signal
    // ends the program at once, as it would have without this handler.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &sa, nullptr);
}
