#pragma once

#include "app/monitor_config.h"
#include "app/monitor_payloads.h"

#include <functional>
#include <optional>
#include <string>

struct mosquitto;
struct mosquitto_message;

namespace zrq406::cli {

// A thin wrapper of libmosquitto for one event loop: the loop polls socket() and calls service(); the handlers
// are called from within service(), on the loop's thread.
class MqttClient {
public:
    struct Handlers {
        std::function<void(int code)> connected; // 0, or the broker's reason for refusing
        std::function<void(const std::string& topic, const std::string& payload, bool retained)> message;
    };

    MqttClient(const std::string& clientId, Handlers handlers);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Sets the user, password, TLS, keepalive and the retained last will; false with `error` on failure.
    bool configure(const app::MqttAddress& address, const std::optional<std::string>& password,
                   const std::string& caFile, int keepaliveSeconds, const app::MqttMessage& will, std::string& error);
    // Starts connecting without waiting for the broker (closing any socket left of an earlier attempt); the
    // connected handler tells the outcome.
    bool connect(std::string& error);
    // Sends a goodbye after what is queued; the broker then keeps the last will to itself.
    void disconnect();

    int socket() const;
    bool wantWrite() const;
    // Reads and writes what the socket allows and keeps the connection alive; false when the connection is gone.
    bool service(bool readable, bool writable, std::string& error);

    bool publish(const app::MqttMessage& message, int qos);
    bool subscribe(const std::string& pattern);

private:
    static void onConnect(mosquitto* client, void* self, int code);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);

    mosquitto* m_client = nullptr;
    Handlers m_handlers;
    app::MqttAddress m_address;
    int m_keepalive = 30;
};

} // namespace zrq406::cli
