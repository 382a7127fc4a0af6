#include "tests/support/netns_veth.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zrq406::testsupport {

namespace {

std::atomic<int> g_pairsMade{0};

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The kernel brings a veth end's queue up a little after `ip link set up` returns; frames sent earlier vanish.
void waitUntilUp(const std::string& interfaceName) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in("/sys/class/net/" + interfaceName + "/operstate");
        std::string state;
        in >> state;
        if (state == "up")
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Namespaces left by an earlier run that died before it could clean up (its process is gone). Deleting the
// namespace also removes the veth pair, whose peer end lives in it.
void removeStaleNamespaces() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/var/run/netns", error)) {
        const std::string name = entry.path().filename().string();
        unsigned long pid = 0;
        unsigned long serial = 0;
        char tail = 0;
        if (std::sscanf(name.c_str(), "zrq406-%lu-%lu%c", &pid, &serial, &tail) != 2 || pid == 0)
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        std::string output;
        NetnsVeth::run({"ip", "netns", "del", name}, output);
    }
}

} // namespace

bool NetnsVeth::run(const std::vector<std::string>& command, std::string& output) {
    output.clear();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        output = std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        output = command.front() + ": " + std::strerror(spawned);
        return false;
    }
    char chunk[1024];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        output.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    output = trimmed(output);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::unique_ptr<NetnsVeth> NetnsVeth::create(std::string& reason) {
    if (::geteuid() != 0) {
        reason = "needs root: the test creates a network namespace and a veth pair";
        return nullptr;
    }
    removeStaleNamespaces();
    const std::string pid = std::to_string(::getpid());
    const std::string serial = std::to_string(g_pairsMade++);
    std::unique_ptr<NetnsVeth> veth(new NetnsVeth());
    veth->m_namespace = "zrq406-" + pid + "-" + serial;
    // Interface names hold at most 15 characters: "zqh" + up to 7 digits of pid + "n" + serial.
    veth->m_hostEnd = "zqh" + pid + "n" + serial;
    veth->m_peerEnd = "zqp" + pid + "n" + serial;
    std::string output;
    if (!run({"ip", "netns", "add", veth->m_namespace}, output)) {
        reason = "network namespaces are not permitted here (ip netns add: " + output + ")";
        return nullptr;
    }
    veth->m_namespaceMade = true;
    if (!run({"ip", "link", "add", veth->m_hostEnd, "type", "veth", "peer", "name", veth->m_peerEnd}, output)) {
        reason = "cannot create a veth pair (ip link add: " + output + ")";
        return nullptr;
    }
    veth->m_pairMade = true;
    if (!run({"ip", "link", "set", veth->m_peerEnd, "netns", veth->m_namespace}, output) ||
        !run({"ip", "link", "set", veth->m_hostEnd, "up"}, output) ||
        !run({"ip", "-n", veth->m_namespace, "link", "set", veth->m_peerEnd, "up"}, output)) {
        reason = "cannot set up the veth pair: " + output;
        return nullptr;
    }
    waitUntilUp(veth->m_hostEnd);
    return veth;
}

NetnsVeth::~NetnsVeth() {
    std::string output;
    // Deleting either end removes both; the namespace goes last.
    if (m_pairMade)
        run({"ip", "link", "del", m_hostEnd}, output);
    if (m_namespaceMade)
        run({"ip", "netns", "del", m_namespace}, output);
}

bool NetnsVeth::enter(std::string& error) const {
    const std::string path = "/var/run/netns/" + m_namespace;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const int joined = ::setns(fd, CLONE_NEWNET);
    const int joinError = errno;
    ::close(fd);
    if (joined != 0) {
        error = "setns: " + std::string(std::strerror(joinError));
        return false;
    }
    // sysfs shows the interfaces of the namespace it was mounted in, so the child mounts its own.
    if (::unshare(CLONE_NEWNS) != 0) {
        error = "unshare(CLONE_NEWNS): " + std::string(std::strerror(errno));
        return false;
    }
    if (::mount("", "/", nullptr, MS_SLAVE | MS_REC, nullptr) != 0) {
        error = "mount --make-rslave /: " + std::string(std::strerror(errno));
        return false;
    }
    ::umount2("/sys", MNT_DETACH);
    if (::mount(m_namespace.c_str(), "/sys", "sysfs", 0, nullptr) != 0 &&
        ::mount(m_namespace.c_str(), "/sys", "sysfs", MS_RDONLY, nullptr) != 0) {
        error = "mount sysfs: " + std::string(std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace zrq406::testsupport
