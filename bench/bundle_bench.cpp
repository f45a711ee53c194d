// Speed and memory of loading and saving a large bundle, against plain file reads and writes of the same bytes,
// for three shapes of about 30 MB each: string-heavy (40 % of the modifications strings, the default generated
// bundle), integer-heavy (85 % integers, 5 % strings) and the shape of real maps (many small modifications,
// realMapShape()). Prints its figures and how they compare with the targets: a whole `brindlemark-cli normalize`
// process at most 4 times a `cp` and at most 1.5 times a `dd conv=fsync` copy (which like normalize is on the
// disk when it ends) of the same file, a whole `brindlemark-cli check` at most 3 times the `cp`, and at most 1.5
// times the file size of memory to load it. The processes run interleaved, so that all see the same load on the
// machine, each after a sync, and are judged on the medians: cp's best time is an outlier at about half its
// median. Beside them runs a safe copy (--copy-safely FROM TO): the same lock, whole read, temporary file, flush,
// check and rename as normalize, without the object data, which shows how much of normalize's time any safe
// rewrite of the file takes on this machine. Linux: uses posix_spawn, getrusage and glibc's malloc_usable_size.
//
// usage: brindlemark_bench_bundle [--shape strings|integers|real] [--objects N] [--modifications N] [--runs N]
//                                 [--dir FOLDER] [--cli PATH]
// Each step runs in a process of its own (--generate, --measure-speed, --measure-memory FILE, --copy-safely), started
// by the benchmark itself.
#include "bench/generatebundle.h"

#include "core/filebuffer.h"
#include "core/fileio.h"
#include "core/filelock.h"
#include "core/filesave.h"
#include "core/objectbundle.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <type_traits>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// ---- Live heap bytes, counted by replacing the global allocation functions of this program

namespace {
// Counting is switched on only in the process that measures memory, so that it does not slow the timings.
bool countHeap = false;
std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

void* counted(void* p) {
    if (!p)
        throw std::bad_alloc();
    if (countHeap) {
        const auto size = static_cast<std::int64_t>(malloc_usable_size(p));
        const std::int64_t now = liveBytes.fetch_add(size) + size;
        std::int64_t peak = peakBytes.load();
        while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
        }
    }
    return p;
}
void release(void* p) {
    if (p) {
        if (countHeap)
            liveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
        std::free(p);
    }
}
void* alignedBlock(std::size_t size, std::align_val_t align) {
    const auto a = static_cast<std::size_t>(align);
    return std::aligned_alloc(a, (size + a - 1) / a * a);
}
} // namespace

void* operator new(std::size_t size) {
    return counted(std::malloc(size ? size : 1));
}
void* operator new[](std::size_t size) {
    return counted(std::malloc(size ? size : 1));
}
void* operator new(std::size_t size, std::align_val_t a) {
    return counted(alignedBlock(size ? size : 1, a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return counted(alignedBlock(size ? size : 1, a));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    void* p = std::malloc(size ? size : 1);
    return p ? counted(p) : nullptr;
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    void* p = std::malloc(size ? size : 1);
    return p ? counted(p) : nullptr;
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}

namespace {

namespace fs = std::filesystem;
using brindlemark::ObjectBundle;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Timing {
    double best = 0;
    double median = 0;
};

// Runs `run` `runs` times; it either returns nothing and is timed whole, or times itself and returns seconds.
template <typename Run> Timing timeRuns(int runs, const Run& run) {
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        if constexpr (std::is_same_v<decltype(run()), double>) {
            seconds.push_back(run());
        } else {
            const auto start = Clock::now();
            run();
            seconds.push_back(secondsSince(start));
        }
    }
    std::sort(seconds.begin(), seconds.end());
    return {seconds.front(), seconds[seconds.size() / 2]};
}

long maxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The resident-set high-water mark of this process's own memory (VmHWM), in KiB. Unlike ru_maxrss it does not
// carry over the parent's figure through posix_spawn and exec.
long highWaterKiB() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    std::fclose(f);
    return kib;
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "brindlemark_bench_bundle: %s\n", message.c_str());
    std::exit(1);
}

