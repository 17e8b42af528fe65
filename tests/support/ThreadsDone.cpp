// Linked into every test: when the test's main has returned, waits (briefly, bounded)
// until the threads Qt started and already told to stop have left the process.
//
// Qt joins such a thread (the network manager's, the host-lookup pool's) when the thread
// signals that it is done, which is before the thread has run its thread-local
// destructors. Its last reference to Qt's per-thread data is released there, so a
// process that ends in that instant leaves the data unreleased, and LeakSanitizer (which
// checks at exit, after these destructors) reports it. Waiting for the threads to be
// gone closes that window; a thread that is still working after the bound is left to
// the leak check.
#include <QDir>

#include <chrono>
#include <thread>

namespace {

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

struct ThreadsDone
{
    ~ThreadsDone()
    {
        using namespace std::chrono_literals;
        for (int i = 0; i < 500 && threadCount() > 1; ++i)
            std::this_thread::sleep_for(1ms);
    }
} threadsDone;

} // namespace
