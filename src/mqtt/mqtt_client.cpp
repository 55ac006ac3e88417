#include "mqtt/mqtt_client.h"

#include <mosquitto.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>

#include "base/errno_text.h"

namespace zol::mqtt {
namespace {

constexpr int kNetworkWaitMs = 1000;  // also how often the keep-alive is checked

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string ResultText(int rc, int savedErrno) {
  if (rc == MOSQ_ERR_ERRNO) return ErrnoText(savedErrno);
  if (rc == MOSQ_ERR_KEEPALIVE) return "no answer within the keep-alive";
  if (rc == MOSQ_ERR_CONN_LOST) return "connection lost";
  if (rc == MOSQ_ERR_EAI) return "the host name could not be looked up";
  std::string text = mosquitto_strerror(rc);
  while (!text.empty() && text.back() == '.')
    text.pop_back();
  if (!text.empty()) text.front() = static_cast<char>(std::tolower(text.front()));
  return text;
}

}  // namespace

std::string ConnectRefusal(int code) {
  std::string text = mosquitto_connack_string(code);
  while (!text.empty() && text.back() == '.')
    text.pop_back();
  return text;
}

// The library's callbacks, on the network thread.
struct Client::Callbacks {
  static Client& Of(void* self) { return *static_cast<Client*>(self); }

  static void Connect(mosquitto*, void* self, int rc, int flags) {
    Client& client = Of(self);
    if (rc != 0) {
      client.refusal_ = ConnectRefusal(rc);
      return;
    }
    client.retrySeconds_ = client.options_.firstRetrySeconds;
    client.connected_ = true;
    client.SubscribeAll();
    if (client.callbacks_.connected) client.callbacks_.connected((flags & 1) != 0);
  }
  static void Publish(mosquitto*, void* self, int mid) {
    Client& client = Of(self);
    if (client.callbacks_.acknowledged) client.callbacks_.acknowledged(mid);
  }
  static void Message(mosquitto*, void* self, const mosquitto_message* message) {
    Client& client = Of(self);
    if (!client.callbacks_.message || message->topic == nullptr) return;
    const std::string_view payload(static_cast<const char*>(message->payload),
                                   static_cast<size_t>(std::max(message->payloadlen, 0)));
    client.callbacks_.message(message->topic, payload);
  }
  // The TLS layer's errors arrive only here; the first one of an attempt
  // says why it failed.
  static void Log(mosquitto*, void* self, int level, const char* text) {
    Client& client = Of(self);
    if (level == MOSQ_LOG_ERR && client.refusal_.empty() && text != nullptr) client.refusal_ = text;
  }
};

Client::Client(ClientOptions options, ClientCallbacks callbacks)
    : options_(std::move(options)), callbacks_(std::move(callbacks)) {
  retrySeconds_ = options_.firstRetrySeconds;
}

Client::~Client() {
  Stop();
}

bool Client::Start(std::string* error) {
  InitLibrary();
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    *error = e.what();
    return false;
  }
  return true;
}

bool Client::Connected() const {
  return connected_;
}

int Client::Publish(std::string_view topic, std::string_view payload, int qos, bool retain) {
  const std::string name(topic);
  std::lock_guard lock(mutex_);
  if (handle_ == nullptr || !connected_ || stopping_) return -1;
  int mid = -1;
  const int rc = mosquitto_publish(handle_, &mid, name.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), qos, retain);
  return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

void Client::Subscribe(std::string topic, int qos) {
  {
    std::lock_guard lock(subscriptionsMutex_);
    subscriptions_.emplace_back(topic, qos);
  }
  std::lock_guard lock(mutex_);
  if (handle_ != nullptr && connected_) mosquitto_subscribe(handle_, nullptr, topic.c_str(), qos);
}

