#include "gui/run_operation.h"

#include <exception>

namespace zrq406 {

namespace detail {

std::optional<std::string> failureOf(const std::function<void()>& work) {
    try {
        work();
        return std::nullopt;
    } catch (const std::exception& e) {
        return std::string(e.what());
    } catch (...) {
        return std::string("unknown error");
    }
}

void finishOperation(BusyWindow& window, std::shared_ptr<void>& operation, const std::optional<std::string>& failure) {
    // The operation ends before the busy state does: whatever waited for the window (a device arrival, the next
    // operation of `done`) finds the adapters free.
    operation.reset();
    window.busyState(BusyWindow::Leave);
    if (failure)
        window.operationFailed(*failure);
}

} // namespace detail

bool runOperation(BusyWindow& window, std::function<void()> work, std::function<void(bool)> done) {
    return runOperation<bool>(
        window,
        [work = std::move(work)] {
            work();
            return true;
        },
        [done = std::move(done)](std::optional<bool> finished) {
            if (done)
                done(finished.has_value());
        });
}

} // namespace zrq406
