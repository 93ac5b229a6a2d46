// Throughput of the conversion core on a 100 MB program, with memcpy of the
// same buffer as the yardstick. Like memcpy, each writes into a buffer that
// the previous iteration already allocated. "--make-files DIR" writes the program as
// prog.txt and prog.asc for timing varnook-convert; "--make-capture IMAGE
// CAPTURE" writes a plain image as a TeleDisk capture with advanced
// compression.

#include "sample_program.h"

#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "core/text/line_numbers.h"
#include "support/captures.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

using namespace varnook;

namespace {

constexpr std::size_t kSize = 100 * 1000 * 1000;

const Bytes& text()
{
    static const Bytes program = bench::sampleProgram(kSize);
    return program;
}

const Bytes& file()
{
    static const Bytes encoded = encodeHpAsciiBytes(text());
    return encoded;
}

void memcpyText(benchmark::State& state)
{
    Bytes target(text().size());
    for (auto _ : state) {
        std::memcpy(target.data(), text().data(), text().size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text().size()));
}

void decode(benchmark::State& state)
{
    Bytes out;
    for (auto _ : state) {
        decodeHpAsciiBytes(file(), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file().size()));
}

// A program file read as stored, record by record, as the commands read it.
void readProgram(benchmark::State& state)
{
    for (auto _ : state) {
        const Bytes text = decodeProgramFile(file());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file().size()));
}

void encode(benchmark::State& state)
{
    Bytes out;
    for (auto _ : state) {
        encodeHpAsciiBytes(text(), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text().size()));
}

void number(benchmark::State& state)
{
    Bytes out;
    for (auto _ : state) {
        insertLineNumberBytes(text(), 10, 10, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text().size()));
}

} // namespace

BENCHMARK(memcpyText)->Unit(benchmark::kMillisecond);
BENCHMARK(decode)->Unit(benchmark::kMillisecond);
BENCHMARK(readProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(encode)->Unit(benchmark::kMillisecond);
BENCHMARK(number)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--make-files") {
        const std::filesystem::path folder = argv[2];
        replaceFile(folder / "prog.txt", text());
        replaceFile(folder / "prog.asc", file());
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--make-capture") {
        replaceFile(argv[3], test::teleDiskOf(readFileBytes(argv[2]), SIZE_MAX, SIZE_MAX, test::Packing::Lzh));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
