#include "config/ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "core/log_test_support.h"
#include "util/script_variable.h"

namespace {

struct Loaded {
  TestDir dir;
  IniFile ini;
  bool ok;
  explicit Loaded(const std::string &text) {
    dir.Write("t.ini", text);
    ok = ini.Load(dir.File("t.ini").c_str());
  }
};

}  // namespace

TEST(IniFile, CommentsAndBlankLinesOnly) {
  Loaded l("# a comment\n\n   ; indented comment\n \t \n");
  EXPECT_TRUE(l.ok);
  EXPECT_EQ(l.ini.CountSections("general"), 0);
}

TEST(IniFile, ValuesAndIntegers) {
  Loaded l(
      "[console]\nport = 7280\nbad = 7280x\nempty =\nneg =  -5 \n"
      "hash = a # not a comment\n");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.ini.GetInt("console", nullptr, "port", 1), 7280);
  EXPECT_EQ(l.ini.GetInt("console", nullptr, "bad", 1), 1);
  EXPECT_EQ(l.ini.GetInt("console", nullptr, "empty", 1), 1);
  EXPECT_EQ(l.ini.GetInt("console", nullptr, "neg", 1), -5);
  EXPECT_EQ(l.ini.GetInt("console", nullptr, "missing", 3), 3);
  EXPECT_STREQ(l.ini.GetValue("console", nullptr, "hash"), "a # not a comment");
  EXPECT_STREQ(l.ini.GetValue("nope", nullptr, "port"), "");
  EXPECT_EQ(l.ini.GetString("console", nullptr, "empty", nullptr), nullptr);
  EXPECT_STREQ(l.ini.GetString("console", nullptr, "empty", "d"), "d");
}

TEST(IniFile, SyntaxErrorsCarryTheirLine) {
  struct Case {
    const char *text;
    int line;
    const char *error;
  } cases[] = {
      {"[general]\nkey=value\n", 2, IniFile::kBadParameter},
      {"[general]\nkey\n", 2, IniFile::kBadParameter},
      {"\n\nkey = v\n", 3, IniFile::kOutsideSection},
      {"[event door open]\n", 1, IniFile::kBadHeader},
      {"[event door\n", 1, IniFile::kBadHeader},
      {"# c\n  continued\n", 2, IniFile::kOutsideParameter},
      {"+continued\n", 1, IniFile::kOutsideParameter},
  };
  for (const Case &c : cases) {
    Loaded l(c.text);
    EXPECT_FALSE(l.ok) << c.text;
    EXPECT_EQ(l.ini.ErrorLine(), c.line) << c.text;
    EXPECT_STREQ(l.ini.ErrorText(), c.error) << c.text;
  }
  std::string long_line = "[g]\nk = " + std::string(1100, 'x') + "\n";
  Loaded l(long_line);
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.ini.ErrorLine(), 2);
  EXPECT_STREQ(l.ini.ErrorText(), IniFile::kLineTooLong);
  // A line of exactly 1022 characters and its newline still fits.
  Loaded fits("[g]\n" + std::string("k = ") + std::string(1018, 'y') + "\n");
  EXPECT_TRUE(fits.ok);

  IniFile missing;
  EXPECT_FALSE(missing.Load("/nonexistent/dir/x.ini"));
  EXPECT_EQ(missing.ErrorLine(), -1);
  EXPECT_STREQ(missing.ErrorText(), IniFile::kCantOpen);
}

TEST(IniFile, ErrorKeepsWhatWasReadBefore) {
  Loaded l("[general]\nname = a\n[bad\n");
  EXPECT_FALSE(l.ok);
  EXPECT_STREQ(l.ini.GetValue("general", nullptr, "name"), "a");
}

TEST(IniFile, RepeatedKeysAndContinuations) {
  Loaded l(
      "[e]\naction = a\naction = b\n"
      "message = first\n  second\n+\n+third\n"
      "[other]\n  after header\n"
      "empty =\nempty = x\n");
  ASSERT_TRUE(l.ok);
  EXPECT_STREQ(l.ini.GetValue("e", nullptr, "action"), "a,b");
  EXPECT_STREQ(l.ini.GetValue("e", nullptr, "message"),
               "first\n second\n\nthird\n after header");
  EXPECT_STREQ(l.ini.GetValue("other", nullptr, "empty"), "x");
}