std::size_t modificationCount(const ObjectBundle& bundle) {
    std::size_t total = 0;
    for (brindlemark::ObjectKind k : brindlemark::kAllObjectKinds)
        for (const brindlemark::ObjectTable* t : {&bundle.kind(k).file.standardTable, &bundle.kind(k).file.customTable})
            for (std::size_t i = 0; i < t->count(); ++i)
                total += t->at(i).modificationCount();
    return total;
}

std::size_t objectCount(const ObjectBundle& bundle) {
    std::size_t total = 0;
    for (brindlemark::ObjectKind k : brindlemark::kAllObjectKinds)
        total += bundle.kind(k).file.standardTable.count() + bundle.kind(k).file.customTable.count();
    return total;
}

double mb(std::size_t bytes) {
    return static_cast<double>(bytes) / 1e6;
}
double mbKiB(long kib) {
    return static_cast<double>(kib) * 1024.0 / 1e6;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

std::size_t sizeOf(const fs::path& file) {
    return static_cast<std::size_t>(fs::file_size(file));
}

// What normalize makes of the generated file: the file itself, or for one in the editor's order a file beside it.
fs::path normalForm(const fs::path& file) {
    const fs::path normal = fs::path(file).concat(".normal");
    std::error_code ec;
    return fs::exists(normal, ec) ? normal : file;
}

int generate(const brindlemark::bench::BundleShape& shape, const fs::path& file) {
    fs::remove(fs::path(file).concat(".normal"));
    const auto start = Clock::now();
    ObjectBundle generated;
    brindlemark::bench::generateBundle(shape, generated);
    const double generating = secondsSince(start);
    std::string error;
    if (!brindlemark::bench::saveGenerated(generated, shape, file, error) ||
        (shape.editorOrder && !generated.save(fs::path(file).concat(".normal"), error)))
        fail(error);
    std::printf("  generated in %.2f s: %s, %.1f MB (%zu bytes)\n", generating, file.string().c_str(), mb(sizeOf(file)),
                sizeOf(file));
    return 0;
}

// The heap and resident-set growth of loading `file`, then the extra heap of saving it. Run in a fresh process.
int measureMemory(const fs::path& file) {
    const std::size_t fileSize = sizeOf(file);
    countHeap = true;
    const std::int64_t before = liveBytes.load();
    const long rssBefore = maxRssKiB();
    const long hwmBefore = highWaterKiB();
    peakBytes.store(before);
    ObjectBundle bundle;
    const brindlemark::LoadResult result = bundle.load(file, brindlemark::MergePolicy::Glue, [](const std::string&) {});
    if (!result)
        fail(result.error);
    const auto loadPeak = static_cast<std::size_t>(peakBytes.load() - before);
    const auto held = static_cast<std::size_t>(liveBytes.load() - before);
    const long rssAfter = maxRssKiB();
    const long hwmAfter = highWaterKiB();
    const std::int64_t beforeSave = liveBytes.load();
    peakBytes.store(beforeSave);
    std::string error;
    const fs::path saved = fs::path(file).concat(".memory");
    if (!bundle.save(saved, error))
        fail(error);
    const auto savePeak = static_cast<std::size_t>(peakBytes.load() - beforeSave);
    fs::remove(saved);

    const double heapRatio = static_cast<double>(loadPeak) / static_cast<double>(fileSize);
    const long rssGrowth = rssAfter - rssBefore;
    std::printf("\nMemory of one load (fresh process)\n");
    std::printf("  peak live heap during load      %7.1f MB = %.2fx the file   target <= 1.5x: %s\n", mb(loadPeak),
                heapRatio, verdict(heapRatio <= 1.5));
    std::printf("  heap held by the loaded bundle  %7.1f MB = %.2fx the file\n", mb(held),
                static_cast<double>(held) / static_cast<double>(fileSize));
    std::printf("  ru_maxrss growth during load    %7.1f MB = %.2fx the file (%.1f MB to %.1f MB)\n", mbKiB(rssGrowth),
                static_cast<double>(rssGrowth) * 1024.0 / static_cast<double>(fileSize), mbKiB(rssBefore),
                mbKiB(rssAfter));
    const double hwmRatio = static_cast<double>(hwmAfter - hwmBefore) * 1024.0 / static_cast<double>(fileSize);
    std::printf("  VmHWM growth during load        %7.1f MB = %.2fx the file (%.1f MB to %.1f MB; mapped file pages "
                "included)   target <= 1.5x: %s\n",
                mbKiB(hwmAfter - hwmBefore), hwmRatio, mbKiB(hwmBefore), mbKiB(hwmAfter), verdict(hwmRatio <= 1.5));
    std::printf("  extra heap during save          %7.1f MB\n", mb(savePeak));
    return 0;
}

struct ChildResult {
    int status = -1;
    double seconds = 0;
    long maxRssKiB = 0;
};

// Runs a program as a whole process, its standard output going to `out` (or inherited when empty).
ChildResult runChild(const std::vector<std::string>& args, const fs::path& out = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!out.empty())
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> storage = args;
    std::vector<char*> argv;
    for (std::string& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ChildResult result;
    std::fflush(stdout);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        fail("cannot start " + args[0]);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.seconds = secondsSince(start);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.maxRssKiB = usage.ru_maxrss;
    return result;
}

void writePlain(const fs::path& path, const std::vector<std::uint8_t>& bytes, bool sync) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fflush(f) != 0)
        fail("cannot write " + path.string());
    if (sync)
        fsync(fileno(f));
    std::fclose(f);
}

