#include "gui/run_operation.h"

#include "platform/operation_refused.h"

#include <exception>

namespace zrq406 {

namespace detail {

std::optional<Failure> failureOf(const std::function<void()>& work) {
    try {
        work();
        return std::nullopt;
    } catch (const OperationRefused& e) {
        return Failure{e.what(), true};
    } catch (const std::exception& e) {
        return Failure{e.what(), false};
    } catch (...) {
        return Failure{"unknown error", false};
    }
}

void finishOperation(BusyWindow& window, std::shared_ptr<void>& operation, const std::optional<Failure>& failure) {
    // The operation ends before the busy state does: whatever waited for the window (a device arrival, the next
    // operation of `done`) finds the adapters free.
    operation.reset();
    window.busyState(BusyWindow::Leave);
    if (failure && failure->refused)
        window.operationRefused(failure->what);
    else if (failure)
        window.operationFailed(failure->what);
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
