#pragma once

#include <QObject>

namespace zrq406 {

// A window that locks the user out while a device operation runs (the main window's UM_BUSYSTATE).
class BusyWindow {
public:
    enum State { StartTimer = 0, Enter = 1, Leave = 2 };

    virtual ~BusyWindow() = default;
    // Runs on the window thread: 0 starts the scan timer, 1 enters the busy state, 2 leaves it.
    virtual void busyState(int state) = 0;
    // The object whose thread is the window thread.
    virtual QObject* windowObject() = 0;
};

// Sends UM_BUSYSTATE from any thread: a blocking call into the window thread.
void sendBusyState(BusyWindow& window, int state);

// Holds the busy state for a device operation: entered when the scope is made, left (and the scan timer started)
// when it ends, on every path out of the operation.
class BusyScope {
public:
    // Marks a busy state that the window thread entered before it started the worker (so that no second click
    // can start a second operation meanwhile).
    struct Adopt {};

    explicit BusyScope(BusyWindow& window);
    BusyScope(BusyWindow& window, Adopt);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

    // Leaves the busy state now; with `startTimer` the scan timer starts again.
    void leave(bool startTimer = true);

private:
    BusyWindow& m_window;
    bool m_held = true;
};

} // namespace zrq406
