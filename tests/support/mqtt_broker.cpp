#include "tests/support/mqtt_broker.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zrq406::test {

namespace {

constexpr const char* kBroker = "/usr/sbin/mosquitto";

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool takesConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
            int outFd, int errFd) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        if (outFd >= 0)
            ::dup2(outFd, STDOUT_FILENO);
        if (errFd >= 0)
            ::dup2(errFd, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& word : argv)
            args.push_back(const_cast<char*>(word.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

} // namespace

TestBroker::TestBroker(std::filesystem::path folder, std::string user, std::string password)
    : m_folder(std::move(folder)), m_port(freePort()) {
    std::filesystem::create_directories(m_folder);
    std::ofstream config(m_folder / "mosquitto.conf");
    config << "listener " << m_port << " 127.0.0.1\n"
           << "persistence false\n"
           << "log_dest stderr\n";
    // Started by root, the broker would change to its own user, which may not read this test's folder.
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr)
        config << "user " << entry->pw_name << "\n";
    if (user.empty()) {
        config << "allow_anonymous true\n";
    } else {
        const auto passwords = m_folder / "passwords";
        runProgram({"/usr/bin/mosquitto_passwd", "-b", "-c", passwords.string(), user, password}, {});
        config << "allow_anonymous false\npassword_file " << passwords.string() << "\n";
    }
}

TestBroker::~TestBroker() {
    stop();
}

bool TestBroker::available() {
    return ::access(kBroker, X_OK) == 0;
}

bool TestBroker::start() {
    stop();
    const int log = ::open((m_folder / "broker.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    m_pid = spawn({kBroker, "-c", (m_folder / "mosquitto.conf").string()}, {}, log, log);
    ::close(log);
    for (int i = 0; i < 200; ++i) {
        if (takesConnections(m_port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

void TestBroker::stop() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

TestSubscriber::TestSubscriber(int port, std::string user, std::string password) {
    mosquitto_lib_init();
    m_client = mosquitto_new(nullptr, true, this);
    if (!user.empty())
        mosquitto_username_pw_set(m_client, user.c_str(), password.c_str());
    mosquitto_connect_callback_set(m_client, &TestSubscriber::onConnect);
    mosquitto_message_callback_set(m_client, &TestSubscriber::onMessage);
    mosquitto_reconnect_delay_set(m_client, 1, 1, false);
    mosquitto_connect(m_client, "127.0.0.1", port, 10);
    mosquitto_loop_start(m_client);
}

TestSubscriber::~TestSubscriber() {
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, true);
    mosquitto_destroy(m_client);
}

void TestSubscriber::onConnect(mosquitto* client, void*, int code) {
    if (code == 0)
        mosquitto_subscribe(client, nullptr, "#", 1);
}

void TestSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* subscriber = static_cast<TestSubscriber*>(self);
    std::lock_guard lock(subscriber->m_mutex);
    subscriber->m_messages.push_back(
        {message->topic,
         std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen)),
         message->retain});
    subscriber->m_changed.notify_all();
}

bool TestSubscriber::waitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
                             std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(m_messages); });
}

bool TestSubscriber::waitForMessage(const std::string& topic, const std::string& payload, std::size_t from,
                                    std::chrono::milliseconds timeout) {
    return waitFor(
        [&](const std::vector<ReceivedMessage>& messages) {
            for (std::size_t i = from; i < messages.size(); ++i)
                if (messages[i].topic == topic && (payload.empty() || messages[i].payload == payload))
                    return true;
            return false;
        },
        timeout);
}

std::string TestSubscriber::last(const std::string& topic) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_messages.rbegin(); it != m_messages.rend(); ++it)
        if (it->topic == topic)
            return it->payload;
    return {};
}

std::vector<ReceivedMessage> TestSubscriber::messages() {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::size_t TestSubscriber::count() {
    std::lock_guard lock(m_mutex);
    return m_messages.size();
}

void TestSubscriber::publish(const std::string& topic, const std::string& payload, bool retained) {
    mosquitto_publish(m_client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                      retained);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                           const std::filesystem::path& logFile) {
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_pid = spawn(argv, environment, log, log);
    ::close(log);
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && wait(std::chrono::milliseconds(0)) == -1) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void ChildProcess::signal(int number) {
    if (m_pid > 0)
        ::kill(m_pid, number);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return status;
        }
        if (std::chrono::steady_clock::now() >= end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                       int* exitStatus) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = spawn(argv, environment, pipeFds[1], -1);
    ::close(pipeFds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (exitStatus != nullptr)
        *exitStatus = status;
    return out;
}

} // namespace zrq406::test
