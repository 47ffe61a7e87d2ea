// The %name% engine with one variable of each kind the system uses:
// constants, a string owned elsewhere, a prefix request, argument lists
// and a dictionary.
#include <string>

#include "fuzz/fuzz_support.h"
#include "subst/substitution.h"

namespace {

// %upper:a:b% gives "A|B".
class Upper : public ScriptSubstitutionPrefixRequest {
 public:
  Upper() : ScriptSubstitutionPrefixRequest("upper", ':') {}
  ScriptVariable HandleRequest(const ScriptVector &params) override {
    ScriptVariable out;
    for (size_t i = 0; i < params.size(); i++) {
      if (i > 0) out += "|";
      ScriptVariable p = params[i];
      out += p.Toupper();
    }
    return out;
  }
};

ScriptVariable current_state = "security.armed";

ScriptSubstitution &Engine() {
  static ScriptSubstitution *engine = nullptr;
  if (!engine) {
    engine = new ScriptSubstitution('%');
    // The value holds references of its own, which are never expanded.
    engine->AddVariable(
        new ScriptSubstitutionConst("sysname", "box %state% 100%"));
    engine->AddVariable(new ScriptSubstitutionConst("empty", ""));
    engine->AddVariable(new ScriptSubstitutionScrVar("state", current_state));
    engine->AddVariable(new Upper);
  }
  return *engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  ScriptVariable text(bytes);
  ScriptSubstitution &engine = Engine();

  ScriptVariable plain = engine.Process(text);
  FUZZ_CHECK(!plain.IsAbsent());
  if (bytes.find('%') == std::string::npos) FUZZ_CHECK(plain == text);

  ScriptVector words = {"arm", "now", "please"};
  int start = static_cast<int>(size % 4);
  int count = static_cast<int>(size % 5) - 1;
  engine.Process(text, words, start, count);
  engine.Process(text, words);

  ScriptVector pairs = {"newstate", "security.armed", "zone", ""};
  engine.ProcessDict(text, ScriptVector(), pairs);

  ScriptSubstitutionConst first("state", "overridden");
  engine.ProcessWith(text, &first);
  engine.ProcessWith(text, nullptr);

  engine.SetDelimiter('$');
  ScriptVariable dollar = engine.Process(text);
  engine.SetDelimiter('%');
  if (bytes.find('$') == std::string::npos) FUZZ_CHECK(dollar == text);
  return 0;
}
