#include "devices/board.h"

#include <fcntl.h>
#include <unistd.h>

#include "devices/boards_test_support.h"
#include "devices/cloexec_scan.h"

namespace {

std::string Frame(int line, int value) {
  unsigned char f[8];
  board_command_frame(kBoardSetOutputs, 0, board_output_param(line, value), f);
  char hex[17];
  for (int i = 0; i < 8; i++) snprintf(hex + 2 * i, 3, "%02x", f[i]);
  return hex;
}

class BoardTest : public BoardsTest {
 protected:
  // board_find after a rescan; the list is freed in TearDown.
  FoundBoard *Find(uint32_t id) {
    board_init();
    board_rescan();
    board_free_list(list_);
    list_ = board_find(id);
    return list_;
  }
  void TearDown() override {
    board_free_list(list_);
    list_ = nullptr;
    BoardsTest::TearDown();
  }
  FoundBoard *list_ = nullptr;
};

TEST(BoardFormat, SetOutputFramesAndStatusLayouts) {
  EXPECT_EQ(Frame(0, 1), "041c000001000000");
  EXPECT_EQ(Frame(11, 1), "041c000040020000");
  EXPECT_EQ(Frame(6, 2), "041c000020010000");
  EXPECT_EQ(Frame(3, 1), "041c000040000000");

  EXPECT_EQ(board_line_bit(4000000, 5), 13);
  EXPECT_EQ(board_line_bit(4000000, 9), 9);
  EXPECT_EQ(board_line_bit(3999999, 5), 9);
  EXPECT_EQ(board_line_bit(3999999, 9), 13);
  for (uint32_t v : {0u, 4000000u}) EXPECT_EQ(board_line_bit(v, 2), 2);
}

TEST(BoardFormat, SerialParsing) {
  struct Case {
    const char *text;
    int32_t a, b, c;
  } cases[] = {
      {"ab:cd:ef", 0xAB, 0xCD, 0xEF},
      {"ab:cd", 0xAB, 0xCD, -1},
      {"ab:x", 0xAB, -1, -1},
      {"1:2:1a2b", 1, 2, 0x1A2B},
      {"AB:Cd:eF", 0xAB, 0xCD, 0xEF},
      {"", 0, -1, -1},
      {"1:2:3:4", 1, 2, 3},
      {"1:2:3x", 1, 2, -1},
      {"::", 0, 0, 0},
  };
  for (const Case &c : cases) {
    int32_t s[3];
    board_parse_serial(c.text, s);
    EXPECT_EQ(s[0], c.a) << c.text;
    EXPECT_EQ(s[1], c.b) << c.text;
    EXPECT_EQ(s[2], c.c) << c.text;
  }
}

TEST_F(BoardTest, FindsByIdInReverseOrderWithVersion) {
  Add("a", "1:1:10", 2120203);
  Add("b", "1:1:20");
  Add("c", "ab:cd");
  FoundBoard *all = Find(0);
  ASSERT_NE(all, nullptr);
  ASSERT_NE(all->next, nullptr);
  ASSERT_NE(all->next->next, nullptr);
  EXPECT_EQ(all->serial[1], 0xCD);  // c was found last
  EXPECT_EQ(all->serial[2], -1);
  EXPECT_EQ(all->next->serial[2], 0x20);
  EXPECT_EQ(all->next->version, 4000001u);
  EXPECT_EQ(all->next->next->serial[2], 0x10);
  EXPECT_EQ(all->next->next->version, 2120203u);
  EXPECT_EQ(all->next->next->next, nullptr);
  for (FoundBoard *f = all; f; f = f->next) EXPECT_NE(f->handle, nullptr);
  EXPECT_EQ(sim_usb_open_handles(), 3);

  FoundBoard *one = Find(0x20);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->next, nullptr);
  EXPECT_EQ(one->serial[2], 0x20);
  EXPECT_EQ(sim_usb_open_handles(), 1);  // the others were closed
  EXPECT_EQ(Find(0xCD), nullptr);
  EXPECT_EQ(sim_usb_open_handles(), 0);
}

TEST_F(BoardTest, LegacyAndSerialLessBoardsHaveNoHandle) {
  SimBoard legacy = Make("a", "1:1:5");
  legacy.product.text = "Electric circuit switch QTR001 '1";
  Put(legacy);
  SimBoard no_serial = Make("b", "");
  no_serial.product.text = "Electric circuit switch QTR0xx";
  Put(no_serial);
  SimBoard empty_serial = Make("c", "");
  empty_serial.serial.present = true;  // names a string that reads empty
  Put(empty_serial);

  FoundBoard *all = Find(0);
  int n = 0;
  for (FoundBoard *f = all; f; f = f->next, n++) {
    EXPECT_EQ(f->handle, nullptr);
    EXPECT_EQ(f->version, 0u);
  }
  EXPECT_EQ(n, 3);
  EXPECT_EQ(sim_usb_open_handles(), 0);
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->serial[0], -1);  // c: accepted without a serial text
  FoundBoard *a = Find(5);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->serial[2], 5);
  EXPECT_EQ(a->handle, nullptr);
}

