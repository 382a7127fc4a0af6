#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace zrq406::test {

// Debian's mosquitto broker, started for one test on 127.0.0.1 with a free port and its own configuration file in
// `folder` (never the system service), without persistence. With a user, it takes that user's password only.
class TestBroker {
public:
    explicit TestBroker(std::filesystem::path folder, std::string user = {}, std::string password = {});
    ~TestBroker();
    TestBroker(const TestBroker&) = delete;
    TestBroker& operator=(const TestBroker&) = delete;

    static bool available();
    // Starts the broker (again, on the same port) and waits until it takes connections; false when it did not.
    bool start();
    void stop();
    int port() const { return m_port; }

private:
    std::filesystem::path m_folder;
    int m_port = 0;
    pid_t m_pid = -1;
};

// One message as the subscriber received it.
struct ReceivedMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
};

// A subscriber to everything on the broker, on libmosquitto's own thread; it reconnects after a broker restart.
class TestSubscriber {
public:
    TestSubscriber(int port, std::string user = {}, std::string password = {});
    ~TestSubscriber();
    TestSubscriber(const TestSubscriber&) = delete;
    TestSubscriber& operator=(const TestSubscriber&) = delete;

    // Waits until `done` holds for the messages received so far; false after `timeout`.
    bool waitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Waits for a message on `topic` with that payload (any payload when empty), received after `from` messages.
    bool waitForMessage(const std::string& topic, const std::string& payload = {}, std::size_t from = 0,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // The last payload received on `topic` ("" when none).
    std::string last(const std::string& topic);
    std::vector<ReceivedMessage> messages();
    std::size_t count();
    void publish(const std::string& topic, const std::string& payload, bool retained = false);

private:
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onConnect(mosquitto*, void* self, int code);

    mosquitto* m_client = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ReceivedMessage> m_messages;
};

// A program started with its arguments and environment additions; standard error goes to `logFile`.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                 const std::filesystem::path& logFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void signal(int number);
    // Waits for the end: the exit status (as waitpid gives it), or -1 after `timeout`.
    int wait(std::chrono::milliseconds timeout);
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// Runs a program to its end and returns its standard output.
std::string runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                       int* exitStatus = nullptr);

} // namespace zrq406::test
