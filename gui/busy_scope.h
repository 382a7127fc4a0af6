#pragma once

#include <QObject>
#include <memory>
#include <string>

namespace zrq406 {

class WorkerRunner;

// A window that locks the user out while a device operation runs (the main window's UM_BUSYSTATE), and whose own
// periodic work (the rescan, the reopening of adapters after a device arrival) waits while a modal dialog or an
// operation holds it.
class BusyWindow {
public:
    enum State { StartTimer = 0, Enter = 1, Leave = 2 };

    virtual ~BusyWindow() = default;
    // Runs on the window thread: 0 starts the scan timer unless the window is held, 1 enters the busy state (which
    // holds the window), 2 leaves it.
    virtual void busyState(int state) = 0;
    // The object whose thread is the window thread.
    virtual QObject* windowObject() = 0;
    // Window thread: a dialog or an operation holds the window. While any hold lasts the scan timer stays stopped
    // and a device arrival waits; the last release restarts the timer or does what waited.
    virtual void holdWindow() = 0;
    virtual void releaseWindow() = 0;
    // Window thread: takes the program's one device operation, held until the returned object goes; nothing, after
    // telling the user, when another operation runs.
    virtual std::shared_ptr<void> beginOperation() = 0;
    // Window thread: an operation's worker failed unexpectedly; `what` says how.
    virtual void operationFailed(const std::string& what) = 0;
    // Window thread: an operation's worker refused to go on (OperationRefused); `why` is the user's text.
    virtual void operationRefused(const std::string& why) { operationFailed(why); }
    // The workers of the window's device operations.
    virtual WorkerRunner& workers() = 0;
};

// Holds a window while a modal dialog or a message box of an action is open, so that no rescan starts under it
// and no device arrival reopens the adapters meanwhile. Window thread only.
class WindowHold {
public:
    explicit WindowHold(BusyWindow& window) : m_window(window) { m_window.holdWindow(); }
    ~WindowHold() { m_window.releaseWindow(); }
    WindowHold(const WindowHold&) = delete;
    WindowHold& operator=(const WindowHold&) = delete;

private:
    BusyWindow& m_window;
};

} // namespace zrq406
