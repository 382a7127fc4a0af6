#include "app/operation_runner.h"

#include <utility>

namespace zrq406::app {

OperationLease::~OperationLease() {
    release();
}

OperationLease::OperationLease(OperationLease&& other) noexcept : m_runner(std::exchange(other.m_runner, nullptr)) {}

OperationLease& OperationLease::operator=(OperationLease&& other) noexcept {
    if (this != &other) {
        release();
        m_runner = std::exchange(other.m_runner, nullptr);
    }
    return *this;
}

void OperationLease::release() {
    if (OperationRunner* runner = std::exchange(m_runner, nullptr))
        runner->end();
}

OperationLease OperationRunner::tryBegin() {
    std::lock_guard lock(m_mutex);
    if (m_running)
        return OperationLease();
    m_running = true;
    ++m_operation;
    return OperationLease(this);
}

OperationLease OperationRunner::begin() {
    std::unique_lock lock(m_mutex);
    m_ended.wait(lock, [this] { return !m_running; });
    m_running = true;
    ++m_operation;
    return OperationLease(this);
}

bool OperationRunner::running() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

std::uint64_t OperationRunner::operation() const {
    std::lock_guard lock(m_mutex);
    return m_running ? m_operation : 0;
}

void OperationRunner::end() {
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    m_ended.notify_one();
}

} // namespace zrq406::app
