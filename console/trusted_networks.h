// The console's trusted network list: which peers may run privileged
// commands.  Text form: comma-separated items "a.b.c.d" or "a.b.c.d/len",
// white space allowed before an item and between an item and its comma.
//
// Parsing stops silently at the first character that does not fit; items
// completed before it stay.  The dotted quad goes through inet_addr.  A
// missing prefix means one host (/32); a prefix other than 0..32 in digits
// makes the item invalid, and an invalid item contains nobody.
#ifndef HOVANTRA_CONSOLE_TRUSTED_NETWORKS_H
#define HOVANTRA_CONSOLE_TRUSTED_NETWORKS_H

#include <cstdint>
#include <vector>

struct TrustedNetwork {
  uint32_t address;  // host order, bits beyond the prefix cleared
  int prefix;        // 0..32; meaningless when !valid
  bool valid;
};

class TrustedNetworkList {
 public:
  explicit TrustedNetworkList(const char *text);

  // True when the host (host order) lies in any valid network.
  bool Contains(uint32_t host) const;
  const std::vector<TrustedNetwork> &Networks() const { return networks_; }

 private:
  std::vector<TrustedNetwork> networks_;
};

#endif
