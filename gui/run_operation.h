#pragma once

#include "gui/busy_scope.h"
#include "gui/worker_runner.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zrq406 {

namespace detail {
// How a worker ended early: what it threw, in words, and whether that was a refusal told in the user's words.
struct Failure {
    std::string what;
    bool refused = false;
};
// Runs `work`, turning anything it throws into a description; empty when it finished.
std::optional<Failure> failureOf(const std::function<void()>& work);
// Window thread, once the worker has ended: ends the operation, leaves the busy state and tells a failure.
void finishOperation(BusyWindow& window, std::shared_ptr<void>& operation, const std::optional<Failure>& failure);
} // namespace detail

// Runs a device operation of `window` on a worker. Window thread only. Takes the program's one operation (false,
// after the window told the user, when another one runs), enters the busy state, and once the worker has ended
// leaves it, tells the user of a failure, and hands `done` the worker's result: nothing when the worker threw or
// its thread could not be started (a failure told as one of the worker).
template <class T>
bool runOperation(BusyWindow& window, std::function<T()> work, std::function<void(std::optional<T>)> done) {
    // One box for the operation, however often the delivery is copied: emptying it ends the operation.
    auto operation = std::make_shared<std::shared_ptr<void>>(window.beginOperation());
    if (!*operation)
        return false;
    window.busyState(BusyWindow::Enter);
    auto result = std::make_shared<std::optional<T>>();
    auto failure = std::make_shared<std::optional<detail::Failure>>();
    // Window thread: the worker's outcome, once it has ended or could not start.
    auto finish = std::make_shared<std::function<void()>>(
        [&window, operation, done = std::move(done), result, failure]() mutable {
            detail::finishOperation(window, *operation, *failure);
            if (done)
                done(std::move(*result));
        });
    window.workers().start(
        [work = std::move(work), result, failure] { *failure = detail::failureOf([&] { *result = work(); }); },
        [finish] { (*finish)(); },
        [finish, failure](const std::string& what) {
            *failure = detail::Failure{what, false};
            (*finish)();
        });
    return true;
}

// The same for an operation that tells its outcome itself; `done` learns whether the worker finished.
bool runOperation(BusyWindow& window, std::function<void()> work, std::function<void(bool)> done = {});

} // namespace zrq406
