// The MQTT client of the daemon: started once by main, lives for the whole
// run.  Without an `mqtt` section with a host nothing is created, and
// libmosquitto is not loaded.
#ifndef HOVANTRA_MQTT_MQTT_CLIENT_H
#define HOVANTRA_MQTT_MQTT_CLIENT_H

#include "mqtt/mosquitto_library.h"

class OVKEventSelector;

// Reads the `mqtt` section; with a host, connects on the loop, publishes
// the retained topics once a second where they changed (at once after an
// event or a received message) and every processed event line.  Without
// the library (file), logs why and starts nothing.  Whether a client was
// started.
bool StartMqtt(OVKEventSelector *selector,
               const char *library = kMosquittoLibraryFile);

#endif
