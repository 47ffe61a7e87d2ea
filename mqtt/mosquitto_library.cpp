#include "mqtt/mosquitto_library.h"

#include <dlfcn.h>

#include <map>
#include <memory>
#include <string>

#include "core/log.h"

const char kMosquittoLibraryFile[] = "libmosquitto.so.1";

namespace {

template <typename Function>
bool Find(void *handle, const char *name, Function *out, std::string *missing) {
  *out = reinterpret_cast<Function>(dlsym(handle, name));
  if (!*out && missing->empty()) *missing = name;
  return *out != nullptr;
}

std::unique_ptr<MosquittoLibrary> Load(const char *file) {
  void *handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *error = dlerror();
    LogMessage("MQTT: cannot load %s: %s; running without MQTT", file,
               error ? error : "unknown error");
    return nullptr;
  }
  auto lib = std::make_unique<MosquittoLibrary>();
  std::string missing;
  Find(handle, "mosquitto_lib_init", &lib->lib_init, &missing);
  Find(handle, "mosquitto_new", &lib->create, &missing);
  Find(handle, "mosquitto_destroy", &lib->destroy, &missing);
  Find(handle, "mosquitto_connect_async", &lib->connect_async, &missing);
  Find(handle, "mosquitto_connect_callback_set", &lib->connect_callback_set,
       &missing);
  Find(handle, "mosquitto_disconnect_callback_set",
       &lib->disconnect_callback_set, &missing);
  Find(handle, "mosquitto_message_callback_set", &lib->message_callback_set,
       &missing);
  Find(handle, "mosquitto_loop_read", &lib->loop_read, &missing);
  Find(handle, "mosquitto_loop_write", &lib->loop_write, &missing);
  Find(handle, "mosquitto_loop_misc", &lib->loop_misc, &missing);
  Find(handle, "mosquitto_socket", &lib->socket, &missing);
  Find(handle, "mosquitto_want_write", &lib->want_write, &missing);
  Find(handle, "mosquitto_publish", &lib->publish, &missing);
  Find(handle, "mosquitto_subscribe", &lib->subscribe, &missing);
  Find(handle, "mosquitto_tls_set", &lib->tls_set, &missing);
  Find(handle, "mosquitto_username_pw_set", &lib->username_pw_set, &missing);
  Find(handle, "mosquitto_will_set", &lib->will_set, &missing);
  Find(handle, "mosquitto_strerror", &lib->strerror, &missing);
  Find(handle, "mosquitto_connack_string", &lib->connack_string, &missing);
  if (!missing.empty()) {
    LogMessage("MQTT: cannot load %s: %s is missing; running without MQTT",
               file, missing.c_str());
    dlclose(handle);
    return nullptr;
  }
  int rc = lib->lib_init();
  if (rc != MOSQ_ERR_SUCCESS) {
    LogMessage("MQTT: cannot initialise %s: %s; running without MQTT", file,
               lib->strerror(rc));
    return nullptr;  // the handle stays: the library may be half set up
  }
  return lib;
}

}  // namespace

const MosquittoLibrary *LoadMosquittoLibrary(const char *file) {
  // Never unloaded: clients and their callbacks live until the process ends.
  static std::map<std::string, std::unique_ptr<MosquittoLibrary>> loaded;
  auto found = loaded.find(file);
  if (found == loaded.end()) found = loaded.emplace(file, Load(file)).first;
  return found->second.get();
}