void Client::SubscribeAll() {
  std::vector<std::pair<std::string, int>> topics;
  {
    std::lock_guard lock(subscriptionsMutex_);
    topics = subscriptions_;
  }
  for (const auto& [topic, qos] : topics)
    mosquitto_subscribe(handle_, nullptr, topic.c_str(), qos);
}

void Client::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Queues DISCONNECT and wakes the network wait.
    if (handle_ != nullptr) mosquitto_disconnect(handle_);
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Client::Run() {
  for (;;) {
    std::string reason;
    if (Connect(&reason)) reason = Serve();
    connected_ = false;
    CloseConnection();
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    if (callbacks_.disconnected) callbacks_.disconnected(reason);
    if (!PauseBeforeRetry()) return;
  }
}

bool Client::Connect(std::string* reason) {
  refusal_.clear();
  mosquitto* handle = mosquitto_new(options_.clientId.c_str(), false, this);
  if (handle == nullptr) {
    *reason = "the client could not be set up";
    return false;
  }
  mosquitto_threaded_set(handle, true);
  mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_max_inflight_messages_set(handle, static_cast<unsigned>(options_.maxInFlight));
  mosquitto_connect_with_flags_callback_set(handle, &Callbacks::Connect);
  mosquitto_publish_callback_set(handle, &Callbacks::Publish);
  mosquitto_message_callback_set(handle, &Callbacks::Message);
  mosquitto_log_callback_set(handle, &Callbacks::Log);
  const BrokerSettings& broker = options_.broker;
  int rc = MOSQ_ERR_SUCCESS;
  if (options_.will) {
    const Will& will = *options_.will;
    rc = mosquitto_will_set(handle, will.topic.c_str(), static_cast<int>(will.payload.size()),
                            will.payload.data(), 1, will.retain);
  }
  if (rc == MOSQ_ERR_SUCCESS && broker.credentials) {
    rc = mosquitto_username_pw_set(handle, broker.credentials->user.c_str(),
                                   broker.credentials->password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && broker.url.tls) {
    if (broker.caFile.empty()) {
      rc = mosquitto_int_option(handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
      rc = mosquitto_tls_set(handle, broker.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  {
    std::lock_guard lock(mutex_);
    handle_ = handle;
    if (stopping_) return false;
  }
  if (rc == MOSQ_ERR_SUCCESS) {
    // Non-blocking: the TCP and TLS handshakes go on in the network wait.
    errno = 0;
    rc = mosquitto_connect_async(handle, broker.url.host.c_str(), broker.url.port,
                                 options_.keepAliveSeconds);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    *reason = refusal_.empty() ? ResultText(rc, errno) : refusal_;
    return false;
  }
  return true;
}

// Runs the library's network loop until the connection ends or a stop.
std::string Client::Serve() {
  for (;;) {
    errno = 0;
    const int rc = mosquitto_loop(handle_, kNetworkWaitMs, 1);
    const int savedErrno = errno;
    bool stopping = false;
    {
      std::lock_guard lock(mutex_);
      stopping = stopping_;
    }
    if (stopping) {
      // The DISCONNECT queued by Stop, when the socket takes it at once.
      if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(handle_)) mosquitto_loop(handle_, 0, 1);
      return "";
    }
    if (rc != MOSQ_ERR_SUCCESS) return refusal_.empty() ? ResultText(rc, savedErrno) : refusal_;
  }
}

void Client::CloseConnection() {
  std::lock_guard lock(mutex_);
  if (handle_ == nullptr) return;
  mosquitto_destroy(handle_);
  handle_ = nullptr;
}

// False when a stop came during the pause.
bool Client::PauseBeforeRetry() {
  std::unique_lock lock(mutex_);
  const bool stopped =
      wake_.wait_for(lock, std::chrono::seconds(retrySeconds_), [this] { return stopping_; });
  retrySeconds_ = std::min(retrySeconds_ * 2, options_.lastRetrySeconds);
  return !stopped;
}

}  // namespace zol::mqtt