std::vector<std::uint8_t> readPlain(const fs::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        fail("cannot read " + path.string());
    std::vector<std::uint8_t> bytes(sizeOf(path));
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (got != bytes.size())
        fail("short read of " + path.string());
    return bytes;
}

// Whether the two files hold the same bytes, read in small pieces: this process stays small, so that the
// processes it starts do not begin with a large resident-set high-water mark.
bool sameBytes(const fs::path& a, const fs::path& b) {
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    static char bufferA[1 << 16];
    static char bufferB[1 << 16];
    while (same) {
        const std::size_t na = std::fread(bufferA, 1, sizeof bufferA, fa);
        const std::size_t nb = std::fread(bufferB, 1, sizeof bufferB, fb);
        same = na == nb && std::memcmp(bufferA, bufferB, na) == 0;
        if (na < sizeof bufferA)
            break;
    }
    if (fa)
        std::fclose(fa);
    if (fb)
        std::fclose(fb);
    return same;
}

// Load and save through the library against plain stdio reads and writes of the same bytes.
int measureSpeed(const brindlemark::bench::BundleShape& shape, const fs::path& file, int runs) {
    const std::size_t fileSize = sizeOf(file);
    const fs::path saved = fs::path(file).concat(".saved");
    const fs::path plainCopy = fs::path(file).concat(".plain");
    // Each load goes into a fresh bundle; destroying the previous one is not part of the time.
    ObjectBundle loaded;
    const Timing load = timeRuns(runs, [&] {
        loaded.clear();
        ObjectBundle bundle;
        const brindlemark::WarningSink quiet = [](const std::string&) {};
        const auto start = Clock::now();
        if (const brindlemark::LoadResult r = bundle.load(file, brindlemark::MergePolicy::Glue, quiet); !r)
            fail(r.error);
        const double seconds = secondsSince(start);
        loaded = std::move(bundle);
        return seconds;
    });
    if (objectCount(loaded) != shape.objectCount || modificationCount(loaded) != shape.modificationCount)
        fail("the loaded bundle does not hold what was generated");
    const Timing save = timeRuns(runs, [&] {
        std::string error;
        if (!loaded.save(saved, error))
            fail(error);
    });
    if (readPlain(saved) != readPlain(normalForm(file)))
        fail("saving the loaded bundle does not give the file back");
    loaded.clear();

    // The library's save syncs the file to disk before it replaces the target; the plain write is timed both
    // with and without that sync.
    std::vector<std::uint8_t> bytes;
    const Timing read = timeRuns(runs, [&] { bytes = readPlain(file); });
    const Timing writeSynced = timeRuns(runs, [&] { writePlain(plainCopy, bytes, true); });
    const Timing writeUnsynced = timeRuns(runs, [&] { writePlain(plainCopy, bytes, false); });
    fs::remove(saved);
    fs::remove(plainCopy);

    auto row = [&](const char* name, const Timing& t) {
        std::printf("  %-28s %8.1f ms %8.1f ms %8.1f MB/s\n", name, t.best * 1e3, t.median * 1e3,
                    mb(fileSize) / t.best);
    };
    std::printf("\nSpeed, file in the page cache      best     median   (best)\n");
    row("load (ObjectBundle::load)", load);
    row("save (ObjectBundle::save)", save);
    row("plain read (fread)", read);
    row("plain write + fsync", writeSynced);
    row("plain write, no fsync", writeUnsynced);
    const double ratioSynced = (load.best + save.best) / (read.best + writeSynced.best);
    const double ratioUnsynced = (load.best + save.best) / (read.best + writeUnsynced.best);
    const double ratioMedian = (load.median + save.median) / (read.median + writeSynced.median);
    std::printf("  (load + save) / (read + write + fsync)  %.2fx best, %.2fx median   target <= 4x: %s\n", ratioSynced,
                ratioMedian, verdict(ratioSynced <= 4.0));
    std::printf("  (load + save) / (read + write, no fsync) %.2fx best                 target <= 4x: %s\n",
                ratioUnsynced, verdict(ratioUnsynced <= 4.0));
    return 0;
}

} // namespace

