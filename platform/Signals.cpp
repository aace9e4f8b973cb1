#include "platform/Signals.h"

#include <signal.h>

namespace platform {
namespace {

volatile sig_atomic_t g_interrupted = 0;
struct sigaction g_previousInt;
struct sigaction g_previousTerm;

void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

InterruptScope::InterruptScope() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previousInt);
    sigaction(SIGTERM, &action, &g_previousTerm);
}

InterruptScope::~InterruptScope() {
    sigaction(SIGINT, &g_previousInt, nullptr);
    sigaction(SIGTERM, &g_previousTerm, nullptr);
}

bool InterruptScope::Requested() { return g_interrupted != 0; }

}  // namespace platform
