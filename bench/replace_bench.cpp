// Times the Replace command on a large map: every identifier of a 20,000-object bundle renamed through its
// identifier list, with three 16 MB trigger files to patch, in three shapes: the plain generated bundle, one
// dense with references (about 40 identifiers in the string values of every object), and 50,000 objects in the
// shape of real maps (realMapShape()). Each is timed in this
// process (loading excluded) and as a whole `brindlemark-cli replace` process, interleaved with `cp` of the
// same four files. Then, on a 2,000-object map, the command against the plain step-by-step one (every pair over
// every object, every rename over every value and every side file).
//
// With --large-side MB, only one run: a whole `brindlemark-cli replace` process on a 2,000-object map with one side
// file of MB megabytes, its time and its peak resident memory.
//
//   brindlemark_bench_replace [--dir DIR] [--cli PATH] [--runs N] [--large-side MB]
#include "bench/generatebundle.h"
#include "core/fileio.h"
#include "replace/renaming.h"
#include "replace/replacecommand.h"
#include "tests/replace/plainreplace.h"
#include "tests/support/commandcalls.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace brindlemark::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct QuietSink : MessageSink {
    std::vector<std::string> messages;
    void message(const std::string& text) override { messages.push_back(text); }
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Every identifier of the bundle once.
std::vector<ObjectId> identifiers(const ObjectBundle& bundle) {
    std::set<std::uint32_t> seen;
    std::vector<ObjectId> ids;
    for (ObjectKind k : kAllObjectKinds) {
        const ObjectFile& file = bundle.kind(k).file;
        for (const ObjectTable* table : {&file.standardTable, &file.customTable})
            for (const ObjectRecord& r : table->objects())
                if (seen.insert(r.effectiveId().value()).second)
                    ids.push_back(r.effectiveId());
    }
    return ids;
}

// A replace list giving every identifier a new one that nothing in the bundle uses.
std::string renameEverything(const std::vector<ObjectId>& ids) {
    std::set<std::string> taken;
    for (ObjectId id : ids) {
        std::string lower = id.text();
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        taken.insert(lower);
    }
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string list;
    std::size_t counter = 0;
    for (ObjectId id : ids) {
        std::string fresh;
        do {
            const std::size_t n = counter++;
            fresh = std::string(1, "xyz"[n / 46656 % 3]) + digits[n / 1296 % 36] + digits[n / 36 % 36] + digits[n % 36];
        } while (taken.count(fresh));
        list += id.text() + " " + fresh + "\r\n";
    }
    return list;
}

// Trigger-like text of `bytes` bytes holding `occurrences` identifiers of `ids`.
std::vector<std::uint8_t> triggerFile(std::size_t bytes, std::size_t occurrences, const std::vector<ObjectId>& ids,
                                      unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out;
    out.reserve(bytes);
    const std::size_t gap = bytes / (occurrences + 1);
    static const char filler[] = "call SetUnitState(GetTriggerUnit(), UNIT_STATE_LIFE, 100.0)\n    local integer i ";
    while (out.size() < bytes) {
        for (std::size_t i = 0; i < gap && out.size() < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(filler[(out.size() + rng()) % (sizeof filler - 1)]));
        const ObjectId id = ids[rng() % ids.size()];
        out.push_back('\'');
        out.insert(out.end(), id.bytes.begin(), id.bytes.end());
        out.push_back('\'');
    }
    out.resize(bytes);
    return out;
}

struct Map {
    fs::path bundle;
    fs::path list;
    std::vector<fs::path> sides;
};

Map writeMap(const fs::path& dir, const char* name, std::size_t objects, std::size_t mods, std::size_t sideBytes,
             std::size_t occurrences, std::size_t references = 0, bool realMap = false) {
    fs::create_directories(dir);
    ObjectBundle bundle;
    BundleShape shape = realMap ? realMapShape() : BundleShape{};
    shape.objectCount = objects;
    shape.modificationCount = mods;
    shape.seed = 7;
    shape.referencesPerObject = references;
    generateBundle(shape, bundle);
    Map map;
    map.bundle = dir / (std::string(name) + ".w3o");
    map.list = dir / (std::string(name) + "_IdList.txt");
    std::string error;
    if (!saveGenerated(bundle, shape, map.bundle, error))
        std::fprintf(stderr, "%s\n", error.c_str());
    const std::vector<ObjectId> ids = identifiers(bundle);
    const std::string list = renameEverything(ids);
    if (!saveBytes(map.list, list.data(), list.size(), error))
        std::fprintf(stderr, "%s\n", error.c_str());
    for (int i = 0; i < 3; ++i) {
        map.sides.push_back(dir / (std::string(name) + "_trigger" + std::to_string(i) + ".wtg"));
        const auto bytes = triggerFile(sideBytes, occurrences, ids, static_cast<unsigned>(i));
        if (!saveBytes(map.sides.back(), bytes.data(), bytes.size(), error))
            std::fprintf(stderr, "%s\n", error.c_str());
    }
    return map;
}

