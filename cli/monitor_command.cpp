#include "app/monitor_commands.h"
#include "app/monitor_config.h"
#include "app/monitor_scanner.h"
#include "app/upgrade_offer.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "cli/mqtt_client.h"
#include "mme/upgrade_file.h"
#include "platform/display_text.h"
#include "platform/program_version.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <ostream>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace zrq406::cli {

namespace {

using Clock = std::chrono::steady_clock;

// SIGTERM and SIGINT arrive on a descriptor that the loop polls, so that every wait of the loop ends with them.
// They are blocked before the session starts its threads, which inherit the mask.
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGTERM);
        sigaddset(&m_set, SIGINT);
        pthread_sigmask(SIG_BLOCK, &m_set, &m_old);
        m_fd = signalfd(-1, &m_set, SFD_CLOEXEC | SFD_NONBLOCK);
        // A broker that goes away mid-write is a lost connection, not the end of the program.
        std::signal(SIGPIPE, SIG_IGN);
    }
    ~StopSignals() {
        if (m_fd >= 0)
            ::close(m_fd);
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    int fd() const { return m_fd; }

private:
    sigset_t m_set{};
    sigset_t m_old{};
    int m_fd = -1;
};

class Log {
public:
    explicit Log(std::ostream& err) : m_err(err) {}
    void operator()(const std::string& line) { m_err << "zrq406 monitor: " << line << std::endl; }

private:
    std::ostream& m_err;
};

// The configuration files, then the command line over them.
std::optional<app::MonitorConfig> monitorConfig(const GlobalOptions& options, const MonitorRequest& request,
                                                Log& log) {
    app::MonitorConfig config;
    for (const auto& file : app::monitorConfigFiles())
        if (const auto read = app::applyMonitorConfigFile(config, file); !read) {
            log(read.error);
            return std::nullopt;
        }
    config.intervalSeconds = request.interval.value_or(config.intervalSeconds);
    config.keepaliveSeconds = request.keepalive.value_or(config.keepaliveSeconds);
    config.forgetAfterDays = request.forgetAfter.value_or(config.forgetAfterDays);
    config.mqtt = request.mqtt.value_or(config.mqtt);
    config.mqttCa = request.mqttCa.value_or(config.mqttCa);
    if (request.passwordFile) {
        config.passwordFile = *request.passwordFile;
        config.password.clear();
    }
    config.mqttPrefix = request.mqttPrefix.value_or(config.mqttPrefix);
    config.discoveryPrefix = request.discoveryPrefix.value_or(config.discoveryPrefix);
    if (!options.link.interfaceName.empty())
        config.interfaceName = options.link.interfaceName;
    if (const auto checked = app::checkMonitorConfig(config); !checked) {
        log(checked.error);
        return std::nullopt;
    }
    return config;
}

// The version texts of the upgrade files present, for the update entities.
std::vector<std::string> upgradeVersions() {
    std::vector<std::string> versions;
    for (const auto& file : app::firmwareImageFiles()) {
        std::string version;
        if (mme::CheckUpgradeFile(file.string(), version) == 0)
            versions.push_back(version);
    }
    return versions;
}

} // namespace

