#include "core/event_sink.h"

static EventSink event_sink = nullptr;

void SetEventSink(EventSink sink) { event_sink = sink; }

void RaiseEvent(const ScriptVariable &event_line) {
  if (event_sink) event_sink(event_line);
}
