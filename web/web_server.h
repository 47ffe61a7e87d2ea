// The web interface: configured pages, files and command pages, with Digest
// authentication for pages that are not public.
#ifndef HOVANTRA_WEB_WEB_SERVER_H
#define HOVANTRA_WEB_WEB_SERVER_H

class OVKEventSelector;

// Replaces any existing web server and listens (result not used).
void StartWebServer(OVKEventSelector *selector);

#endif
