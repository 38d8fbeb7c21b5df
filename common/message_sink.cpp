#include "message_sink.h"

namespace {

MessageSink currentSink = nullptr;

}  // namespace

void SetMessageSink(MessageSink sink) { currentSink = sink; }

void ShowMessage(const std::string& text) {
  if (currentSink) currentSink(text);
}
