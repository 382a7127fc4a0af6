#include "gui/busy_scope.h"

#include "gui/window_thread.h"

namespace zrq406 {

void sendBusyState(BusyWindow& window, int state) {
    callOnThread(window.windowObject(), [&window, state] { window.busyState(state); });
}

BusyScope::BusyScope(BusyWindow& window) : m_window(window) {
    sendBusyState(m_window, BusyWindow::Enter);
}

BusyScope::BusyScope(BusyWindow& window, Adopt) : m_window(window) {}

BusyScope::~BusyScope() {
    leave();
}

void BusyScope::leave(bool startTimer) {
    if (!m_held)
        return;
    m_held = false;
    sendBusyState(m_window, BusyWindow::Leave);
    if (startTimer)
        sendBusyState(m_window, BusyWindow::StartTimer);
}

} // namespace zrq406
