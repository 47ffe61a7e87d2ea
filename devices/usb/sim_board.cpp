#include "devices/usb/sim_board.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devices/board.h"

namespace {

const char kSuffix[] = ".board";

std::string BoardPath(const std::string &dir, const std::string &name) {
  return dir + "/" + name + kSuffix;
}

// Which status bit each output line drives, as wired on the two firmware
// generations.  Bits 8..15 are shared with inputs 0..7.
const int kOldTerminal[12] = {0, 1, 2, 3, 8, 9, 10, 11, 12, 13, 14, 15};
const int kNewTerminal[12] = {0, 1, 2, 3, 12, 13, 14, 15, 8, 9, 10, 11};

bool InputPresent(const SimBoard &b, int k) {
  if (k < 4) return (b.input_config & 0x0F) == 0x04;
  return (b.input_config & 0xF0) == 0x40;
}

void PutU16(unsigned char *p, unsigned v) {
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
}

void PutU32(unsigned char *p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = (v >> (8 * i)) & 0xFF;
}

std::string Hex(const unsigned char *p, int n) {
  std::string s;
  char two[3];
  for (int i = 0; i < n; i++) {
    snprintf(two, sizeof two, "%02x", p[i]);
    s += two;
  }
  return s;
}

// Board files are written and read without iostreams: their locale set-up
// alone would add half a megabyte of library pages to a daemon that polls
// simulated boards.
void Put(std::string &out, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
void Put(std::string &out, const char *format, ...) {
  char buf[128];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n > 0) out.append(buf, std::min<size_t>(n, sizeof buf - 1));
}

void PutText(std::string &out, const char *key, const SimText &t) {
  if (t.present) out += std::string(key) + " " + t.text + "\n";
}

void PutEight(std::string &out, const char *key, const int values[8]) {
  out += key;
  for (int k = 0; k < 8; k++) Put(out, " %d", values[k]);
  out += "\n";
}

// The whitespace-separated words of text (blank, tab, CR, LF, VT, FF).
std::vector<std::string> Words(const std::string &text) {
  static const char kSpace[] = " \t\r\n\v\f";
  std::vector<std::string> words;
  size_t i = text.find_first_not_of(kSpace);
  while (i != std::string::npos) {
    size_t end = text.find_first_of(kSpace, i);
    words.push_back(text.substr(i, end == std::string::npos ? end : end - i));
    i = end == std::string::npos ? end : text.find_first_not_of(kSpace, end);
  }
  return words;
}

bool ParseLong(const std::string &s, int radix, long *value) {
  if (s.empty()) return false;
  char *end = nullptr;
  errno = 0;
  long v = strtol(s.c_str(), &end, radix);
  if (errno != 0 || *end != '\0') return false;
  *value = v;
  return true;
}

bool ParseEight(const std::string &rest, int out[8]) {
  std::vector<std::string> words = Words(rest);
  if (words.size() < 8) return false;
  for (int k = 0; k < 8; k++) {
    long v;
    if (!ParseLong(words[k], 10, &v)) return false;
    out[k] = static_cast<int>(v);
  }
  return true;
}

}  // namespace

SimBoard SimBoardDefault(const std::string &name, const std::string &serial) {
  SimBoard b;
  b.name = name;
  b.manufacturer.present = true;
  b.manufacturer.text = kBoardVendorStrings[0];
  b.product.present = true;
  b.product.text = "QTR0xx";
  b.serial.present = !serial.empty();
  b.serial.text = serial;
  return b;
}

SimLock::SimLock(const std::string &dir) {
  std::string path = dir + "/.lock";
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) < 0) {
    if (errno != EINTR) {
      close(fd_);
      fd_ = -1;
      return;
    }
  }
}

SimLock::~SimLock() {
  if (fd_ >= 0) close(fd_);  // closing drops the lock
}

