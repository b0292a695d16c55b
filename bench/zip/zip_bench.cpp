// Extracting a 100 MB deflated member against a bare zlib inflate of the same data, and loading the archive.
// After the benchmarks the ratio extract / bare inflate is printed from interleaved timed rounds.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "bench/common/measure.h"
#include "zip/zip.h"

namespace {

constexpr size_t kMemberSize = size_t{100} << 20;

// Text-like content: words from a small vocabulary in a pseudo-random order (compresses about 3:1).
std::string SampleText() {
    static const char* const words[] = {"update ", "catalogue ", "database ", "program ", "install ", "verify ",
                                        "mirror ", "client ", "package ", "member ", "archive ", "folder\n"};
    std::string text;
    text.reserve(kMemberSize + 16);
    uint32_t state = 12345;
    while (text.size() < kMemberSize) {
        state = state * 1103515245u + 12345u;
        text += words[(state >> 16) % 12];
        if ((state >> 8) % 7 == 0) text += std::to_string(state % 100000);
    }
    text.resize(kMemberSize);
    return text;
}

std::string RawDeflate(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string Le(uint32_t value, int width) {
    std::string bytes;
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

struct Fixture {
    std::string compressed;
    std::string path;
    TZipFile zip;

    Fixture() {
        const std::string text = SampleText();
        compressed = RawDeflate(text);
        const std::string name = "big.txt";
        path = "/tmp/zip_bench_" + std::to_string(getpid()) + ".zip";
        std::ofstream(path, std::ios::binary)
            << std::string("PK\x03\x04", 4) << Le(20, 2) << Le(0, 2) << Le(8, 2) << Le(0, 4) << Le(ZipCrc32(text), 4)
            << Le(static_cast<uint32_t>(compressed.size()), 4) << Le(static_cast<uint32_t>(text.size()), 4)
            << Le(static_cast<uint32_t>(name.size()), 2) << Le(0, 2) << name << compressed;
        zip.LoadFromFile(path);
    }
    ~Fixture() { std::remove(path.c_str()); }
};

Fixture& Data() {
    static Fixture fixture;
    return fixture;
}

// zlib alone: one raw inflate of the whole member into a buffer of the known size.
std::string BareInflate(const std::string& compressed) {
    std::string out(kMemberSize, '\0');
    z_stream stream{};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (inflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
    inflateEnd(&stream);
    return out;
}

void BM_BareInflate(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(BareInflate(Data().compressed));
}
BENCHMARK(BM_BareInflate)->Unit(benchmark::kMillisecond);

void BM_Extract(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(Data().zip.Extract(0));
}
BENCHMARK(BM_Extract)->Unit(benchmark::kMillisecond);

void BM_LoadFromFile(benchmark::State& state) {
    TZipFile zip;
    for (auto _ : state) zip.LoadFromFile(Data().path);
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond);

// Medians of interleaved rounds, so both sides see the same machine load.
void PrintRatio() {
    std::vector<double> bare, extract;
    for (int round = 0; round < 11; ++round) {
        bare.push_back(benchsupport::Seconds([] { return BareInflate(Data().compressed); }));
        extract.push_back(benchsupport::Seconds([] { return Data().zip.Extract(0); }));
    }
    const double ratio = benchsupport::Median(extract) / benchsupport::Median(bare);
    std::printf("member %zu bytes deflated to %zu\n", kMemberSize, Data().compressed.size());
    std::printf("bare inflate %.1f ms, Extract %.1f ms, ratio %.3f (target <= 1.10)\n",
                benchsupport::Median(bare) * 1e3, benchsupport::Median(extract) * 1e3, ratio);
    benchsupport::PrintResultRow("zip Extract / bare zlib inflate, 100 MB member", ratio, "<= 1.10", ratio <= 1.10);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Data();  // the archive is built before any timing starts
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintRatio();
    return 0;
}