TEST_F(BoardTest, WrongIdentificationIsSkipped) {
  SimBoard b = Make("a", "1:1:1");
  b.manufacturer.text = "Tarnwick www.other.example";
  Put(b);
  b = Make("b", "1:1:2");
  b.manufacturer.present = false;
  Put(b);
  b = Make("c", "1:1:3");
  b.manufacturer.text = "";
  Put(b);
  b = Make("d", "1:1:4");
  b.product.text = "QTR0XX";
  Put(b);
  b = Make("e", "1:1:5");
  b.product.present = false;
  Put(b);
  b = Make("f", "1:1:6");
  b.product_id = 0x05DE;
  Put(b);
  b = Make("g", "1:1:7");
  b.open_fails = true;
  Put(b);
  b = Make("h", "1:1:8");
  b.manufacturer.present = false;
  b.serial.present = false;  // a serial-less board still needs its vendor
  Put(b);
  EXPECT_EQ(Find(0), nullptr);
  EXPECT_EQ(sim_usb_open_handles(), 0);

  b = Make("i", "1:1:9");
  b.manufacturer.text = kBoardVendorStrings[1];
  b.product.text = "Electric circuit switch QTR001";
  Put(b);
  ASSERT_NE(Find(0), nullptr);
  EXPECT_EQ(list_->serial[2], 9);
  EXPECT_NE(list_->handle, nullptr);
}

