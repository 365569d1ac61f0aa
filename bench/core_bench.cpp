// Benchmarks of the unit data core beside plain baselines in the same run:
//   build/bench/core_bench [--benchmark_filter=...]
// Load is compared with reading the file into memory and splitting it into
// lines; Save with writing the same lines and syncing them to disk.
#include "rules_document.h"
#include "rules_generator.h"
#include "unit_fields.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

constexpr std::size_t kCalibratedBytes = 460800;
constexpr std::size_t kLargeBytes = 50'000'000;

struct BenchFile {
    std::string folder;
    std::string path;
    std::vector<std::string> names;
};

// One generated rules file per size (or unit count), made once and removed at exit.
const BenchFile& Generated(const GeneratorOptions& options) {
    static std::map<std::size_t, BenchFile> files;
    static struct Cleanup {
        ~Cleanup() {
            for (auto& [size, file] : files) std::filesystem::remove_all(file.folder);
        }
    } cleanup;
    const std::size_t key = options.targetBytes ? options.targetBytes : options.units;
    auto it = files.find(key);
    if (it != files.end()) return it->second;
    BenchFile file;
    file.folder = (std::filesystem::temp_directory_path() / ("tarvenor-bench-" + std::to_string(key))).string();
    std::filesystem::create_directories(file.folder + "/data");
    file.path = file.folder + "/data/unitrules.xml";
    GeneratedRules rules = GenerateRules(options);
    std::ofstream(file.path, std::ios::binary).write(rules.bytes.data(), static_cast<std::streamsize>(rules.bytes.size()));
    file.names = std::move(rules.names);
    return files.emplace(key, std::move(file)).first->second;
}

const BenchFile& FileOfSize(std::size_t bytes) { return Generated({0, bytes, 42}); }

const ProgressSink kNoOpSink{[](double) {}, [] {}};

std::vector<std::string> PlainReadAndSplit(const std::string& path) {
    std::string bytes(std::filesystem::file_size(path), '\0');
    std::FILE* in = std::fopen(path.c_str(), "rb");
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t cr = bytes.find('\r', start);
        if (cr == std::string::npos) cr = bytes.size();
        lines.emplace_back(bytes, start, cr - start);
        start = cr + 1;
        if (start < bytes.size() && bytes[start] == '\n') ++start;
    }
    return lines;
}

void PlainWriteAndSync(const std::string& path, const std::vector<std::string>& lines) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    for (const auto& line : lines) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fwrite("\r\n", 1, 2, out);
    }
    std::fflush(out);
    ::fsync(::fileno(out));
    std::fclose(out);
}

void SetBytes(benchmark::State& state, std::size_t bytes, std::size_t lines) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    // Seconds per (line / 1e9): nanoseconds per line.
    state.counters["ns_per_line"] = benchmark::Counter(
        static_cast<double>(lines) / 1e9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Load(benchmark::State& state) {
    const BenchFile& file = FileOfSize(static_cast<std::size_t>(state.range(0)));
    RulesDocument doc(file.folder);
    std::string error;
    for (auto _ : state) {
        if (!doc.Load(kNoOpSink, [](std::size_t) {}, error)) state.SkipWithError(error.c_str());
    }
    SetBytes(state, static_cast<std::size_t>(state.range(0)), doc.LineCount());
}

void BM_PlainReadAndSplit(benchmark::State& state) {
    const BenchFile& file = FileOfSize(static_cast<std::size_t>(state.range(0)));
    std::size_t lines = 0;
    for (auto _ : state) {
        auto result = PlainReadAndSplit(file.path);
        lines = result.size();
        benchmark::DoNotOptimize(result);
    }
    SetBytes(state, static_cast<std::size_t>(state.range(0)), lines);
}

void BM_Save(benchmark::State& state) {
    const BenchFile& file = FileOfSize(static_cast<std::size_t>(state.range(0)));
    RulesDocument doc(file.folder);
    std::string error;
    doc.Load({}, {}, error);
    for (auto _ : state) {
        if (!doc.Save(kNoOpSink, error)) state.SkipWithError(error.c_str());
    }
    SetBytes(state, static_cast<std::size_t>(state.range(0)), doc.LineCount());
}

void BM_PlainWriteAndSync(benchmark::State& state) {
    const BenchFile& file = FileOfSize(static_cast<std::size_t>(state.range(0)));
    const auto lines = PlainReadAndSplit(file.path);
    for (auto _ : state) PlainWriteAndSync(file.path, lines);
    SetBytes(state, static_cast<std::size_t>(state.range(0)), lines.size());
}

void BM_FindTypeLineOfLastUnit(benchmark::State& state) {
    const BenchFile& file = FileOfSize(kLargeBytes);
    RulesDocument doc(file.folder);
    std::string error;
    doc.Load({}, {}, error);
    const std::string& last = file.names.back();
    for (auto _ : state) benchmark::DoNotOptimize(FindTypeLine(doc, last));
}

void BM_FindUnitByPrefixOver2000Names(benchmark::State& state) {
    const BenchFile& file = Generated({2000, 0, 42});
    RulesDocument doc(file.folder);
    UnitIndex index;
    std::string error;
    doc.Load({}, [&](std::size_t i) { index.onLine(doc, i); }, error);
    state.counters["names"] = static_cast<double>(index.Names().size());
    for (auto _ : state) benchmark::DoNotOptimize(index.FindUnitByPrefix("zzz-no-such-unit"));
}

}  // namespace

BENCHMARK(BM_PlainReadAndSplit)->Arg(kCalibratedBytes)->Arg(kLargeBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(kCalibratedBytes)->Arg(kLargeBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWriteAndSync)->Arg(kCalibratedBytes)->Arg(kLargeBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Arg(kCalibratedBytes)->Arg(kLargeBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindTypeLineOfLastUnit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindUnitByPrefixOver2000Names)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
