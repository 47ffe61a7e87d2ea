// The configuration reader: load the input as a file, look a few values up,
// save the document and load the saved file again.
#include <cctype>
#include <cstring>
#include <string>

#include "config/ini_file.h"
#include "fuzz/fuzz_support.h"

// Save writes values unchanged, so a continuation line (a value with a
// newline) or the empty type ("[]") does not read back as it was.  Without
// them a reloaded document must save to the very same bytes.
static bool ReadsBackUnchanged(const uint8_t *data, size_t size) {
  bool line_start = true;
  for (size_t i = 0; i < size; i++) {
    unsigned char c = data[i];
    if (line_start && (isspace(c) || c == '+')) return false;
    line_start = c == '\n';
  }
  return true;
}

static void LookUp(const IniFile &doc) {
  static const char *const kTypes[] = {"general", "command", "event", "state"};
  for (const char *type : kTypes) {
    int count = doc.CountSections(type);
    FUZZ_CHECK(count >= 0);
    FUZZ_CHECK(doc.SectionName(type, count)[0] == '\0');
    for (int i = 0; i < count && i < 8; i++) {
      const char *name = doc.SectionName(type, i);
      FUZZ_CHECK(name != nullptr);
      FUZZ_CHECK(doc.GetValue(type, name, "action") != nullptr);
      doc.GetInt(type, name, "args", -1);
      doc.GetQualified(type, name, "transit", "armed", nullptr);
    }
    doc.GetString(type, nullptr, "port", "dflt");
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string input = ScratchPath("input.ini");
  static const std::string saved = ScratchPath("saved.ini");
  static const std::string again = ScratchPath("again.ini");
  WriteWholeFile(input, data, size);

  IniFile doc;
  if (doc.Load(input.c_str())) {
    FUZZ_CHECK(doc.ErrorLine() == -1 && doc.ErrorText() == nullptr);
  } else {
    // Every failure of an existing file names a line of it.
    FUZZ_CHECK(doc.ErrorText() != nullptr);
    FUZZ_CHECK(doc.ErrorLine() >= 1);
    FUZZ_CHECK(doc.ErrorText() != IniFile::kCantOpen);
  }
  LookUp(doc);

  FUZZ_CHECK(doc.Save(saved.c_str()));
  IniFile reloaded;
  // A saved document may not load again (joined repeated keys can make a
  // line too long); it must never crash the reader.
  if (reloaded.Load(saved.c_str()) && ReadsBackUnchanged(data, size) &&
      doc.CountSections("") == 0) {
    FUZZ_CHECK(reloaded.Save(again.c_str()));
    FUZZ_CHECK(ReadWholeFile(saved) == ReadWholeFile(again));
  }
  LookUp(reloaded);
  return 0;
}
