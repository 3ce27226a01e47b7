// Path traces off the scan's path: a site address that fails gets one trace per outage (also when it
// never answered since the start), run on threads of the tracer's own while the scan goes on; the
// finished ones are taken by whoever shows them.
#pragma once

#include "scan/pathtrace.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class PathTracer {
public:
    /// Traces running at once; a scan that loses thousands of sites queues at most QueueLimit more
    /// (the first ones already say where the path breaks).
    static constexpr std::size_t Workers = 4;
    static constexpr std::size_t QueueLimit = 256;

    struct Finished {
        std::string Code, Address;
        std::shared_ptr<const PathTraceResult> Result;
    };

    PathTracer() = default;
    ~PathTracer();
    PathTracer(const PathTracer&) = delete;
    PathTracer& operator=(const PathTracer&) = delete;

    /// A site address's result of a scan: the first failure of an outage starts its trace; an answer
    /// ends the outage and forgets its trace.
    void Record(const std::string& code, const std::string& address, bool answered);
    /// The finished trace of the code's current outage (any of its addresses); null when none.
    std::shared_ptr<const PathTraceResult> Find(const std::string& code) const;
    /// The traces finished since the last call.
    std::vector<Finished> TakeFinished();

private:
    void Work();

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::set<std::pair<std::string, std::string>> m_failing; ///< (code, address) whose outage has its trace
    std::deque<std::pair<std::string, std::string>> m_queue;
    std::map<std::string, std::shared_ptr<const PathTraceResult>> m_results; ///< by code
    std::set<std::string> m_outage;                                          ///< codes whose trace still counts
    std::vector<Finished> m_finished;
    std::vector<std::thread> m_threads;
    bool m_stop = false;
};
