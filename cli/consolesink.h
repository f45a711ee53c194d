#pragma once

#include "core/messagesink.h"

#include <chrono>

namespace brindlemark::cli {

// Shows a command's messages on standard error, one line each, and remembers whether any of them reported a
// failure. Progress is drawn as a bar on standard error when that is a terminal and the command has been running
// for more than a moment.
class ConsoleSink : public MessageSink {
public:
    ConsoleSink();
    ~ConsoleSink() override;

    void message(const std::string& text) override;
    void progress(std::size_t done, std::size_t total) override;

private:
    void clearBar();

    bool terminal_;
    bool barShown_ = false;
    std::chrono::steady_clock::time_point start_;
};

} // namespace brindlemark::cli