// Small sections are searched key by key, large ones through an index
// built on the way: both find every key, repeats and continuations.
TEST(IniFile, SectionsOfManyKeysKeepEveryKey) {
  std::string text = "[device 1]\n";
  for (int i = 0; i < 20; i++)
    text +=
        "output:" + std::to_string(i) + " = line" + std::to_string(i) + "\n";
  text += "output:3 = again\noutput:15 = again\n+more\n";
  Loaded l(text);
  ASSERT_TRUE(l.ok);
  EXPECT_STREQ(l.ini.GetValue("device", "1", "output:0"), "line0");
  EXPECT_STREQ(l.ini.GetValue("device", "1", "output:3"), "line3,again");
  EXPECT_STREQ(l.ini.GetValue("device", "1", "output:7"), "line7");
  EXPECT_STREQ(l.ini.GetValue("device", "1", "output:15"),
               "line15,again\nmore");
  EXPECT_STREQ(l.ini.GetValue("device", "1", "output:19"), "line19");
  EXPECT_STREQ(l.ini.GetValue("device", "1", "output:20"), "");
  l.ini.SetValue("device", "1", "output:20", "new", true);
  l.ini.SetValue("device", "1", "output:1", "x", true);
  EXPECT_STREQ(l.ini.GetValue("device", "1", "output:20"), "new");
  EXPECT_STREQ(l.ini.GetValue("device", "1", "output:1"), "x");
}

TEST(IniFile, HeadersSelectSections) {
  Loaded l(
      "[general]\na = 1\n[general]\nb = 2\n"
      "[event door] trailing text\nfsm = s\n"
      "[page first]\nx = 1\n[page second]\ny = 2\n[page]\nz = 3\n"
      "[]\nq = 1\n[blank ]\nk = v\n");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.ini.CountSections("general"), 1);
  EXPECT_STREQ(l.ini.GetValue("general", nullptr, "b"), "2");
  EXPECT_STREQ(l.ini.GetValue("event", "door", "fsm"), "s");
  // A header with only the type continues the first section of the type.
  EXPECT_STREQ(l.ini.GetValue("page", "first", "z"), "3");
  EXPECT_STREQ(l.ini.SectionName("page", 1), "second");
  EXPECT_STREQ(l.ini.SectionName("page", 2), "");
  EXPECT_STREQ(l.ini.GetValue("", nullptr, "q"), "1");
  EXPECT_STREQ(l.ini.GetValue("blank", "", "k"), "v");
  EXPECT_STREQ(l.ini.GetValue("blank", "x", "k"), "");
}

TEST(IniFile, ASectionFoundOnceReadsLikeGetValue) {
  Loaded l("[page first]\nx = 1\nn = 12\nbad = 1x\n[page second]\ny = 2\n");
  ASSERT_TRUE(l.ok);
  const IniFile::Section *first = l.ini.GetSection("page", nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, l.ini.GetSection("page", "first"));
  EXPECT_STREQ(l.ini.ValueIn(first, "x"), "1");
  EXPECT_STREQ(l.ini.ValueIn(first, "y"), "");
  EXPECT_EQ(l.ini.IntIn(first, "n", -1), 12);
  EXPECT_EQ(l.ini.IntIn(first, "bad", -1), -1);
  EXPECT_STREQ(l.ini.ValueIn(l.ini.GetSection("page", "second"), "y"), "2");
  EXPECT_EQ(l.ini.GetSection("page", "third"), nullptr);
  EXPECT_EQ(l.ini.GetSection("nope", nullptr), nullptr);
  EXPECT_STREQ(l.ini.ValueIn(nullptr, "x"), "");
  EXPECT_EQ(l.ini.IntIn(nullptr, "n", 7), 7);
}

TEST(IniFile, CrLfReadsLikeLf) {
  Loaded l("[console]\r\nport = 7280\r\ngreeting = hi \r\n");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.ini.GetInt("console", nullptr, "port", 0), 7280);
  EXPECT_STREQ(l.ini.GetValue("console", nullptr, "greeting"), "hi");
}

TEST(IniFile, QualifiedLookupFallsBack) {
  Loaded l(
      "[console]\ngreeting = plain\ngreeting:trusted = special\n"
      "greeting:untrusted =\n");
  ASSERT_TRUE(l.ok);
  EXPECT_STREQ(
      l.ini.GetQualified("console", nullptr, "greeting", "trusted", nullptr),
      "special");
  EXPECT_STREQ(
      l.ini.GetQualified("console", nullptr, "greeting", "untrusted", nullptr),
      "plain");
  EXPECT_EQ(l.ini.GetQualified("console", nullptr, "nokey", "trusted", nullptr),
            nullptr);
}

