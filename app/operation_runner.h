#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zrq406::app {

class OperationRunner;

// The right to exchange frames with the devices, held by one operation at a time. Ends when destroyed or
// released; a default-made or moved-from lease holds nothing.
class [[nodiscard]] OperationLease {
public:
    OperationLease() = default;
    ~OperationLease();
    OperationLease(OperationLease&& other) noexcept;
    OperationLease& operator=(OperationLease&& other) noexcept;
    OperationLease(const OperationLease&) = delete;
    OperationLease& operator=(const OperationLease&) = delete;

    explicit operator bool() const { return m_runner != nullptr; }
    // Ends the operation now.
    void release();

private:
    friend class OperationRunner;
    explicit OperationLease(OperationRunner* runner) : m_runner(runner) {}

    OperationRunner* m_runner = nullptr;
};

// The one device operation of a program: scans, LED, reset, keys, proofs, QoS, upgrades and the link table each
// take it for their whole run, so that no two operations interleave their frames on the adapters. Any thread may
// ask; a lease may end on another thread than the one that took it.
class OperationRunner {
public:
    OperationRunner() = default;
    OperationRunner(const OperationRunner&) = delete;
    OperationRunner& operator=(const OperationRunner&) = delete;

    // Takes the operation, or returns an empty lease at once when another one holds it.
    OperationLease tryBegin();
    // Takes the operation, waiting for the one that holds it to end.
    OperationLease begin();
    // True while an operation holds the runner.
    bool running() const;
    // The number of the operation holding the runner (each one gets the next), 0 while none does.
    std::uint64_t operation() const;

private:
    friend class OperationLease;
    void end();

    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_running = false;
    std::uint64_t m_operation = 0;
};

} // namespace zrq406::app
