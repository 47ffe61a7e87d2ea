#include "mqtt/mqtt_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "core/log.h"
#include "devices/cloexec_scan.h"
#include "mqtt/mosquitto_library.h"

namespace {

// The library's texts end in a full stop; ours sit inside parentheses.
std::string ErrorText(const MosquittoLibrary &lib, int rc) {
  if (rc == MOSQ_ERR_KEEPALIVE) return "no answer within the keep-alive";
  std::string text = rc == MOSQ_ERR_ERRNO ? strerror(errno) : lib.strerror(rc);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// The library's sockets and wake-up pair (made anew at each attempt) must
// not leak into command children.
void MarkSocketsCloseOnExec() {
  static const char *const kSockets[] = {"socket:", nullptr};
  mark_cloexec_by_path(kSockets);
}

// Whether the socket has failed or hung up for good.  The library keeps
// such a socket during a TLS handshake until the keep-alive runs out, and
// it would be ready at every pass of the loop until then; why it failed
// goes to *why.
bool SocketBroken(int fd, std::string *why) {
  pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, 0) != 1 || !(p.revents & (POLLERR | POLLHUP | POLLNVAL)))
    return false;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0)
    *why = strerror(error);
  else if (why->empty())
    *why = "the connection failed";
  return true;
}

}  // namespace

class MqttConnection::SocketWatch : public OVKFdHandler {
 public:
  explicit SocketWatch(MqttConnection *owner) : owner_(owner) {}
  void Handle(bool readable, bool writable, bool) override {
    owner_->HandleSocket(readable, writable);
  }
  bool WantWrite() const override { return owner_->WantWrite(); }

 private:
  MqttConnection *owner_;
};

class MqttConnection::MiscTimer : public OVKTimeoutHandler {
 public:
  explicit MiscTimer(MqttConnection *owner) : owner_(owner) {}
  void TimeoutHandle() override { owner_->Misc(); }

 private:
  MqttConnection *owner_;
};

class MqttConnection::RetryTimer : public OVKTimeoutHandler {
 public:
  explicit RetryTimer(MqttConnection *owner) : owner_(owner) {}
  void TimeoutHandle() override {
    owner_->retry_armed_ = false;
    owner_->Attempt();
  }

 private:
  MqttConnection *owner_;
};

