// The TCP console: line-oriented command sessions, trusted by network.
#ifndef HOVANTRA_CONSOLE_CONSOLE_SERVER_H
#define HOVANTRA_CONSOLE_CONSOLE_SERVER_H

class OVKEventSelector;

// Replaces any existing console server; the result of Listen.
bool StartConsole(OVKEventSelector *selector);

#endif
