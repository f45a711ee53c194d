#include "cli/consolesink.h"

#include "cli/command.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace brindlemark::cli {

ConsoleSink::ConsoleSink() : terminal_(isatty(fileno(stderr)) != 0), start_(std::chrono::steady_clock::now()) {}

ConsoleSink::~ConsoleSink() {
    clearBar();
}

void ConsoleSink::message(const std::string& text) {
    clearBar();
    printError(text);
    std::fflush(stderr);
}

void ConsoleSink::progress(std::size_t done, std::size_t total) {
    using namespace std::chrono_literals;
    if (!terminal_ || total == 0 || std::chrono::steady_clock::now() - start_ < 500ms)
        return;
    constexpr std::size_t width = 40;
    const std::size_t filled = done >= total ? width : done * width / total;
    std::string bar = "\r[" + std::string(filled, '#') + std::string(width - filled, ' ') + "] " +
                      std::to_string(done * 100 / total) + "%";
    std::fputs(bar.c_str(), stderr);
    std::fflush(stderr);
    barShown_ = true;
}

void ConsoleSink::clearBar() {
    if (!barShown_)
        return;
    std::fprintf(stderr, "\r%s\r", std::string(48, ' ').c_str());
    barShown_ = false;
}

} // namespace brindlemark::cli