MqttConnection::MqttConnection(OVKEventSelector *selector,
                               const MqttSettings &settings,
                               const MosquittoLibrary &lib)
    : selector_(selector),
      lib_(lib),
      settings_(settings),
      watch_(new SocketWatch(this)),
      misc_(new MiscTimer(this)),
      retry_(new RetryTimer(this)) {
  mosq_ = lib_.create(settings_.client_id.c_str(), true, this);
  if (!mosq_) {
    LogMessage("MQTT: cannot create the client: %s", strerror(errno));
    return;
  }
  MarkSocketsCloseOnExec();
  lib_.connect_callback_set(mosq_, OnConnect);
  lib_.disconnect_callback_set(mosq_, OnDisconnect);
  lib_.message_callback_set(mosq_, OnMessage);
  const std::string status = settings_.prefix + "/status";
  int rc = lib_.will_set(mosq_, status.c_str(), 7, "offline", 1, true);
  if (rc != MOSQ_ERR_SUCCESS)
    LogMessage("MQTT: cannot set the will on ``%s'': %s", status.c_str(),
               ErrorText(lib_, rc).c_str());
  if (!settings_.user.empty()) {
    rc = lib_.username_pw_set(
        mosq_, settings_.user.c_str(),
        settings_.password.empty() ? nullptr : settings_.password.c_str());
    if (rc != MOSQ_ERR_SUCCESS)
      LogMessage("MQTT: cannot set the login: %s", ErrorText(lib_, rc).c_str());
  }
  if (!settings_.cafile.empty()) {
    rc = lib_.tls_set(mosq_, settings_.cafile.c_str(), nullptr, nullptr,
                      nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      LogMessage("MQTT: cannot use the CA file ``%s'': %s",
                 settings_.cafile.c_str(), ErrorText(lib_, rc).c_str());
  }
}

MqttConnection::~MqttConnection() {
  if (watching_) selector_->RemoveFd(watch_);
  if (misc_armed_) selector_->RemoveTimeout(misc_);
  if (retry_armed_) selector_->RemoveTimeout(retry_);
  if (mosq_) lib_.destroy(mosq_);
  delete watch_;
  delete misc_;
  delete retry_;
}

int MqttConnection::BackoffSeconds(int failures) {
  if (failures < 0) failures = 0;
  return failures >= 6 ? 60 : 1 << failures;
}

void MqttConnection::Start() {
  if (mosq_) Attempt();
}

void MqttConnection::Attempt() {
  if (watching_) {
    selector_->RemoveFd(watch_);
    watching_ = false;
  }
  reason_.clear();
  LogMessage("MQTT: connecting to %s:%d", settings_.host.c_str(),
             settings_.port);
  int rc = lib_.connect_async(mosq_, settings_.host.c_str(), settings_.port,
                              settings_.keepalive);
  MarkSocketsCloseOnExec();
  if (rc != MOSQ_ERR_SUCCESS) {
    reason_ = ErrorText(lib_, rc);
    Ended();
    return;
  }
  if (!misc_armed_) {
    misc_->SetFromNow(1, 0);
    selector_->RegisterTimeout(misc_);
    misc_armed_ = true;
  }
  SyncSocket();
}

void MqttConnection::SyncSocket() {
  int fd = lib_.socket(mosq_);
  if (watching_ && watch_->GetFd() != fd) {
    selector_->RemoveFd(watch_);
    watching_ = false;
  }
  if (!watching_ && fd >= 0) {
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    watch_->SetFd(fd);
    selector_->RegisterFd(watch_);
    watching_ = true;
  }
  if (fd < 0 && !retry_armed_) Ended();
}

void MqttConnection::Ended() {
  if (watching_) {
    selector_->RemoveFd(watch_);
    watching_ = false;
  }
  if (misc_armed_) {
    selector_->RemoveTimeout(misc_);
    misc_armed_ = false;
  }
  const char *why = reason_.empty() ? "closed" : reason_.c_str();
  int delay;
  if (connected_) {
    connected_ = false;
    failures_ = 0;
    delay = BackoffSeconds(0);
    LogMessage("MQTT: connection to %s:%d lost (%s); trying again in %d s",
               settings_.host.c_str(), settings_.port, why, delay);
    if (bridge_) bridge_->Disconnected();
  } else {
    failures_++;
    delay = BackoffSeconds(failures_);
    LogMessage("MQTT: cannot connect to %s:%d (%s); trying again in %d s",
               settings_.host.c_str(), settings_.port, why, delay);
  }
  retry_->SetFromNow(delay, 0);
  selector_->RegisterTimeout(retry_);
  retry_armed_ = true;
}

bool MqttConnection::WantWrite() const { return lib_.want_write(mosq_); }

void MqttConnection::HandleSocket(bool readable, bool writable) {
  int rc = MOSQ_ERR_SUCCESS;
  if (readable) rc = lib_.loop_read(mosq_, 1);
  if (rc == MOSQ_ERR_SUCCESS && writable && lib_.socket(mosq_) >= 0)
    rc = lib_.loop_write(mosq_, 1);
  if (rc != MOSQ_ERR_SUCCESS && reason_.empty()) reason_ = ErrorText(lib_, rc);
  int fd = lib_.socket(mosq_);
  // Left to the library, the next attempt's connect closes it.
  if (fd >= 0 && SocketBroken(fd, &reason_)) {
    Ended();
    return;
  }
  SyncSocket();
}

void MqttConnection::Misc() {
  misc_armed_ = false;
  lib_.loop_misc(mosq_);
  if (lib_.socket(mosq_) >= 0) {
    misc_->SetFromNow(1, 0);
    selector_->RegisterTimeout(misc_);
    misc_armed_ = true;
  }
  SyncSocket();
}

void MqttConnection::Publish(const std::string &topic,
                             const std::string &payload, bool retain) {
  if (!mosq_) return;
  int rc = lib_.publish(mosq_, nullptr, topic.c_str(),
                        static_cast<int>(payload.size()), payload.data(),
                        retain ? 1 : 0, retain);
  if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN)
    LogMessage("MQTT: cannot publish on ``%s'': %s", topic.c_str(),
               ErrorText(lib_, rc).c_str());
}

void MqttConnection::Subscribe(const std::string &filter) {
  if (!mosq_) return;
  int rc = lib_.subscribe(mosq_, nullptr, filter.c_str(), 1);
  if (rc != MOSQ_ERR_SUCCESS)
    LogMessage("MQTT: cannot subscribe to ``%s'': %s", filter.c_str(),
               ErrorText(lib_, rc).c_str());
}

void MqttConnection::OnConnect(struct mosquitto *, void *self, int rc) {
  auto *c = static_cast<MqttConnection *>(self);
  if (rc != 0) {
    c->reason_ = c->lib_.connack_string(rc);
    if (!c->reason_.empty() && c->reason_.back() == '.') c->reason_.pop_back();
    return;  // the library closes the socket; SyncSocket notices
  }
  c->connected_ = true;
  c->failures_ = 0;
  LogMessage("MQTT: connected to %s:%d", c->settings_.host.c_str(),
             c->settings_.port);
  if (c->bridge_) c->bridge_->Connected();
}

void MqttConnection::OnDisconnect(struct mosquitto *, void *self, int rc) {
  auto *c = static_cast<MqttConnection *>(self);
  if (c->reason_.empty() && rc != 0) c->reason_ = ErrorText(c->lib_, rc);
}

void MqttConnection::OnMessage(struct mosquitto *, void *self,
                               const struct mosquitto_message *message) {
  auto *c = static_cast<MqttConnection *>(self);
  if (!c->bridge_ || !message->topic) return;
  std::string payload;
  if (message->payload && message->payloadlen > 0)
    payload.assign(static_cast<const char *>(message->payload),
                   static_cast<size_t>(message->payloadlen));
  c->bridge_->Received(message->topic, payload, message->retain);
}
