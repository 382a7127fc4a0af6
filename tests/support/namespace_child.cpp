#include "tests/support/namespace_child.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zrq406::testsupport {

std::unique_ptr<NamespaceChild> NamespaceChild::start(const NetnsVeth& veth, const Body& body, std::string& error) {
    int toChild[2];
    int toParent[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    if (::pipe2(toParent, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(toChild[0]);
        ::close(toChild[1]);
        return nullptr;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        for (const int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
            ::close(fd);
        return nullptr;
    }
    if (pid == 0) {
        ::close(toChild[1]);
        ::close(toParent[0]);
        int code = 3;
        {
            LineChannel channel(toChild[0], toParent[1]);
            std::string reason;
            if (veth.enter(reason))
                code = body(channel);
            else
                channel.sendLine("error " + reason);
        }
        // No return into the test framework: the child ends here, without running the parent's exit handlers.
        ::_exit(code);
    }
    ::close(toChild[0]);
    ::close(toParent[1]);
    return std::unique_ptr<NamespaceChild>(
        new NamespaceChild(pid, std::make_unique<LineChannel>(toParent[0], toChild[1])));
}

NamespaceChild::NamespaceChild(pid_t pid, std::unique_ptr<LineChannel> channel)
    : m_pid(pid), m_channel(std::move(channel)) {}

NamespaceChild::~NamespaceChild() {
    if (!m_reaped) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

int NamespaceChild::wait(std::chrono::steady_clock::time_point deadline) {
    if (m_reaped)
        return -1;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_reaped = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0 && errno != EINTR) {
            m_reaped = true;
            return -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            m_reaped = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace zrq406::testsupport