TEST(IniFile, SaveLayoutAndRoundTrip) {
  TestDir dir;
  IniFile ini;
  ini.SetValue("Outputs", nullptr, "pump", "on", true);
  ini.SetValue("Outputs", nullptr, "siren", "off", true);
  ini.SetValue("State", nullptr, "alert", "security.armed heat.eco", true);
  ini.SetValue("TempSensor", "boiler", "wmark_1", "high", true);
  ini.SetValue("TempSensor", "boiler", "wmark_1", "low", false);
  ASSERT_TRUE(ini.Save(dir.File("s.state").c_str()));
  EXPECT_EQ(dir.Read("s.state"),
            "[Outputs ]\n\npump = on\nsiren = off\n\n\n"
            "[State ]\n\nalert = security.armed heat.eco\n\n\n"
            "[TempSensor boiler]\n\nwmark_1 = high,low\n\n\n");
  IniFile back;
  ASSERT_TRUE(back.Load(dir.File("s.state").c_str()));
  EXPECT_STREQ(back.GetValue("Outputs", "", "siren"), "off");
  EXPECT_STREQ(back.GetValue("TempSensor", "boiler", "wmark_1"), "high,low");
  EXPECT_EQ(back.CountSections("State"), 1);
}

TEST(IniFile, FailedSaveLeavesTheOldFileIntact) {
  TestDir dir;
  IniFile old_doc;
  old_doc.SetValue("State", nullptr, "alert", "security.armed", true);
  ASSERT_TRUE(old_doc.Save(dir.File("s.state").c_str()));
  std::string before = dir.Read("s.state");

  IniFile big;
  for (int i = 0; i < 2000; i++)
    big.SetValue("Variables", nullptr, ScriptFormat("v%d", i).c_str(), "value",
                 true);
  // A file size limit makes the write fail half way, as a full disk would.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = {4096, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  bool ok = big.Save(dir.File("s.state").c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);

  EXPECT_FALSE(ok);
  EXPECT_STREQ(big.ErrorText(), IniFile::kCantWrite);
  EXPECT_EQ(dir.Read("s.state"), before);
  // No temporary file is left behind.
  EXPECT_EQ(
      std::system(("test $(ls -A '" + dir.Path() + "' | wc -l) -eq 1").c_str()),
      0);

  EXPECT_FALSE(big.Save("/nonexistent/dir/s.state"));
  EXPECT_STREQ(big.ErrorText(), IniFile::kCantOpen);
}

namespace {

// Records what a listening load reports, one text per line.
struct Recorder : IniFile::Listener {
  std::vector<std::string> seen;
  void OnSection(int line, const std::string &type,
                 const std::string &name) override {
    seen.push_back(std::to_string(line) + " [" + type + "|" + name + "]");
  }
  void OnParameter(int line, const std::string &key) override {
    seen.push_back(std::to_string(line) + " " + key);
  }
  void OnError(int line, const char *text) override {
    seen.push_back(std::to_string(line) + " ! " + text);
  }
};

}  // namespace

TEST(IniFile, ListenerSeesEveryFaultAndGoesOn) {
  TestDir dir;
  dir.Write("t.ini",
            "orphan = 1\n"         // 1: outside a section
            "[general]\n"          // 2
            "name = a\n"           // 3
            "bad=value\n"          // 4
            "[event door open]\n"  // 5: bad header
            "action = skipped\n"   // 6: under the bad header
            "[state named]\n"      // 7
            "[state]\n"            // 8: selects "named"
            "lamp = on\n" +        // 9
                std::string(1100, 'x') +
                "\n"             // 10: too long
                "after = 2\n");  // 11
  IniFile ini;
  Recorder r;
  EXPECT_FALSE(ini.Load(dir.File("t.ini").c_str(), &r));
  // The first fault is the one a plain load reports.
  EXPECT_EQ(ini.ErrorLine(), 1);
  EXPECT_STREQ(ini.ErrorText(), IniFile::kOutsideSection);
  std::vector<std::string> expected = {"1 ! data outside of a section",
                                       "2 [general|]",
                                       "3 name",
                                       "4 ! invalid dictionary line syntax",
                                       "5 ! invalid header syntax",
                                       "7 [state|named]",
                                       "8 [state|named]",
                                       "9 lamp",
                                       "10 ! line too long (max 1024)",
                                       "11 after"};
  EXPECT_EQ(r.seen, expected);
  EXPECT_STREQ(ini.GetValue("event", "door", "action"), "");
  EXPECT_STREQ(ini.GetValue("general", nullptr, "action"), "");
  EXPECT_STREQ(ini.GetValue("state", "named", "after"), "2");

  // Without a listener the same file stops at its first line.
  IniFile plain;
  EXPECT_FALSE(plain.Load(dir.File("t.ini").c_str()));
  EXPECT_EQ(plain.CountSections("general"), 0);
}
