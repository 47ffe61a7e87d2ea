// hovantra-board: creates, inspects and drives simulated I/O boards while
// the daemon runs.  Each board is a file in the simulated-boards directory;
// every change takes the directory's lock and replaces the file atomically.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "devices/board.h"
#include "devices/usb/sim_board.h"

namespace {

const char kHelp[] =
    "usage: hovantra-board [-d DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "Simulated I/O boards for hovantra.  The boards live in DIR, by default\n"
    "the directory named by HOVANTRA_SIMULATED_BOARDS (the daemon reads the\n"
    "same variable).  Boards appear on the simulated bus in name order.\n"
    "\n"
    "Boards\n"
    "  list                        one line per board\n"
    "  add NAME SERIAL [VERSION]   a current board, plugged in; SERIAL is the\n"
    "                              serial number text (e.g. 1:1:1a2b, the "
    "last\n"
    "                              group being the board id) or \"none\";\n"
    "                              VERSION defaults to 4000001\n"
    "  legacy NAME SERIAL          a board with the legacy product string\n"
    "  remove NAME\n"
    "  show NAME                   everything the board holds\n"
    "  plug NAME | unplug NAME     a plugged-in board gets a new bus "
    "identity:\n"
    "                              handles opened before are dead\n"
    "  set NAME FIELD VALUE...     change one field:\n"
    "      version N               firmware (>= 2120203: 1-Wire, >= 4000000:\n"
    "                              new status layout)\n"
    "      inputs HEX              input configuration byte (04, 40, 44, 00)\n"
    "      serial TEXT|none        serial number string\n"
    "      manufacturer TEXT|none  manufacturer string (\"genuine\": the\n"
    "                              maker's own)\n"
    "      product TEXT|none       product string\n"
    "      vendor HEX | product-id HEX   USB ids\n"
    "      open-fails yes|no       the device cannot be opened\n"
    "      layout N                1-Wire report layout (0, 1, other)\n"
    "      endless yes|no          1-Wire reports always say more follow\n"
    "\n"
    "Inputs\n"
    "  close NAME INPUT            close contact INPUT (0..7)\n"
    "  open NAME INPUT             open it\n"
    "  pulse NAME INPUT [COUNT]    COUNT short closings (default 1) that end\n"
    "                              where they started, all before the next "
    "poll\n"
    "  garbage NAME INPUT VALUE    the next counter report gives VALUE\n"
    "\n"
    "1-Wire sensors (ROM: 16 hex digits in the order the board reports them)\n"
    "  sensor NAME ROM RAW         add or change a sensor with a raw reading "
    "in\n"
    "                              1/16 degree (decimal or 0x...; 0x8000 and\n"
    "                              0x7fff are the board's no-reading values)\n"
    "  temp NAME ROM DEGREES       the same in degrees\n"
    "  unsensor NAME ROM           remove a sensor\n"
    "\n"
    "Faults\n"
    "  fault NAME short-reads N    the next N reads answer one byte short\n"
    "  fault NAME failed-writes N  the next N writes fail\n"
    "  fault NAME timeouts N       the next N transfers time out\n"
    "  fault NAME stall REPORT     the board refuses that report (-1: none)\n"
    "  fault NAME clear            no faults\n"
    "\n"
    "Outputs\n"
    "  outputs NAME                output lines as the board drives them\n"
    "  commands NAME               command reports received, oldest first\n"
    "  clear-commands NAME\n"
    "\n"
    "  help                        this text\n";

std::string g_dir;

int Fail(const std::string &text) {
  fprintf(stderr, "hovantra-board: %s\n", text.c_str());
  return 1;
}

bool Number(const std::string &s, int radix, long *v) {
  if (s.empty()) return false;
  char *end = nullptr;
  errno = 0;
  *v = strtol(s.c_str(), &end, radix);
  return errno == 0 && *end == '\0';
}

bool Input(const std::string &s, int *k) {
  long v;
  if (!Number(s, 10, &v) || v < 0 || v > 7) return false;
  *k = static_cast<int>(v);
  return true;
}

bool YesNo(const std::string &s, bool *v) {
  if (s != "yes" && s != "no") return false;
  *v = s == "yes";
  return true;
}

std::string Join(const std::vector<std::string> &args, size_t from) {
  std::string s;
  for (size_t i = from; i < args.size(); i++)
    s += (i > from ? " " : "") + args[i];
  return s;
}

void SetText(SimText *t, const std::string &value) {
  t->present = value != "none";
  t->text = t->present ? value : "";
}

std::string Quoted(const SimText &t) {
  return t.present ? "\"" + t.text + "\"" : "none";
}

std::string Lines(const SimBoard &b) {
  std::string s;
  for (int line = 0; line < 12; line++) {
    char item[16];
    snprintf(item, sizeof item, "%s%d:%s", line ? " " : "", line,
             (b.outputs >> line) & 1 ? "on" : "off");
    s += item;
  }
  return s;
}

void Show(const SimBoard &b) {
  printf("board %s: %s, generation %u%s\n", b.name.c_str(),
         b.plugged ? "plugged in" : "unplugged", b.generation,
         b.open_fails ? ", cannot be opened" : "");
  printf("  usb ids %04x:%04x\n", b.vendor, b.product_id);
  printf("  manufacturer %s\n", Quoted(b.manufacturer).c_str());
  printf("  product %s\n", Quoted(b.product).c_str());
  printf("  serial %s\n", Quoted(b.serial).c_str());
  printf("  firmware %u (%s status layout, 1-Wire %s)\n", b.version,
         b.version >= kBoardNewLayoutVersion ? "new" : "old",
         b.version >= kBoardOnewireVersion ? "yes" : "no");
  printf("  input configuration %02x\n", b.input_config & 0xFF);
  printf("  status word %04x\n", SimBoardStatusWord(b));
  printf("  outputs %s\n", Lines(b).c_str());
  printf("  inputs");
  for (int k = 0; k < 8; k++) {
    printf(" %d:%s/%d", k, (b.levels >> k) & 1 ? "closed" : "open",
           SimBoardCounter(b, k));
    if (b.garbage[k] >= 0) printf("!");
  }
  printf("  (level/next counter, ! garbage)\n");
  printf("  1-Wire layout %d%s, %zu sensor(s)\n", b.onewire_layout,
         b.onewire_endless ? ", endless" : "", b.sensors.size());
  for (const SimSensor &s : b.sensors) {
    printf("    %s", SimRomText(s.rom).c_str());
    if (s.raw == -32768 || s.raw == 32767)
      printf(" raw %d (no reading)", s.raw);
    else
      printf(" raw %d (%.2f degrees)", s.raw, s.raw / 16.0);
    // The configuration writes the id the other way round.
    printf(", configured as id = ");
    for (int k = 7; k >= 0; k--) printf("%02X", s.rom[k]);
    printf("\n");
  }
  printf("  faults: short reads %d, failed writes %d, timeouts %d, stall %d\n",
         b.short_reads, b.failed_writes, b.timeouts, b.stall_report);
  printf("  transfers: %ld reads, %ld writes, %zu command(s) kept\n", b.reads,
         b.writes, b.commands.size());
}

SimSensor *FindSensor(SimBoard *b, const unsigned char rom[8]) {
  for (SimSensor &s : b->sensors)
    if (memcmp(s.rom, rom, 8) == 0) return &s;
  return nullptr;
}

// Applies a command that changes one board; the message on failure.
std::string Change(SimBoard *b, const std::vector<std::string> &a) {
  const std::string &cmd = a[0];
  size_t n = a.size();
  long v;
  bool yes;
  int k;
  if (cmd == "plug" && n == 2) {
    if (!b->plugged) b->generation++;
    b->plugged = true;
  } else if (cmd == "unplug" && n == 2) {
    b->plugged = false;
  } else if ((cmd == "close" || cmd == "open") && n == 3) {
    if (!Input(a[2], &k)) return "bad input number " + a[2];
    SimBoardSetContact(b, k, cmd == "close");
  } else if (cmd == "pulse" && (n == 3 || n == 4)) {
    if (!Input(a[2], &k)) return "bad input number " + a[2];
    v = 1;
    if (n == 4 && (!Number(a[3], 10, &v) || v < 1 || v > 30000))
      return "bad count " + a[3];
    SimBoardPulse(b, k, static_cast<int>(v));
  } else if (cmd == "garbage" && n == 4) {
    if (!Input(a[2], &k)) return "bad input number " + a[2];
    if (!Number(a[3], 0, &v) || v < 0 || v > 0xFFFF) return "bad value " + a[3];
    b->garbage[k] = static_cast<int>(v);
  } else if ((cmd == "sensor" || cmd == "temp") && n == 4) {
    SimSensor s;
    if (!SimRomParse(a[2], s.rom) || s.rom[0] == 0)
      return "bad ROM id " + a[2] + " (16 hex digits, first byte not 00)";
    if (cmd == "sensor") {
      if (!Number(a[3], 0, &v) || v < -32768 || v > 0xFFFF)
        return "bad raw value " + a[3];
      s.raw = static_cast<int16_t>(v > 32767 ? v - 65536 : v);
    } else {
      char *end = nullptr;
      double t = strtod(a[3].c_str(), &end);
      if (a[3].empty() || *end || t < -2048 || t >= 2048)
        return "bad temperature " + a[3];
      s.raw = static_cast<int16_t>(lround(t * 16));
    }
    if (SimSensor *old = FindSensor(b, s.rom))
      old->raw = s.raw;
    else
      b->sensors.push_back(s);
  } else if (cmd == "unsensor" && n == 3) {
    unsigned char rom[8];
    SimSensor *s = SimRomParse(a[2], rom) ? FindSensor(b, rom) : nullptr;
    if (!s) return "no sensor " + a[2];
    b->sensors.erase(b->sensors.begin() + (s - b->sensors.data()));
  } else if (cmd == "fault" && n == 3 && a[2] == "clear") {
    b->short_reads = b->failed_writes = b->timeouts = 0;
    b->stall_report = -1;
  } else if (cmd == "fault" && n == 4) {
    if (!Number(a[3], 10, &v) || v < -1 || v > 1000000)
      return "bad count " + a[3];
    int count = static_cast<int>(v);
    if (a[2] == "short-reads")
      b->short_reads = count;
    else if (a[2] == "failed-writes")
      b->failed_writes = count;
    else if (a[2] == "timeouts")
      b->timeouts = count;
    else if (a[2] == "stall")
      b->stall_report = count;
    else
      return "unknown fault " + a[2];
  } else if (cmd == "clear-commands" && n == 2) {
    b->commands.clear();
  } else if (cmd == "set" && n >= 4) {
    const std::string &field = a[2];
    std::string value = Join(a, 3);
    if (field == "version") {
      if (!Number(value, 10, &v) || v < 0 || v > 0xFFFFFFFFL)
        return "bad version";
      b->version = static_cast<uint32_t>(v);
    } else if (field == "inputs") {
      if (!Number(value, 16, &v) || v < 0 || v > 0xFF) return "bad input byte";
      b->input_config = static_cast<int>(v);
    } else if (field == "vendor" || field == "product-id") {
      if (!Number(value, 16, &v) || v < 0 || v > 0xFFFF) return "bad id";
      (field == "vendor" ? b->vendor : b->product_id) = static_cast<int>(v);
    } else if (field == "serial") {
      SetText(&b->serial, value);
    } else if (field == "manufacturer") {
      SetText(&b->manufacturer,
              value == "genuine" ? kBoardVendorStrings[0] : value);
    } else if (field == "product") {
      SetText(&b->product, value);
    } else if (field == "open-fails" && YesNo(value, &yes)) {
      b->open_fails = yes;
    } else if (field == "endless" && YesNo(value, &yes)) {
      b->onewire_endless = yes;
    } else if (field == "layout" && Number(value, 10, &v) && v >= 0 &&
               v < 256) {
      b->onewire_layout = static_cast<int>(v);
    } else {
      return "bad field or value: " + field + " " + value;
    }
  } else {
    return "bad arguments; see hovantra-board help";
  }
  return "";
}

int Create(const std::vector<std::string> &a) {
  bool legacy = a[0] == "legacy";
  if (a.size() < 3 || a.size() > (legacy ? 3u : 4u))
    return Fail("bad arguments; see hovantra-board help");
  const std::string &name = a[1];
  if (!SimBoardValidName(name)) return Fail("bad board name " + name);
  SimBoard b = SimBoardDefault(name, a[2] == "none" ? "" : a[2]);
  long v;
  if (a.size() == 4) {
    if (!Number(a[3], 10, &v) || v < 0 || v > 0xFFFFFFFFL)
      return Fail("bad version " + a[3]);
    b.version = static_cast<uint32_t>(v);
  }
  if (legacy) b.product.text = "Electric circuit switch QTR001 '1";
  SimLock lock(g_dir);
  if (!lock.Held()) return Fail("cannot lock " + g_dir);
  if (SimBoardExists(g_dir, name)) return Fail("board " + name + " exists");
  std::string err;
  if (!SimBoardSave(g_dir, b, &err)) return Fail(err);
  return 0;
}

int Run(const std::vector<std::string> &a) {
  const std::string &cmd = a[0];
  if (cmd == "help") {
    fputs(kHelp, stdout);
    return 0;
  }
  if (g_dir.empty())
    return Fail("no directory: give -d DIR or set HOVANTRA_SIMULATED_BOARDS");
  if (cmd == "list" && a.size() == 1) {
    SimLock lock(g_dir);
    for (const std::string &name : SimBoardNames(g_dir)) {
      SimBoard b;
      std::string err;
      if (!SimBoardLoad(g_dir, name, &b, &err)) {
        printf("%s: %s\n", name.c_str(), err.c_str());
        continue;
      }
      printf("%-12s %-9s serial %-14s version %-8u outputs %03x inputs %02x\n",
             name.c_str(), b.plugged ? "plugged" : "unplugged",
             b.serial.present ? b.serial.text.c_str() : "none", b.version,
             b.outputs, b.levels);
    }
    return 0;
  }
  if (cmd == "add" || cmd == "legacy") return Create(a);
  if (a.size() < 2) return Fail("bad arguments; see hovantra-board help");
  SimLock lock(g_dir);
  if (!lock.Held()) return Fail("cannot lock " + g_dir);
  if (cmd == "remove" && a.size() == 2) {
    if (!SimBoardRemove(g_dir, a[1])) return Fail("no board " + a[1]);
    return 0;
  }
  SimBoard b;
  std::string err;
  if (!SimBoardLoad(g_dir, a[1], &b, &err)) return Fail(err);
  if (cmd == "show" && a.size() == 2) {
    Show(b);
    return 0;
  }
  if (cmd == "outputs" && a.size() == 2) {
    printf("%s\n", Lines(b).c_str());
    return 0;
  }
  if (cmd == "commands" && a.size() == 2) {
    for (const std::string &c : b.commands) printf("%s\n", c.c_str());
    return 0;
  }
  err = Change(&b, a);
  if (!err.empty()) return Fail(err);
  if (!SimBoardSave(g_dir, b, &err)) return Fail(err);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (const char *env = getenv("HOVANTRA_SIMULATED_BOARDS")) g_dir = env;
  if (args.size() >= 2 && args[0] == "-d") {
    g_dir = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    fputs(kHelp, stderr);
    return 2;
  }
  return Run(args);
}
