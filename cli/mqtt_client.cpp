#include "cli/mqtt_client.h"

#include <mosquitto.h>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace zrq406::cli {

namespace {

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string errorText(int code) {
    return code == MOSQ_ERR_ERRNO ? std::string(strerror(errno)) : std::string(mosquitto_strerror(code));
}

} // namespace

MqttClient::MqttClient(const std::string& clientId, Handlers handlers) : m_handlers(std::move(handlers)) {
    initLibrary();
    m_client = mosquitto_new(clientId.c_str(), true, this);
    if (m_client != nullptr) {
        mosquitto_connect_callback_set(m_client, &MqttClient::onConnect);
        mosquitto_message_callback_set(m_client, &MqttClient::onMessage);
    }
}

MqttClient::~MqttClient() {
    if (m_client != nullptr)
        mosquitto_destroy(m_client);
}

bool MqttClient::configure(const app::MqttAddress& address, const std::optional<std::string>& password,
                           const std::string& caFile, int keepaliveSeconds, const app::MqttMessage& will,
                           std::string& error) {
    if (m_client == nullptr) {
        error = "the MQTT client could not be made";
        return false;
    }
    m_address = address;
    m_keepalive = keepaliveSeconds;
    int code = MOSQ_ERR_SUCCESS;
    if (!address.user.empty())
        code = mosquitto_username_pw_set(m_client, address.user.c_str(), password ? password->c_str() : nullptr);
    if (code == MOSQ_ERR_SUCCESS && address.tls)
        code = mosquitto_tls_set(m_client, caFile.empty() ? nullptr : caFile.c_str(),
                                 caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
    if (code == MOSQ_ERR_SUCCESS)
        code = mosquitto_will_set(m_client, will.topic.c_str(), static_cast<int>(will.payload.size()),
                                  will.payload.data(), 1, will.retained);
    if (code != MOSQ_ERR_SUCCESS) {
        error = errorText(code);
        return false;
    }
    return true;
}

bool MqttClient::connect(std::string& error) {
    const int code = mosquitto_connect_async(m_client, m_address.host.c_str(), m_address.port, m_keepalive);
    if (code != MOSQ_ERR_SUCCESS) {
        error = errorText(code);
        return false;
    }
    return true;
}

void MqttClient::disconnect() {
    mosquitto_disconnect(m_client);
}

int MqttClient::socket() const {
    return mosquitto_socket(m_client);
}

bool MqttClient::wantWrite() const {
    return mosquitto_want_write(m_client);
}

bool MqttClient::service(bool readable, bool writable, std::string& error) {
    int code = MOSQ_ERR_SUCCESS;
    if (readable)
        code = mosquitto_loop_read(m_client, 1);
    if (code == MOSQ_ERR_SUCCESS && (writable || wantWrite()))
        code = mosquitto_loop_write(m_client, 1);
    if (code == MOSQ_ERR_SUCCESS)
        code = mosquitto_loop_misc(m_client);
    if (code != MOSQ_ERR_SUCCESS) {
        error = errorText(code);
        return false;
    }
    return true;
}

bool MqttClient::publish(const app::MqttMessage& message, int qos) {
    return mosquitto_publish(m_client, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                             message.payload.data(), qos, message.retained) == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const std::string& pattern) {
    return mosquitto_subscribe(m_client, nullptr, pattern.c_str(), 1) == MOSQ_ERR_SUCCESS;
}

void MqttClient::onConnect(mosquitto*, void* self, int code) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->m_handlers.connected)
        client->m_handlers.connected(code);
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (!client->m_handlers.message || message == nullptr || message->topic == nullptr)
        return;
    const std::string payload =
        message->payload != nullptr && message->payloadlen > 0
            ? std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen))
            : std::string();
    client->m_handlers.message(message->topic, payload, message->retain);
}

} // namespace zrq406::cli
