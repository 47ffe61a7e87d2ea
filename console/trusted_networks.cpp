#include "console/trusted_networks.h"

#include <arpa/inet.h>

#include <cctype>
#include <string>

namespace {

bool IsBlank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

uint32_t Mask(int prefix) {
  return prefix == 0 ? 0 : 0xffffffffu << (32 - prefix);
}

// Parses one item at p.  False when no dotted quad of four digit groups
// stands there; otherwise fills net and advances p past the item.
bool ParseItem(const char *&p, TrustedNetwork &net) {
  const char *q = p;
  for (int group = 0; group < 4; group++) {
    if (group > 0) {
      if (*q != '.') return false;
      q++;
    }
    if (!IsDigit(*q)) return false;
    while (IsDigit(*q)) q++;
  }
  std::string quad(p, q - p);
  uint32_t address = ntohl(inet_addr(quad.c_str()));
  int prefix = 32;
  bool valid = true;
  if (*q == '/') {
    q++;
    const char *digits = q;
    long value = 0;
    while (IsDigit(*q)) {
      if (value <= 32) value = value * 10 + (*q - '0');
      q++;
    }
    if (q == digits || value > 32)
      valid = false;
    else
      prefix = static_cast<int>(value);
  }
  net.valid = valid;
  net.prefix = valid ? prefix : 0;
  net.address = valid ? (address & Mask(prefix)) : 0;
  p = q;
  return true;
}

}  // namespace

TrustedNetworkList::TrustedNetworkList(const char *text) {
  if (text == nullptr) return;
  const char *p = text;
  for (;;) {
    while (IsBlank(*p)) p++;
    TrustedNetwork net;
    if (!ParseItem(p, net)) return;
    networks_.push_back(net);
    while (IsBlank(*p)) p++;
    if (*p != ',') return;
    p++;
  }
}

bool TrustedNetworkList::Contains(uint32_t host) const {
  for (const TrustedNetwork &net : networks_) {
    if (!net.valid) continue;
    uint32_t mask = Mask(net.prefix);
    if ((host & mask) == net.address) return true;
  }
  return false;
}