// The integer-heavy shape: 85 % integers, 10 % reals, 5 % strings, and enough modifications for about 30 MB.
void makeIntegerHeavy(brindlemark::bench::BundleShape& shape) {
    shape.integerPercent = 85;
    shape.realPercent = 10;
    shape.modificationCount = 1150000;
}

// The shape of real maps: many small modifications (brindlemark::bench::realMapShape).
void makeRealMap(brindlemark::bench::BundleShape& shape) {
    const brindlemark::bench::BundleShape real = brindlemark::bench::realMapShape();
    shape.objectCount = real.objectCount;
    shape.modificationCount = real.modificationCount;
    shape.integerPercent = real.integerPercent;
    shape.realPercent = real.realPercent;
    shape.minPerObject = real.minPerObject;
    shape.maxPerObject = real.maxPerObject;
    shape.shortStrings = real.shortStrings;
    shape.editorOrder = real.editorOrder;
}

// Applies the named shape, keeping counts given on the command line.
void makeShape(const std::string& name, brindlemark::bench::BundleShape& shape, bool objectsGiven, bool countGiven) {
    const brindlemark::bench::BundleShape given = shape;
    if (name == "integers")
        makeIntegerHeavy(shape);
    else if (name == "real")
        makeRealMap(shape);
    if (objectsGiven)
        shape.objectCount = given.objectCount;
    if (countGiven)
        shape.modificationCount = given.modificationCount;
}

// What every normalize does besides its object data: lock the output, read the input whole into memory, write it
// into a temporary file beside the output in the same pieces, flush it, check that the output is as it was at the
// lock, and rename. Run as a process of its own: the least a normalize of this file can take.
int copySafely(const fs::path& from, const fs::path& to) {
    brindlemark::FileLocks locks;
    std::string error;
    if (!locks.acquire({to}, error))
        fail(error);
    const std::shared_ptr<const brindlemark::FileBuffer> buffer =
        brindlemark::FileBuffer::read(from, std::uint64_t(1) << 40);
    if (!buffer)
        fail("cannot read " + from.string());
    const std::span<const std::uint8_t> bytes = buffer->bytes();
    brindlemark::SaveFile file(to);
    if (!file.open(error))
        fail(error);
    constexpr std::size_t kPiece = std::size_t(64) << 10;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece)
        file.write(bytes.data() + at, std::min(kPiece, bytes.size() - at));
    if (!file.commit(error))
        fail(error);
    return 0;
}

