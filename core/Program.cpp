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
} // namespace

Notifier &notifier()
{
    static Notifier n;
    return n;
}

void end(int exitCode)
{
    emit notifier().ending();
    if (handler()) {
        handler()(exitCode);
        return;
    }
    // Leave at once: a modal box may be open, and nothing after it may go on. Settings are already
    // on disk; flush what is printed.
    std::fflush(nullptr);
    ::_exit(exitCode);
}

void setEndHandler(EndHandler h) { handler() = std::move(h); }

} // namespace tarvex::Program