// Loads the map afresh (not timed) and times one Replace run on it.
// The Replace command on a bundle held in memory, as the window runs it.
ReplaceReport heldReplace(ObjectBundle& bundle, const BundlePath& path, bool loaded, const ReplaceRequest& request,
                          MessageSink& sink) {
    return replaceIdentifiers(bundle, path, loaded, request, sink);
}

// The same done the plain way, step by step.
ReplaceReport plainReplace(ObjectBundle& bundle, const BundlePath& path, bool loaded, const ReplaceRequest& request,
                           MessageSink& sink) {
    return testing::plainReplaceIdentifiers(bundle, path, loaded, request, sink);
}

template <typename Command> double timeReplace(const Map& map, Command command, std::size_t& renames) {
    const BundlePath path = splitPath(map.bundle);
    ObjectBundle bundle;
    if (!bundle.load(map.bundle, MergePolicy::Glue, [](const std::string&) {}))
        std::fprintf(stderr, "cannot load %s\n", pathText(map.bundle).c_str());
    QuietSink sink;
    const Clock::time_point start = Clock::now();
    const ReplaceReport report = command(bundle, path, true, ReplaceRequest{map.list, map.sides, true}, sink);
    const double seconds = secondsSince(start);
    renames = report.renames.size();
    for (const std::string& m : sink.messages)
        if (m.rfind("Процесс изменения завершен!", 0) != 0)
            std::fprintf(stderr, "message: %s\n", m.c_str());
    return seconds;
}

void restore(const Map& map, const std::vector<std::vector<std::uint8_t>>& originals) {
    std::string error;
    const std::vector<fs::path> files = {map.bundle, map.sides[0], map.sides[1], map.sides[2]};
    for (std::size_t i = 0; i < files.size(); ++i)
        if (!saveBytes(files[i], originals[i].data(), originals[i].size(), error))
            std::fprintf(stderr, "%s\n", error.c_str());
}

std::vector<std::vector<std::uint8_t>> snapshot(const Map& map) {
    std::vector<std::vector<std::uint8_t>> out;
    std::string error;
    for (const fs::path& f : {map.bundle, map.sides[0], map.sides[1], map.sides[2]}) {
        out.emplace_back();
        if (!readFile(f, out.back(), error))
            std::fprintf(stderr, "%s\n", error.c_str());
    }
    return out;
}

