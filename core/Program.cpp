#include "core/Program.h"

#include <cstdio>
#include <unistd.h>

namespace tarvex::Program {

namespace {
EndHandler &handler()
{
    static EndHandler h;
    return h;
}
bool g_endRequested = false;
} // namespace

Notifier &notifier()
{
    static Notifier n;
    return n;
}

void end(int exitCode)
{
    g_endRequested = true;
    emit notifier().ending();
    if (handler()) {
        handler()(exitCode);
        return;
    }
    // Leave at once: nested event loops may be running inside handlers, and none of
    // them may go on. Settings are already on disk; flush what is printed.
    std::fflush(nullptr);
    ::_exit(exitCode);
}

void setEndHandler(EndHandler h) { handler() = std::move(h); }
bool endRequested() { return g_endRequested; }
void resetEndRequested() { g_endRequested = false; }

} // namespace tarvex::Program
