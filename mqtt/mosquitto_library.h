// MosquittoLibrary: libmosquitto's functions, loaded when a client is
// configured.
//
// Linked in, libmosquitto brings OpenSSL's libssl and libcrypto into every
// daemon, about 1.7 MiB resident, though most run without an `mqtt`
// section.  So the daemon does not link it: the one file that talks to the
// library calls through this table, which dlopen fills at the first use.
// <mosquitto.h> still gives the types, constants and signatures.
#ifndef HOVANTRA_MQTT_MOSQUITTO_LIBRARY_H
#define HOVANTRA_MQTT_MOSQUITTO_LIBRARY_H

#include <mosquitto.h>

// The file the package depends on: the library's run-time name.
extern const char kMosquittoLibraryFile[];

struct MosquittoLibrary {
  decltype(&::mosquitto_lib_init) lib_init;
  decltype(&::mosquitto_new) create;
  decltype(&::mosquitto_destroy) destroy;
  decltype(&::mosquitto_connect_async) connect_async;
  decltype(&::mosquitto_connect_callback_set) connect_callback_set;
  decltype(&::mosquitto_disconnect_callback_set) disconnect_callback_set;
  decltype(&::mosquitto_message_callback_set) message_callback_set;
  decltype(&::mosquitto_loop_read) loop_read;
  decltype(&::mosquitto_loop_write) loop_write;
  decltype(&::mosquitto_loop_misc) loop_misc;
  decltype(&::mosquitto_socket) socket;
  decltype(&::mosquitto_want_write) want_write;
  decltype(&::mosquitto_publish) publish;
  decltype(&::mosquitto_subscribe) subscribe;
  decltype(&::mosquitto_tls_set) tls_set;
  decltype(&::mosquitto_username_pw_set) username_pw_set;
  decltype(&::mosquitto_will_set) will_set;
  decltype(&::mosquitto_strerror) strerror;
  decltype(&::mosquitto_connack_string) connack_string;
};

// The library in file (a name dlopen searches for, or a path), loaded and
// initialised once per file name and kept for the whole run.  nullptr, after
// one log line saying the daemon runs without MQTT, when it cannot be loaded
// or lacks a function; a failed file is not tried again.
const MosquittoLibrary *LoadMosquittoLibrary(
    const char *file = kMosquittoLibraryFile);

#endif
