#pragma once

#include "core/messagesink.h"

#include <string>
#include <vector>

namespace brindlemark::testing {

// Keeps every message a command shows, in order.
struct RecordingSink : MessageSink {
    std::vector<std::string> messages;
    void message(const std::string& text) override { messages.push_back(text); }
};

} // namespace brindlemark::testing
