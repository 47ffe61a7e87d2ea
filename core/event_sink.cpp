#include "core/event_sink.h"

#include "core/process_state.h"

static EventSink event_sink = nullptr;

void SetEventSink(EventSink sink) { event_sink = sink; }

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kCore, [] { SetEventSink(nullptr); });

void RaiseEvent(const ScriptVariable &event_line) {
  if (event_sink) event_sink(event_line);
}