// Runs a program as a whole process, its standard output going to /dev/null; the seconds it took, or a negative
// number when it failed.
double runProcess(const std::vector<std::string>& args, long* peakKb = nullptr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> storage = args;
    std::vector<char*> argv;
    for (std::string& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (peakKb)
        *peakKb = usage.ru_maxrss;
    const double seconds = secondsSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

struct Figures {
    double best = 0;
    double median = 0;
};

Figures figures(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    return {seconds.front(), seconds[seconds.size() / 2]};
}

// One large map: the command in this process, then the whole `brindlemark-cli replace` process and `cp` of the
// same files, interleaved run by run so that both see the same load on the machine.
void timeLargeMap(const Map& map, const char* title, const std::string& cli, int runs) {
    const auto originals = snapshot(map);
    std::printf("%s: %zu bytes of bundle, three side files of %zu bytes\n", title, originals[0].size(),
                originals[1].size());
    std::vector<double> inProcess;
    std::size_t renames = 0;
    for (int i = 0; i < runs; ++i) {
        restore(map, originals);
        inProcess.push_back(timeReplace(map, heldReplace, renames));
    }
    const fs::path copies = map.bundle.parent_path() / "copies";
    fs::create_directories(copies);
    std::vector<double> whole;
    std::vector<double> copying;
    for (int i = 0; i < runs; ++i) {
        restore(map, originals);
        whole.push_back(
            runProcess({cli, "replace", map.bundle.string(), "--list", map.list.string(), "--side",
                        map.sides[0].string(), "--side", map.sides[1].string(), "--side", map.sides[2].string()}));
        copying.push_back(runProcess({"cp", map.bundle.string(), map.sides[0].string(), map.sides[1].string(),
                                      map.sides[2].string(), copies.string()}));
        if (whole.back() < 0 || copying.back() < 0)
            std::fprintf(stderr, "a run failed\n");
    }
    restore(map, originals);
    fs::remove_all(copies);
    const Figures in = figures(inProcess);
    const Figures out = figures(whole);
    const Figures cp = figures(copying);
    std::printf("  %zu renames; in this process (loading excluded): best %.3f s, median %.3f s\n", renames, in.best,
                in.median);
    std::printf("  whole process, brindlemark-cli replace: best %.3f s, median %.3f s   target < 0.5 s (median): %s\n",
                out.best, out.median, out.median < 0.5 ? "met" : "MISSED");
    std::printf("  cp of the bundle and the three side files:  best %.3f s, median %.3f s (%d runs, interleaved)\n\n",
                cp.best, cp.median, runs);
}

// One side file of `megabytes` MB (a 16 MB trigger file over and over) patched by a whole process: its time and
// peak resident memory, beside `cp` of the same file.
int runLargeSide(const fs::path& dir, const std::string& cli, std::size_t megabytes) {
    const Map map = writeMap(dir / "largeside", "largeside", 2000, 50000, 16u << 20, 50000);
    const fs::path side = map.sides[0].parent_path() / "large.wtg";
    std::vector<std::uint8_t> piece;
    std::string error;
    if (!readFile(map.sides[0], piece, error))
        std::fprintf(stderr, "%s\n", error.c_str());
    {
        std::FILE* out = std::fopen(side.string().c_str(), "wb");
        for (std::size_t written = 0; out && written < (megabytes << 20); written += piece.size())
            std::fwrite(piece.data(), 1, std::min(piece.size(), (megabytes << 20) - written), out);
        if (out)
            std::fclose(out);
    }
    const std::uintmax_t size = fs::file_size(side);
    long peakKb = 0;
    const double seconds = runProcess(
        {cli, "replace", map.bundle.string(), "--list", map.list.string(), "--side", side.string()}, &peakKb);
    long copyKb = 0;
    const double copy = runProcess({"cp", side.string(), (dir / "largeside" / "copy.wtg").string()}, &copyKb);
    std::printf("One side file of %ju bytes, 2,000-object map: brindlemark-cli replace %.3f s, peak resident "
                "memory %.1f MB (%.3f of the side file); cp of the side file %.3f s\n",
                size, seconds, peakKb / 1024.0, peakKb * 1024.0 / double(size), copy);
    fs::remove_all(dir / "largeside");
    return seconds < 0 ? 1 : 0;
}

int run(const fs::path& dir, const std::string& cli, int runs) {
    std::printf("Replace command benchmark (files in %s)\n\n", pathText(dir).c_str());

    const Map big = writeMap(dir / "big", "big", 20000, 500000, 16u << 20, 50000);
    timeLargeMap(big, "20,000 objects", cli, runs);
    const Map dense = writeMap(dir / "dense", "dense", 20000, 500000, 16u << 20, 50000, 40);
    timeLargeMap(dense, "20,000 objects, about 40 references in the strings of each", cli, runs);
    const BundleShape real = realMapShape();
    const Map realMap =
        writeMap(dir / "real", "real", real.objectCount, real.modificationCount, 16u << 20, 50000, 0, true);
    timeLargeMap(realMap, "50,000 objects in the shape of real maps (many small modifications, editor's order)", cli,
                 runs);

    const Map small = writeMap(dir / "small", "small", 2000, 50000, 256u << 10, 800);
    const auto smallOriginals = snapshot(small);
    restore(small, smallOriginals);
    std::size_t fastRenames = 0;
    double fast = 1e9;
    for (int i = 0; i < 3; ++i) {
        restore(small, smallOriginals);
        fast = std::min(fast, timeReplace(small, heldReplace, fastRenames));
    }
    const auto fastResult = snapshot(small);
    restore(small, smallOriginals);
    std::size_t plainRenames = 0;
    const double plain = timeReplace(small, plainReplace, plainRenames);
    const auto plainResult = snapshot(small);
    std::printf("2,000 objects, 3 x 256 KB side files: command %.3f s (%zu renames), plain step by step %.3f s "
                "(%zu renames): %.0fx faster  target >= 50x: %s; same bytes written: %s\n",
                fast, fastRenames, plain, plainRenames, plain / fast, plain / fast >= 50 ? "met" : "MISSED",
                fastResult == plainResult ? "yes" : "NO");
    return 0;
}

} // namespace
} // namespace brindlemark::bench

int main(int argc, char** argv) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "brindlemark-bench";
    std::string cli = BRINDLEMARK_CLI;
    int runs = 5;
    std::size_t largeSide = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--dir")
            dir = argv[i + 1];
        else if (arg == "--cli")
            cli = argv[i + 1];
        else if (arg == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (arg == "--large-side")
            largeSide = static_cast<std::size_t>(std::max(1, std::atoi(argv[i + 1])));
    }
    if (largeSide)
        return brindlemark::bench::runLargeSide(dir, cli, largeSide);
    return brindlemark::bench::run(dir, cli, runs);
}