// normalize, a flushed copy, cp and check of `file` as whole processes, one after the other in every round of
// `runs`; prints their times, the ratios and the peak resident memory.
void compareWholeProcesses(const std::string& cli, const std::string& self, const fs::path& dir, const fs::path& file,
                           std::size_t fileSize, int runs) {
    const fs::path normalised = dir / "bench-normalised.w3o";
    const fs::path copied = dir / "bench-copied.w3o";
    const fs::path synced = dir / "bench-synced.w3o";
    const fs::path safeCopy = dir / "bench-safe-copy.w3o";
    std::vector<double> seconds;
    std::vector<double> copying;
    std::vector<double> syncing;
    std::vector<double> checking;
    std::vector<double> safeCopying;
    long rss = 0;
    long checkRss = 0;
    // Every run starts with nothing left to write back from the run before, so that no process pays for
    // flushing what another one left dirty (cp leaves its whole copy to be written later).
    for (int i = 0; i < runs; ++i) {
        sync();
        const ChildResult r = runChild({cli, "normalize", file.string(), "-o", normalised.string()}, "/dev/null");
        if (r.status != 0)
            fail("brindlemark-cli normalize failed");
        seconds.push_back(r.seconds);
        rss = std::max(rss, r.maxRssKiB);
        sync();
        const ChildResult d =
            runChild({"/bin/dd", "if=" + file.string(), "of=" + synced.string(), "bs=4M", "conv=fsync", "status=none"},
                     "/dev/null");
        if (d.status != 0)
            fail("dd failed");
        syncing.push_back(d.seconds);
        sync();
        const ChildResult c = runChild({"/bin/cp", file.string(), copied.string()}, "/dev/null");
        if (c.status != 0)
            fail("cp failed");
        copying.push_back(c.seconds);
        sync();
        const ChildResult k = runChild({cli, "check", file.string()}, "/dev/null");
        if (k.status != 0)
            fail("brindlemark-cli check failed");
        checking.push_back(k.seconds);
        checkRss = std::max(checkRss, k.maxRssKiB);
        sync();
        const ChildResult s = runChild({self, "--copy-safely", file.string(), safeCopy.string()}, "/dev/null");
        if (s.status != 0)
            fail("the safe copy failed");
        safeCopying.push_back(s.seconds);
    }
    if (!sameBytes(normalised, normalForm(file)))
        fail("normalize does not give the generated file back");
    std::sort(seconds.begin(), seconds.end());
    std::sort(copying.begin(), copying.end());
    std::sort(syncing.begin(), syncing.end());
    std::sort(checking.begin(), checking.end());
    std::sort(safeCopying.begin(), safeCopying.end());
    const auto median = [](const std::vector<double>& v) { return v[v.size() / 2]; };
    const double ratio = seconds.front() / copying.front();
    const double medianRatio = median(seconds) / median(copying);
    const double syncedRatio = median(seconds) / median(syncing);
    const double checkRatio = median(checking) / median(copying);
    std::printf("\nWhole processes, interleaved: brindlemark-cli normalize FILE -o OUT, dd conv=fsync, cp, "
                "brindlemark-cli check FILE\n");
    std::printf("  normalize best %.1f ms, median %.1f ms (%.1f MB/s best); peak resident %.1f MB = %.2fx the "
                "file\n",
                seconds.front() * 1e3, median(seconds) * 1e3, mb(fileSize) / seconds.front(), mbKiB(rss),
                static_cast<double>(rss) * 1024.0 / static_cast<double>(fileSize));
    std::printf("  dd conv=fsync best %.1f ms, median %.1f ms\n", syncing.front() * 1e3, median(syncing) * 1e3);
    std::printf("  cp        best %.1f ms, median %.1f ms\n", copying.front() * 1e3, median(copying) * 1e3);
    std::printf("  check     best %.1f ms, median %.1f ms; peak resident %.1f MB = %.2fx the file\n",
                checking.front() * 1e3, median(checking) * 1e3, mbKiB(checkRss),
                static_cast<double>(checkRss) * 1024.0 / static_cast<double>(fileSize));
    std::printf("  normalize / cp: %.2fx median, %.2fx best   target <= 4x (median): %s\n", medianRatio, ratio,
                verdict(medianRatio <= 4.0));
    std::printf("  normalize / dd conv=fsync: %.2fx median, %.2fx best   target <= 1.5x (median): %s\n", syncedRatio,
                seconds.front() / syncing.front(), verdict(syncedRatio <= 1.5));
    std::printf("  check / cp: %.2fx median   target <= 3x (median): %s\n", checkRatio, verdict(checkRatio <= 3.0));
    std::printf("  safe copy (lock, read whole, temporary file, flush, check, rename; no object data) best %.1f ms, "
                "median %.1f ms = %.2fx dd conv=fsync; normalize / safe copy: %.2fx\n\n",
                safeCopying.front() * 1e3, median(safeCopying) * 1e3, median(safeCopying) / median(syncing),
                median(seconds) / median(safeCopying));
    fs::remove(normalised);
    if (normalForm(file) != file)
        fs::remove(normalForm(file));
    fs::remove(copied);
    fs::remove(synced);
    fs::remove(safeCopy);
}

