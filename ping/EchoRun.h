#pragma once

// Echo requests to many hosts at once, without Qt: one worker thread per run holds one
// means (a ping socket, a raw socket or the helper program), sends the requests paced one
// every interval, keeps all of them outstanding together and hands each outcome back as
// it comes. The Ping control turns these into its EchoResult signals.

#include "EchoMeans.h"
#include "icmp/EchoSession.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace pingocx {

// The helper program run for many echoes over its pipes (see icmp/helper_main.cpp).
class HelperProcess
{
public:
    // Starts the helper at path and waits for its first line, at most 3 s, or less when
    // *cancelled turns true (wakeFd, if >= 0, is an eventfd written when it does). Null
    // with *why set when it cannot serve.
    static std::unique_ptr<HelperProcess> start(const std::string &path, int wakeFd,
                                                const std::atomic<bool> *cancelled,
                                                std::string *why);
    // Closes its input, which ends it, and reaps it.
    ~HelperProcess();

    int answerFd() const { return m_out; }
    bool request(uint64_t token, uint32_t destination, uint32_t timeoutMs);
    // Reads the answers that are there. False when the helper has gone.
    bool readAnswers(std::vector<icmp::SettledEcho> &settled);

private:
    HelperProcess() = default;
    pid_t m_pid = -1;
    int m_in = -1; // its standard input
    int m_out = -1; // its standard output
    std::string m_buffer;
};

// What a run hands back at once: the requests settled since its last report.
struct EchoRunReport
{
    struct Settled
    {
        uint64_t token = 0;
        bool haveMeans = true; // false: no means could be had ("Socket Error")
        icmp::EchoOutcome outcome;
    };
    std::vector<Settled> settled;
    std::string meansUsed; // which means the run has
    std::string whyNoMeans; // with the first outcome that has no means
};

class EchoRun
{
public:
    using Settled = EchoRunReport::Settled;
    using Report = EchoRunReport;
    // Called on the worker thread, never after cancel() has returned.
    using Deliver = std::function<void(Report)>;

    EchoRun(Means choice, uint32_t intervalMs, Deliver deliver);
    // Cancels and waits for the worker (it ends within milliseconds).
    ~EchoRun();
    EchoRun(const EchoRun &) = delete;
    EchoRun &operator=(const EchoRun &) = delete;

    // Queues one echo request; requests go out in the order they are added. Thread-safe.
    void add(uint64_t token, uint32_t destination, uint32_t timeoutMs);
    // Stops the run: nothing more is sent or delivered once this returns.
    void cancel();

    // The identifier of this run's raw-socket requests (tests match it).
    uint16_t identifier() const { return m_identifier; }

private:
    struct Request
    {
        uint64_t token;
        uint32_t destination;
        uint32_t timeoutMs;
    };
    void work();
    bool openMeans(Report &report);
    void wake();

    const Means m_choice;
    const std::chrono::milliseconds m_interval;
    const uint16_t m_identifier;
    Deliver m_deliver;

    std::mutex m_mutex; // guards m_queue and delivery against cancel()
    std::deque<Request> m_queue;
    std::atomic<bool> m_cancelled{false};
    int m_wake = -1; // eventfd: new requests or cancel

    // The worker's own state.
    std::unique_ptr<icmp::EchoSession> m_session;
    std::unique_ptr<HelperProcess> m_helper;
    // Requests the helper has, each with the time by which it must have answered.
    std::unordered_map<uint64_t, icmp::EchoClock::time_point> m_helperAsked;
    std::thread m_thread;
};

} // namespace pingocx