bool SimBoardValidName(const std::string &name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::vector<std::string> SimBoardNames(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (!d) return names;
  size_t suffix_len = strlen(kSuffix);
  while (struct dirent *e = readdir(d)) {
    std::string f = e->d_name;
    if (f.size() <= suffix_len ||
        f.compare(f.size() - suffix_len, suffix_len, kSuffix) != 0)
      continue;
    std::string name = f.substr(0, f.size() - suffix_len);
    if (SimBoardValidName(name)) names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool SimBoardExists(const std::string &dir, const std::string &name) {
  return access(BoardPath(dir, name).c_str(), F_OK) == 0;
}

std::string SimBoardFormat(const SimBoard &b) {
  std::string out;
  Put(out, "plugged %s\n", b.plugged ? "yes" : "no");
  Put(out, "generation %u\n", b.generation);
  Put(out, "open_fails %s\n", b.open_fails ? "yes" : "no");
  Put(out, "vendor %04x\n", static_cast<unsigned>(b.vendor));
  Put(out, "product_id %04x\n", static_cast<unsigned>(b.product_id));
  PutText(out, "manufacturer", b.manufacturer);
  PutText(out, "product", b.product);
  PutText(out, "serial", b.serial);
  Put(out, "version %u\n", static_cast<unsigned>(b.version));
  Put(out, "input_config %02x\n", static_cast<unsigned>(b.input_config & 0xFF));
  Put(out, "outputs %03x\n", b.outputs & 0xFFF);
  Put(out, "levels %02x\n", b.levels & 0xFF);
  PutEight(out, "count_base", b.count_base);
  PutEight(out, "count_changes", b.count_changes);
  PutEight(out, "garbage", b.garbage);
  Put(out, "onewire_layout %d\n", b.onewire_layout);
  Put(out, "onewire_endless %s\n", b.onewire_endless ? "yes" : "no");
  Put(out, "onewire_cursor %d\n", b.onewire_cursor);
  for (const SimSensor &s : b.sensors)
    out += "sensor " + SimRomText(s.rom) + " " + std::to_string(s.raw) + "\n";
  Put(out, "short_reads %d\n", b.short_reads);
  Put(out, "failed_writes %d\n", b.failed_writes);
  Put(out, "timeouts %d\n", b.timeouts);
  Put(out, "stall_report %d\n", b.stall_report);
  Put(out, "reads %ld\n", static_cast<long>(b.reads));
  Put(out, "writes %ld\n", static_cast<long>(b.writes));
  for (const std::string &c : b.commands) out += "command " + c + "\n";
  return out;
}

bool SimBoardParse(const std::string &text, SimBoard *b, std::string *err) {
  SimBoard fresh;
  fresh.name = b->name;
  *b = fresh;
  int number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t lf = text.find('\n', at);
    if (lf == std::string::npos) lf = text.size();
    std::string line = text.substr(at, lf - at);
    at = lf + 1;
    number++;
    if (line.empty()) continue;
    size_t sp = line.find(' ');
    std::string key = line.substr(0, sp);
    std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    long v = 0;
    bool ok = true;
    if (key == "plugged") {
      b->plugged = rest == "yes";
    } else if (key == "open_fails") {
      b->open_fails = rest == "yes";
    } else if (key == "onewire_endless") {
      b->onewire_endless = rest == "yes";
    } else if (key == "manufacturer" || key == "product" || key == "serial") {
      SimText &t = key == "manufacturer" ? b->manufacturer
                   : key == "product"    ? b->product
                                         : b->serial;
      t.present = true;
      t.text = rest;
    } else if (key == "count_base") {
      ok = ParseEight(rest, b->count_base);
    } else if (key == "count_changes") {
      ok = ParseEight(rest, b->count_changes);
    } else if (key == "garbage") {
      ok = ParseEight(rest, b->garbage);
    } else if (key == "sensor") {
      std::vector<std::string> words = Words(rest);
      SimSensor s;
      ok = words.size() >= 2 && SimRomParse(words[0], s.rom) &&
           ParseLong(words[1], 10, &v) && v >= -32768 && v <= 32767;
      s.raw = static_cast<int16_t>(v);
      if (ok) b->sensors.push_back(s);
    } else if (key == "command") {
      b->commands.push_back(rest);
    } else if (key == "vendor" || key == "product_id" ||
               key == "input_config" || key == "outputs" || key == "levels") {
      ok = ParseLong(rest, 16, &v);
      if (key == "vendor") b->vendor = static_cast<int>(v);
      if (key == "product_id") b->product_id = static_cast<int>(v);
      if (key == "input_config") b->input_config = static_cast<int>(v);
      if (key == "outputs") b->outputs = static_cast<unsigned>(v);
      if (key == "levels") b->levels = static_cast<unsigned>(v);
    } else {
      ok = ParseLong(rest, 10, &v);
      if (key == "generation")
        b->generation = static_cast<unsigned>(v);
      else if (key == "version")
        b->version = static_cast<uint32_t>(v);
      else if (key == "onewire_layout")
        b->onewire_layout = static_cast<int>(v);
      else if (key == "onewire_cursor")
        b->onewire_cursor = static_cast<int>(v);
      else if (key == "short_reads")
        b->short_reads = static_cast<int>(v);
      else if (key == "failed_writes")
        b->failed_writes = static_cast<int>(v);
      else if (key == "timeouts")
        b->timeouts = static_cast<int>(v);
      else if (key == "stall_report")
        b->stall_report = static_cast<int>(v);
      else if (key == "reads")
        b->reads = v;
      else if (key == "writes")
        b->writes = v;
      else
        ok = false;
    }
    if (!ok) {
      *err = "line " + std::to_string(number) + ": bad entry: " + line;
      return false;
    }
  }
  return true;
}

bool SimBoardLoad(const std::string &dir, const std::string &name,
                  SimBoard *board, std::string *err) {
  std::string path = BoardPath(dir, name);
  FILE *f = fopen(path.c_str(), "re");
  if (!f) {
    *err = "no board " + name + " in " + dir;
    return false;
  }
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  board->name = name;
  if (!SimBoardParse(text, board, err)) {
    *err = path + ": " + *err;
    return false;
  }
  return true;
}

bool SimBoardSave(const std::string &dir, const SimBoard &board,
                  std::string *err) {
  std::string path = BoardPath(dir, board.name);
  std::string tmp = path + ".tmp";
  FILE *f = fopen(tmp.c_str(), "we");
  if (!f) {
    *err = "cannot write " + tmp + ": " + strerror(errno);
    return false;
  }
  std::string text = SimBoardFormat(board);
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = fclose(f) == 0 && ok;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    *err = "cannot write " + path + ": " + strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool SimBoardRemove(const std::string &dir, const std::string &name) {
  return unlink(BoardPath(dir, name).c_str()) == 0;
}

unsigned SimBoardStatusWord(const SimBoard &b) {
  const int *terminal = b.version >= 4000000 ? kNewTerminal : kOldTerminal;
  unsigned word = 0;
  for (int line = 0; line < 12; line++)
    if (b.outputs & (1u << line)) word |= 1u << terminal[line];
  for (int k = 0; k < 8; k++)
    if (InputPresent(b, k) && (b.levels & (1u << k))) word |= 1u << (8 + k);
  return word;
}

int SimBoardCounter(const SimBoard &b, int k) {
  if (!InputPresent(b, k)) return 0;
  if (b.garbage[k] >= 0) return b.garbage[k] & 0xFFFF;
  return (b.count_base[k] + b.count_changes[k]) & 0xFFFF;
}

void SimBoardSetContact(SimBoard *b, int input, bool closed) {
  bool now = (b->levels >> input) & 1;
  if (now == closed) return;
  b->levels ^= 1u << input;
  b->count_changes[input]++;
}

void SimBoardPulse(SimBoard *b, int input, int count) {
  if (count > 0) b->count_changes[input] += 2 * count;
}

int SimBoardGetReport(SimBoard *b, int report, unsigned char *buf, int len) {
  if (report == b->stall_report) return -EPIPE;
  unsigned char r[64];
  memset(r, 0, sizeof r);
  r[0] = static_cast<unsigned char>(report);
  int size = 64;
  switch (report) {
    case 2:
      PutU32(r + 4, b->version);
      r[16] = static_cast<unsigned char>(b->input_config);
      break;
    case 3:
      PutU16(r + 20, SimBoardStatusWord(*b));
      break;
    case 6:
      size = 17;
      for (int k = 0; k < 8; k++) {
        PutU16(r + 1 + 2 * k, SimBoardCounter(*b, k));
        // Reading the counters starts counting afresh from today's level.
        b->count_base[k] = (b->levels >> k) & 1;
        b->count_changes[k] = 0;
        b->garbage[k] = -1;
      }
      break;
    case 7: {
      if (b->version < 2120203) return -EPIPE;
      r[2] = static_cast<unsigned char>(b->onewire_layout);
      int slots = b->onewire_layout == 0 ? 4 : 6;
      int n = static_cast<int>(b->sensors.size());
      if (b->onewire_cursor >= n) b->onewire_cursor = 0;
      if (b->onewire_layout == 0 || b->onewire_layout == 1) {
        int temp_at = b->onewire_layout == 0 ? 24 : 4;
        int rom_at = b->onewire_layout == 0 ? 32 : 16;
        for (int k = 0; k < slots && b->onewire_cursor + k < n; k++) {
          const SimSensor &s = b->sensors[b->onewire_cursor + k];
          PutU16(r + temp_at + 2 * k, static_cast<uint16_t>(s.raw));
          memcpy(r + rom_at + 8 * k, s.rom, 8);
        }
      }
      bool more = b->onewire_cursor + slots < n;
      b->onewire_cursor = more ? b->onewire_cursor + slots : 0;
      if (more || b->onewire_endless) r[1] = 0x80;
      break;
    }
    default:
      return -EPIPE;  // the board stalls unknown reports
  }
  int count = std::min(len, size);
  memcpy(buf, r, count);
  return count;
}

int SimBoardSetReport(SimBoard *b, int report, const unsigned char *buf,
                      int len) {
  if (report != 4 || len < 1 || buf[0] != 4 || len > 64 ||
      report == b->stall_report)
    return -EPIPE;
  b->commands.push_back(Hex(buf, len));
  if (b->commands.size() > kSimCommandHistory)
    b->commands.erase(b->commands.begin());
  if (len >= 8 && buf[1] == 0x1C) {
    uint32_t p2 = buf[4] | (buf[5] << 8) | (buf[6] << 16) |
                  (static_cast<uint32_t>(buf[7]) << 24);
    unsigned group = (p2 >> 8) & 0xFF;
    for (unsigned i = 0; i < 4 && group <= 2; i++) {
      unsigned field = (p2 >> (2 * i)) & 3;
      unsigned line = group * 4 + i;
      if (field == 1) b->outputs |= 1u << line;
      if (field == 2) b->outputs &= ~(1u << line);
    }
  }
  return len;
}

std::string SimRomText(const unsigned char rom[8]) { return Hex(rom, 8); }

bool SimRomParse(const std::string &text, unsigned char rom[8]) {
  if (text.size() != 16) return false;
  for (int i = 0; i < 8; i++) {
    long v;
    if (!isxdigit(static_cast<unsigned char>(text[2 * i])) ||
        !isxdigit(static_cast<unsigned char>(text[2 * i + 1])) ||
        !ParseLong(text.substr(2 * i, 2), 16, &v))
      return false;
    rom[i] = static_cast<unsigned char>(v);
  }
  return true;
}
