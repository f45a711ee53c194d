#pragma once

#include <cstddef>
#include <string>

namespace brindlemark {

// Where a command reports to the user: the window shows each message in a modal box, the command-line tool
// prints it on standard error. Commands return what they did; everything the user must read goes through here.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // One message, shown on its own.
    virtual void message(const std::string& text) = 0;
    // A warning that does not stop the command (a malformed list line, a collision while loading); shown as
    // a message unless the sink does better.
    virtual void warning(const std::string& text) { message(text); }
    // How far a long command has come; `done` of `total` steps. Nothing needs to be shown.
    virtual void progress(std::size_t done, std::size_t total) {
        (void)done;
        (void)total;
    }
};

// Shows each line of what taking a run's locks found and finished of an earlier run that stopped part-way.
template <class Locks> void reportRecovered(const Locks& locks, MessageSink& sink) {
    for (const std::string& line : locks.recovered)
        sink.warning(line);
}

} // namespace brindlemark
