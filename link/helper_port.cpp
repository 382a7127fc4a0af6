#include "link/helper_port.h"

#include "link/helper_frames.h"
#include "link/host_interfaces.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zrq406::link {

namespace {

// Opening an interface takes the helper a few milliseconds; a helper that says nothing for this long is stuck.
constexpr int kStartTimeoutMs = 5000;

void endHelper(pid_t helper) {
    ::kill(helper, SIGTERM);
    int status = 0;
    while (::waitpid(helper, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

std::unique_ptr<HelperPort> HelperPort::open(const std::filesystem::path& helper, const std::string& interfaceName,
                                             std::string& error) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        error = interfaceName + ": cannot create a socket pair: " + std::strerror(errno);
        return nullptr;
    }
    // The helper finds its end on a fixed descriptor; dup2 in the child clears close-on-exec on that one only.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], helper::kChannelFd);
    const std::string path = helper.string();
    std::vector<char*> argv{const_cast<char*>(path.c_str()), const_cast<char*>(interfaceName.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        error = interfaceName + ": cannot start " + path + ": " + std::strerror(spawned);
        return nullptr;
    }

    std::array<std::uint8_t, helper::kMaxMessage> answer{};
    pollfd waiting{pair[0], POLLIN, 0};
    ssize_t length = -1;
    if (::poll(&waiting, 1, kStartTimeoutMs) > 0)
        length = ::recv(pair[0], answer.data(), answer.size(), 0);
    if (length < 1 || answer[0] != helper::kReady) {
        ::close(pair[0]);
        endHelper(pid);
        if (length > 1 && answer[0] == helper::kError)
            error = std::string(reinterpret_cast<const char*>(answer.data() + 1), static_cast<std::size_t>(length - 1));
        else
            error = interfaceName + ": the frame helper " + path + " ended without opening the interface";
        return nullptr;
    }
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        ::close(pair[0]);
        endHelper(pid);
        error = interfaceName + ": cannot create an event descriptor: " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<HelperPort>(new HelperPort(interfaceName, pair[0], wakeFd, pid));
}

HelperPort::HelperPort(std::string interfaceName, int channel, int wakeFd, pid_t helper)
    : m_name(std::move(interfaceName)), m_channel(channel), m_wakeFd(wakeFd), m_helper(helper) {}

HelperPort::~HelperPort() {
    // Closing our end makes the helper read the end of its input and leave; it is reaped here.
    ::close(m_channel);
    int status = 0;
    while (::waitpid(m_helper, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(m_wakeFd);
}

std::optional<MacAddress> HelperPort::hardwareAddress() {
    return interfaceHardwareAddress(m_name);
}

bool HelperPort::setFilter(std::span<const BpfInstruction> program) {
    auto compiled = BpfProgram::compile(program);
    if (!compiled)
        return false;
    std::lock_guard lock(m_filterMutex);
    m_filter = std::move(compiled);
    return true;
}

bool HelperPort::setPromiscuous(bool on) {
    const std::uint8_t value = on ? 1 : 0;
    return sendMessage(helper::kPromiscuous, std::span(&value, 1));
}

bool HelperPort::send(std::span<const std::uint8_t> frame) {
    // The helper refuses other frames silently; saying so here keeps a failed send visible to the caller.
    return helper::passesFrame(frame) && sendMessage(helper::kFrame, frame);
}

bool HelperPort::sendMessage(std::uint8_t kind, std::span<const std::uint8_t> payload) {
    std::array<std::uint8_t, helper::kMaxMessage> message{};
    if (payload.size() + 1 > message.size())
        return false;
    message[0] = kind;
    std::copy(payload.begin(), payload.end(), message.begin() + 1);
    const ssize_t sent = ::send(m_channel, message.data(), payload.size() + 1, MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(payload.size() + 1);
}

int HelperPort::waitReadable(std::chrono::milliseconds timeout) {
    if (m_interrupted.load())
        return -1;
    std::array<pollfd, 2> fds{{{m_channel, POLLIN, 0}, {m_wakeFd, POLLIN, 0}}};
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(timeout.count(), 0)));
    if (m_interrupted.load() || (ready < 0 && errno != EINTR))
        return -1;
    if (ready <= 0)
        return 0;
    if (fds[0].revents & POLLIN)
        return 1;
    // The helper ended: nothing more will come.
    return (fds[0].revents & (POLLHUP | POLLERR)) != 0 ? -1 : 0;
}

int HelperPort::receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::array<std::uint8_t, helper::kMaxMessage> message{};
    for (;;) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int ready = waitReadable(std::max(remaining, std::chrono::milliseconds(0)));
        if (ready <= 0)
            return ready;
        const ssize_t length = ::recv(m_channel, message.data(), message.size(), MSG_DONTWAIT);
        if (length == 0)
            return -1;
        if (length < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return -1;
        }
        if (length < 2 || message[0] != helper::kFrame)
            continue;
        const std::span<const std::uint8_t> frame(message.data() + 1, static_cast<std::size_t>(length - 1));
        std::uint32_t accepted = static_cast<std::uint32_t>(frame.size());
        {
            std::lock_guard lock(m_filterMutex);
            if (m_filter)
                accepted = m_filter->run(frame);
        }
        if (accepted == 0)
            continue;
        const std::size_t copied = std::min<std::size_t>({accepted, frame.size(), buffer.size()});
        std::copy_n(frame.begin(), copied, buffer.begin());
        return static_cast<int>(copied);
    }
}

void HelperPort::interrupt() {
    m_interrupted.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

} // namespace zrq406::link