int main(int argc, char** argv) {
    brindlemark::bench::BundleShape shape;
    std::vector<std::string> shapes = {"strings", "integers", "real"};
    bool countGiven = false;
    bool objectsGiven = false;
    int runs = 5;
    fs::path dir = fs::temp_directory_path() / "brindlemark-bench";
    std::string cli = BRINDLEMARK_CLI;
    std::string mode;
    fs::path modeFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--copy-safely" && i + 2 < argc)
            return copySafely(argv[i + 1], argv[i + 2]);
        if ((arg == "--generate" || arg == "--measure-memory" || arg == "--measure-speed") && hasValue) {
            mode = arg;
            modeFile = argv[++i];
        } else if (arg == "--objects" && hasValue) {
            shape.objectCount = std::stoul(argv[++i]);
            objectsGiven = true;
        } else if (arg == "--modifications" && hasValue) {
            shape.modificationCount = std::stoul(argv[++i]);
            countGiven = true;
        } else if (arg == "--shape" && hasValue &&
                   (argv[i + 1] == std::string("strings") || argv[i + 1] == std::string("integers") ||
                    argv[i + 1] == std::string("real"))) {
            shapes = {argv[++i]};
        } else if (arg == "--runs" && hasValue) {
            runs = std::max(1, std::stoi(argv[++i]));
        } else if (arg == "--dir" && hasValue) {
            dir = argv[++i];
        } else if (arg == "--cli" && hasValue) {
            cli = argv[++i];
        } else {
            fail("usage: brindlemark_bench_bundle [--shape strings|integers|real] [--objects N] [--modifications N] "
                 "[--runs N] [--dir FOLDER] [--cli PATH]");
        }
    }
    if (shapes.size() == 1)
        makeShape(shapes[0], shape, objectsGiven, countGiven);
    if (mode == "--generate")
        return generate(shape, modeFile);
    if (mode == "--measure-memory")
        return measureMemory(modeFile);
    if (mode == "--measure-speed")
        return measureSpeed(shape, modeFile, runs);

    // Every measurement runs in a process of its own, started from this small one: a process started by a
    // large one would begin with the large one's resident-set high-water mark.
    fs::create_directories(dir);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    for (const std::string& shapeName : shapes) {
        brindlemark::bench::BundleShape thisShape = shape;
        if (shapes.size() > 1)
            makeShape(shapeName, thisShape, false, false);
        const fs::path file = dir / ("bench-" + shapeName + ".w3o");
        const std::vector<std::string> shapeArgs = {"--shape",         shapeName,
                                                    "--objects",       std::to_string(thisShape.objectCount),
                                                    "--modifications", std::to_string(thisShape.modificationCount),
                                                    "--runs",          std::to_string(runs)};
        auto runSelf = [&](const std::string& what) {
            std::vector<std::string> args = {self, what, file.string()};
            args.insert(args.end(), shapeArgs.begin(), shapeArgs.end());
            if (runChild(args).status != 0)
                fail("the step " + what + " failed");
        };
        std::printf("Bundle benchmark, %s: %zu objects, %zu modifications (%u %% integers, %u %% reals), %d runs "
                    "of each timing\n",
                    shapeName.c_str(), thisShape.objectCount, thisShape.modificationCount, thisShape.integerPercent,
                    thisShape.realPercent, runs);
        runSelf("--generate");
        const std::size_t fileSize = sizeOf(file);
        runSelf("--measure-speed");
        runSelf("--measure-memory");

        compareWholeProcesses(cli, self, dir, file, fileSize, runs);
    }
    return 0;
}
