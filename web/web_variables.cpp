#include "web/web_variables.h"

#include <memory>

#include "config/configuration.h"
#include "core/log.h"
#include "core/process_state.h"

static ScriptVariable g_command_response;
static std::unique_ptr<ScriptSubstitution> g_engine;
static SharedVariables g_shared_variables = nullptr;

void SetWebSharedVariables(SharedVariables add) { g_shared_variables = add; }

ScriptSubstitution &WebPageEngine() {
  if (!g_engine) {
    g_engine.reset(new ScriptSubstitution('%'));
    if (g_shared_variables) g_shared_variables(*g_engine);
    g_engine->AddVariable(
        new ScriptSubstitutionScrVar("cmdresponse", g_command_response));
    g_engine->AddVariable(new WebSubVar);
  }
  return *g_engine;
}

ScriptVariable ExpandWebTemplate(const ScriptVariable &text) {
  return WebPageEngine().Process(text);
}

ScriptVariable &CommandResponseText() { return g_command_response; }

void ResetWebPageEngine() {
  g_engine.reset();
  g_shared_variables = nullptr;
  g_command_response = ScriptVariable();
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kWeb, ResetWebPageEngine);

// Depth of %html:% expansions in progress, and whether the current outermost
// one already hit the bound (then every further fragment gives nothing, so
// a fragment that includes itself many times cannot multiply the work).
static int g_depth = 0;
static bool g_too_deep = false;

ScriptVariable WebSubVar::Lookup(const char *name, int len) {
  static const char kPrefix[] = "html:";
  const int prefix_len = 5;
  if (len <= prefix_len || ScriptVariable(name, prefix_len) != kPrefix)
    return ScriptVariable::Absent();
  ScriptVariable qualifier(name + prefix_len, len - prefix_len);
  if (g_depth == 0) g_too_deep = false;
  if (g_too_deep) return ScriptVariable();
  if (g_depth >= kMaxNesting) {
    LogMessage("conf. error: html fragment ``%s'' nested too deeply",
               qualifier.c_str());
    g_too_deep = true;
    return ScriptVariable();
  }
  ScriptVariable fragment = WebserverHtml(qualifier);
  if (fragment.IsAbsent()) return ScriptVariable();
  g_depth++;
  ScriptVariable value = ExpandWebTemplate(fragment);
  g_depth--;
  return value;
}
