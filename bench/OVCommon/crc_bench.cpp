// Throughput of the installed-file CRC: the whole-file FileCrc and a table-driven byte loop for comparison.
#include <benchmark/benchmark.h>

#include <zlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "bench/common/measure.h"

namespace {

constexpr size_t FileSize = 16 * 1024 * 1024;

std::string PatternBytes(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
    return bytes;
}

std::array<uint32_t, 256> ReflectedTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        table[n] = c;
    }
    return table;
}

void BM_CrcUpdate(benchmark::State& state) {
    const std::string bytes = PatternBytes(FileSize);
    for (auto _ : state) benchmark::DoNotOptimize(CrcUpdate(0, bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize));
}

void BM_ByteTableLoop(benchmark::State& state) {
    const std::string bytes = PatternBytes(FileSize);
    const auto table = ReflectedTable();
    for (auto _ : state) {
        uint32_t crc = 0;
        for (unsigned char b : bytes) crc = (crc >> 8) ^ table[(crc ^ b) & 0xFF];
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize));
}

void BM_FileCrc(benchmark::State& state) {
    const std::string path = TempFolderPath() + "crc-bench.bin";
    std::ofstream(path, std::ios::binary) << PatternBytes(FileSize);
    for (auto _ : state) benchmark::DoNotOptimize(FileCrc(path));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize));
    std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_CrcUpdate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ByteTableLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileCrc)->Unit(benchmark::kMillisecond);

namespace {

// The installed-file CRC against zlib's own crc32 over the same bytes, medians of interleaved rounds.
void PrintRatio() {
    const std::string bytes = PatternBytes(FileSize);
    const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
    std::vector<double> ours, zlib;
    for (int round = 0; round < 11; ++round) {
        ours.push_back(benchsupport::Seconds([&] { return CrcUpdate(0, bytes.data(), bytes.size()); }));
        zlib.push_back(benchsupport::Seconds([&] { return crc32_z(0, data, bytes.size()); }));
    }
    const double ratio = benchsupport::Median(ours) / benchsupport::Median(zlib);
    std::printf("CrcUpdate %.2f ms, zlib crc32 %.2f ms over %zu bytes, ratio %.3f (target <= 1.00)\n",
                benchsupport::Median(ours) * 1e3, benchsupport::Median(zlib) * 1e3, FileSize, ratio);
    benchsupport::PrintResultRow("CRC of 16 MB / zlib crc32", ratio, "<= 1.00", ratio <= 1.0);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintRatio();
    return 0;
}