TEST_F(BoardTest, InputRangesAndCounters) {
  struct Case {
    int config, first, last;
  } cases[] = {{0x04, 0, 3}, {0x40, 4, 7}, {0x44, 0, 7},
               {0x00, 4, 3}, {0x14, 0, 3}, {0x4F, 4, 7}};
  for (const Case &c : cases) {
    SimBoard b = Make("a", "1:1:1");
    b.input_config = c.config;
    for (int k = 0; k < 8; k++) b.count_changes[k] = 10 + k;
    Put(b);
    ASSERT_NE(Find(0), nullptr);
    int first = -9, last = -9;
    EXPECT_EQ(board_read_input_range(list_->handle, &first, &last), 0);
    EXPECT_EQ(first, c.first) << c.config;
    EXPECT_EQ(last, c.last) << c.config;
    int counters[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int stored = board_read_counters(list_->handle, counters, 8);
    EXPECT_EQ(stored, c.last - c.first + 1 > 0 ? c.last - c.first + 1 : 0);
    for (int k = 0; k < 8; k++) {
      bool in_range = k >= c.first && k <= c.last;
      EXPECT_EQ(counters[k], in_range ? 10 + k : -1) << c.config << " " << k;
    }
  }
  // Never past max.
  int small[2] = {-1, -1};
  Put(Make("a", "1:1:1"));
  ASSERT_NE(Find(0), nullptr);
  EXPECT_EQ(board_read_counters(list_->handle, small, 2), 2);
}

TEST_F(BoardTest, BoardCountsPulsesAndRestartsAtEachRead) {
  Add("a", "1:1:1");
  ASSERT_NE(Find(0), nullptr);
  int c[8] = {};
  Edit("a", [](SimBoard *b) {
    SimBoardSetContact(b, 0, true);
    SimBoardSetContact(b, 0, true);  // already closed: no change
    SimBoardPulse(b, 1, 1);
    SimBoardSetContact(b, 2, true);
    SimBoardSetContact(b, 2, false);
  });
  ASSERT_EQ(board_read_counters(list_->handle, c, 8), 8);
  EXPECT_EQ(c[0], 1);
  EXPECT_EQ(c[1], 2);
  EXPECT_EQ(c[2], 2);
  EXPECT_EQ(c[3], 0);
  ASSERT_EQ(board_read_counters(list_->handle, c, 8), 8);
  EXPECT_EQ(c[0], 1);  // still closed: level 1, no changes
  EXPECT_EQ(c[1], 0);
  EXPECT_EQ(c[2], 0);
}

TEST_F(BoardTest, TransferFaults) {
  Add("a", "1:1:1");
  ASSERT_NE(Find(0), nullptr);
  BoardHandle *h = list_->handle;
  unsigned char report[64];
  EXPECT_EQ(board_error(h), nullptr);

  Edit("a", [](SimBoard *b) { b->timeouts = 1; });
  EXPECT_EQ(board_read_status(h, report), -1);
  EXPECT_EQ(board_error(h), nullptr);  // no count came back at all

  Edit("a", [](SimBoard *b) { b->short_reads = 1; });
  EXPECT_EQ(board_read_status(h, report), -1);
  EXPECT_STREQ(board_error(h), "wrong count on reading from the device");
  EXPECT_EQ(board_read_status(h, report), 0);  // the handle stays usable

  Edit("a", [](SimBoard *b) { b->failed_writes = 1; });
  EXPECT_EQ(board_set_output(h, 0, kBoardOutputOn), -1);
  EXPECT_STREQ(board_error(h), "error sending info to device (wrong count)");
  EXPECT_EQ(board_set_output(h, 0, kBoardOutputOn), 0);

  Edit("a", [](SimBoard *b) { b->stall_report = 6; });
  int c[8];
  EXPECT_EQ(board_read_counters(h, c, 8), -1);

  // A failed configuration read leaves the counters unread: the pulse is
  // still counted at the next read.
  Edit("a", [](SimBoard *b) {
    b->stall_report = -1;
    b->input_config = 0x44;
  });
  ASSERT_EQ(board_read_counters(h, c, 8), 8);
  Edit("a", [](SimBoard *b) { SimBoardPulse(b, 0, 1); });
  Edit("a", [](SimBoard *b) { b->short_reads = 1; });
  EXPECT_EQ(board_read_counters(h, c, 8), -1);
  ASSERT_EQ(board_read_counters(h, c, 8), 8);
  EXPECT_EQ(c[0], 2);
  int first = 0, last = 0;
  EXPECT_EQ(board_read_input_range(h, &first, &last), 0);

  // Unplugged, or plugged again: the old handle is dead.
  Edit("a", [](SimBoard *b) { b->plugged = false; });
  EXPECT_EQ(board_read_status(h, report), -1);
  Edit("a", [](SimBoard *b) {
    b->plugged = true;
    b->generation++;
  });
  EXPECT_EQ(board_read_status(h, report), -1);
  ASSERT_NE(Find(0), nullptr);
  EXPECT_EQ(board_read_status(list_->handle, report), 0);
}

TEST_F(BoardTest, OutputsAndStatusWordOnBothLayouts) {
  for (uint32_t version : {3999999u, 4000000u}) {
    Add("a", "1:1:1", version);
    ASSERT_NE(Find(0), nullptr);
    BoardHandle *h = list_->handle;
    EXPECT_EQ(board_set_output(h, 5, kBoardOutputOn), 0);
    EXPECT_EQ(board_set_output(h, 9, kBoardOutputOn), 0);
    EXPECT_EQ(board_set_output(h, 9, kBoardOutputOff), 0);
    EXPECT_EQ(board_set_output(h, 0, kBoardOutputOn), 0);
    SimBoard b = Get("a");
    EXPECT_EQ(b.outputs, (1u << 5) | 1u);
    ASSERT_EQ(b.commands.size(), 4u);
    EXPECT_EQ(b.commands[0], "041c000004010000");
    EXPECT_EQ(b.commands[2], "041c000008020000");
    unsigned char report[64];
    ASSERT_EQ(board_read_status(h, report), 0);
    unsigned word = board_status_word(report);
    EXPECT_EQ(word, (1u << board_line_bit(version, 5)) | 1u) << version;
  }
}

TEST_F(BoardTest, OnewireReportsInPages) {
  SimBoard b = Make("a", "1:1:1");
  for (int i = 0; i < 7; i++) {
    SimSensor s = {{0x28, static_cast<unsigned char>(i), 0, 0, 0, 0, 0, 0xB6},
                   static_cast<int16_t>(i * 16)};
    b.sensors.push_back(s);
  }
  b.sensors[0].raw = static_cast<int16_t>(0x8000);
  b.sensors[1].raw = 0x7FFF;
  b.sensors[6].raw = -8;
  Put(b);
  ASSERT_NE(Find(0), nullptr);
  unsigned char report[64];
  BoardOnewireSlot slots[6];
  ASSERT_EQ(board_read_onewire(list_->handle, report), 0);
  EXPECT_TRUE(board_onewire_more(report));
  ASSERT_EQ(board_onewire_slots(report, slots, 6), 6);
  EXPECT_EQ(slots[0].raw, -32768);
  EXPECT_EQ(slots[1].raw, 32767);
  EXPECT_EQ(slots[5].rom[1], 5);
  EXPECT_EQ(slots[5].rom[7], 0xB6);
  ASSERT_EQ(board_read_onewire(list_->handle, report), 0);
  EXPECT_FALSE(board_onewire_more(report));
  ASSERT_EQ(board_onewire_slots(report, slots, 6), 1);
  EXPECT_EQ(slots[0].raw, -8);

  Edit("a", [](SimBoard *s) { s->onewire_layout = 0; });
  ASSERT_EQ(board_read_onewire(list_->handle, report), 0);
  EXPECT_EQ(board_onewire_slots(report, slots, 6), 4);
  EXPECT_TRUE(board_onewire_more(report));
  Edit("a", [](SimBoard *s) { s->onewire_layout = 2; });
  ASSERT_EQ(board_read_onewire(list_->handle, report), 0);
  EXPECT_EQ(board_onewire_slots(report, slots, 6), 0);
}

TEST_F(BoardTest, SimulatedBoardFileRoundTrip) {
  SimBoard b = Make("a", "1:2:3");
  b.manufacturer.text = "";
  b.product.present = false;
  b.garbage[3] = 101;
  b.sensors.push_back({{1, 2, 3, 4, 5, 6, 7, 8}, -1});
  b.commands.push_back("041c000001000000");
  Put(b);
  SimBoard back = Get("a");
  EXPECT_EQ(SimBoardFormat(back), SimBoardFormat(b));
  EXPECT_TRUE(back.manufacturer.present);
  EXPECT_FALSE(back.product.present);
  std::string err;
  EXPECT_FALSE(SimBoardParse("version many\n", &back, &err));
  EXPECT_NE(err.find("line 1"), std::string::npos);
}

// Board files outlive the programs that write them: the text stays exactly
// as it was, and words may be separated by any blanks.
TEST(SimBoardFile, KeepsItsExactText) {
  const std::string text =
      "plugged yes\ngeneration 3\nopen_fails no\nvendor 16c0\n"
      "product_id 05df\nmanufacturer Tarnwick www.tarnwick-controls.example\n"
      "product QTR0xx\nserial 1:1:2\nversion 4000001\ninput_config 44\n"
      "outputs 0a1\nlevels 0f\ncount_base 0 1 0 0 0 0 0 2\n"
      "count_changes 0 0 0 0 0 0 0 0\ngarbage -1 -1 -1 -1 -1 -1 -1 -1\n"
      "onewire_layout 1\nonewire_endless no\nonewire_cursor 0\n"
      "sensor 28000000000000a1 352\nsensor 28000000000000b2 -88\n"
      "short_reads 0\nfailed_writes 2\ntimeouts 0\nstall_report -1\n"
      "reads 12345678901\nwrites 7\ncommand 041c000001000000\n";
  SimBoard b;
  std::string err;
  ASSERT_TRUE(SimBoardParse(text, &b, &err)) << err;
  EXPECT_EQ(text, SimBoardFormat(b));

  ASSERT_TRUE(
      SimBoardParse("count_base 1\t 2 3 4 5 6 7 8 9\n\n"
                    "sensor  28000000000000a1\t-5 extra",
                    &b, &err));
  EXPECT_EQ(8, b.count_base[7]);
  ASSERT_EQ(1u, b.sensors.size());
  EXPECT_EQ(-5, b.sensors[0].raw);
  EXPECT_FALSE(SimBoardParse("garbage 1 2 3 4 5 6 7\n", &b, &err));
  EXPECT_FALSE(
      SimBoardParse("plugged yes\nsensor 28000000000000a1\n", &b, &err));
  EXPECT_NE(err.find("line 2"), std::string::npos);
}

TEST(CloexecScan, MarksOnlyMatchingDescriptors) {
  TestDir dir;
  std::string a = dir.File("usb-001"), b = dir.File("other");
  int fa = open(a.c_str(), O_CREAT | O_RDWR, 0600);
  int fb = open(b.c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(fa, 0);
  ASSERT_GE(fb, 0);
  std::string prefix = dir.File("usb-");
  const char *prefixes[] = {prefix.c_str(), nullptr};
  EXPECT_EQ(mark_cloexec_by_path(prefixes), 1);
  EXPECT_TRUE(fcntl(fa, F_GETFD) & FD_CLOEXEC);
  EXPECT_FALSE(fcntl(fb, F_GETFD) & FD_CLOEXEC);
  EXPECT_EQ(mark_cloexec_by_path(prefixes), 0);
  close(fa);
  close(fb);
}

}  // namespace
