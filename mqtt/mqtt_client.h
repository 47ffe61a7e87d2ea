// The MQTT client of the daemon: started once by main, lives for the whole
// run.  Without an `mqtt` section with a host nothing is created.
#ifndef HOVANTRA_MQTT_MQTT_CLIENT_H
#define HOVANTRA_MQTT_MQTT_CLIENT_H

class OVKEventSelector;

// Reads the `mqtt` section; with a host, connects on the loop, publishes
// the retained topics once a second where they changed (at once after an
// event or a received message) and every processed event line.
void StartMqtt(OVKEventSelector *selector);

#endif