int runMonitor(const GlobalOptions& given, const MonitorRequest& request, Output& io) {
    Log log(io.err);
    const auto config = monitorConfig(given, request, log);
    if (!config)
        return kBadInput;
    std::optional<std::string> password;
    if (const auto read = app::readMonitorPassword(*config, password); !read) {
        log(read.error);
        return kBadInput;
    }
    std::string error;
    const app::MqttAddress address = *app::parseMqttAddress(config->mqtt, error);

    StopSignals signals;
    GlobalOptions options = given;
    options.link.interfaceName = config->interfaceName;
    Texts texts(options, io.err);
    app::Session session(texts.messages(), texts.settings());
    if (!options.historyPath.empty())
        session.registry().setHistoryPath(options.historyPath);
    if (auto code = openSession(session, options, io))
        return *code;

    app::MonitorIdentity identity;
    identity.mqttPrefix = config->mqttPrefix;
    identity.discoveryPrefix = config->discoveryPrefix;
    identity.version = std::string(programVersion());
    if (session.adapters().count() > 0)
        identity.host = session.adapters().record(std::max(session.onlyAdapter(), 0)).hostMac;
    app::MonitorScanner scanner(session, identity, config->forgetAfterDays, upgradeVersions());

    bool connected = false;
    bool connecting = false;
    bool republish = false;
    app::Backoff backoff;
    app::CommandQueue commands;
    Clock::time_point nextConnect = Clock::now();
    Clock::time_point connectStarted;
    const app::MqttMessage online{app::statusTopic(identity), "online", true};
    const app::MqttMessage offline{app::statusTopic(identity), "offline", true};

    MqttClient client(
        "zrq406-" + app::monitorNode(identity),
        {[&](int code) {
             connecting = false;
             if (code != 0) {
                 log("the broker refused the connection (" + std::to_string(code) +
                     (code == 4 || code == 5 ? ": user name or password not accepted" : "") + ")");
                 return;
             }
             connected = true;
             backoff.reset();
             log("connected to " + address.host + ":" + std::to_string(address.port));
             client.publish(online, 1);
             client.subscribe(app::commandSubscription(identity));
             client.subscribe(app::homeAssistantStatusTopic(identity));
             republish = true;
         },
         [&](const std::string& topic, const std::string& payload, bool retained) {
             if (topic == app::homeAssistantStatusTopic(identity)) {
                 republish = republish || payload == "online";
                 return;
             }
             const app::CheckedCommand checked =
                 app::checkCommand(identity.mqttPrefix, topic, payload, retained, scanner.answering());
             if (checked.check != app::CommandCheck::Accepted)
                 log("command ignored: " + checked.reason);
             else if (!commands.push(checked.command))
                 log("command for " + checked.command.device.text() + " refused: " +
                     std::to_string(app::CommandQueue::kCapacity) + " commands are waiting already");
         }});
    if (!client.configure(address, password, config->mqttCa, config->keepaliveSeconds, offline, error)) {
        log(error);
        return kRefused;
    }

    const auto publish = [&](const app::MonitorStep& step) {
        for (const std::string& line : step.log)
            log(line);
        // While the broker is away nothing is kept: on reconnect the current state goes out, not a backlog.
        if (connected)
            for (const app::MqttMessage& message : step.messages)
                client.publish(message, message.retained ? 1 : 0);
    };
    const auto lost = [&](const std::string& why) {
        const auto wait = backoff.next();
        log("the broker at " + address.host + ":" + std::to_string(address.port) + " is not reachable (" + why +
            "); trying again in " + std::to_string(wait.count()) + " s");
        connected = false;
        connecting = false;
        nextConnect = Clock::now() + wait;
    };

    const auto interval = session.pacing().scaled(config->intervalSeconds * 1000.0);
    Clock::time_point nextScan = Clock::now();
    log("scanning every " + std::to_string(config->intervalSeconds) + " s, publishing to " + address.host + ":" +
        std::to_string(address.port) + " under " + identity.mqttPrefix);
    for (;;) {
        Clock::time_point now = Clock::now();
        if (!connected && !connecting && now >= nextConnect) {
            if (client.connect(error)) {
                connecting = true;
                connectStarted = now;
            } else {
                lost(error);
            }
        }
        // A broker that takes the connection but never answers it is given up after one keepalive.
        if (connecting && now - connectStarted > std::chrono::seconds(config->keepaliveSeconds))
            lost("no answer");
        if (now >= nextScan) {
            publish(scanner.scan(std::time(nullptr)));
            nextScan = std::max(nextScan + interval, Clock::now());
        } else if (const auto command = commands.pop()) {
            publish(scanner.run(*command));
        }
        if (republish && connected) {
            republish = false;
            publish(scanner.everything());
        }

        now = Clock::now();
        auto until = nextScan;
        if (!connected && !connecting)
            until = std::min(until, nextConnect);
        // The client's keepalive needs a turn at least once a second.
        until = std::min(until, now + std::chrono::seconds(1));
        if (!commands.empty())
            until = now;
        const int timeout = static_cast<int>(
            std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
        pollfd fds[2] = {{signals.fd(), POLLIN, 0}, {client.socket(), 0, 0}};
        const bool polled = (connected || connecting) && fds[1].fd >= 0;
        if (polled)
            fds[1].events = static_cast<short>(POLLIN | (client.wantWrite() ? POLLOUT : 0));
        ::poll(fds, polled ? 2 : 1, timeout);
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo taken{};
            // Taken off the descriptor, the signal is not delivered again when the mask is put back.
            [[maybe_unused]] const auto read = ::read(signals.fd(), &taken, sizeof taken);
            break;
        }
        if (connected || connecting) {
            const bool readable = polled && (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
            const bool writable = polled && (fds[1].revents & POLLOUT) != 0;
            error.clear();
            if (!client.service(readable, writable, error) || client.socket() < 0)
                lost(error.empty() ? "connection closed" : error);
        }
    }

    log("stopping");
    if (connected) {
        client.publish(offline, 1);
        client.disconnect();
        // The goodbye gets at most a second; the history is already whole, each scan one transaction.
        const auto end = Clock::now() + std::chrono::seconds(1);
        while (client.socket() >= 0 && client.wantWrite() && Clock::now() < end) {
            pollfd fd{client.socket(), POLLOUT, 0};
            ::poll(&fd, 1, 100);
            if (!client.service(false, true, error))
                break;
        }
    }
    return kDone;
}

} // namespace zrq406::cli
