// Runs a fuzz target's property over every file of its seed corpus and over
// mutants of each seed, so that the normal builds check the properties too
// (the fuzz preset explores further with libFuzzer). The mutants are the
// same on every run, so a failure can be repeated. Exits non-zero when a
// property breaks (it aborts).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Input = std::vector<std::uint8_t>;

// A few bytes overwritten, inserted or removed, or the tail cut; new bytes
// are mostly the ones the formats treat specially.
Input mutant(Input input, std::mt19937& random)
{
    static const std::uint8_t special[] = {0x00, 0x0D, 0x0A, 0xFF, 0x20, 0x80, 0x01, 0xFE};
    for (auto edits = 1 + random() % 4; edits > 0; --edits) {
        const std::size_t at = random() % (input.size() + 1);
        const auto byte = static_cast<std::uint8_t>(random() % 2 == 0 ? special[random() % 8] : random());
        switch (random() % 5) {
        case 0:
            input.resize(at);
            break;
        case 1:
            input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), byte);
            break;
        case 2:
            if (at < input.size()) {
                input.erase(input.begin() + static_cast<std::ptrdiff_t>(at));
            }
            break;
        default:
            if (at < input.size()) {
                input[at] = byte;
            }
        }
    }
    return input;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> paths;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            paths.push_back(entry.path());
        }
    }
    std::sort(paths.begin(), paths.end()); // the same mutants whatever order the folder lists
    std::vector<Input> seeds;
    for (const auto& path : paths) {
        std::ifstream file(path, std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::mt19937 random(1);
    const std::size_t mutants = std::max<std::size_t>(100, 1000 / std::max<std::size_t>(seeds.size(), 1));
    std::size_t runs = 0;
    for (const Input& seed : seeds) {
        for (std::size_t m = 0; m <= mutants; ++m) {
            const Input input = m == 0 ? seed : mutant(seed, random);
            LLVMFuzzerTestOneInput(input.data(), input.size());
            ++runs;
        }
    }
    std::printf("%zu inputs (%zu seeds and their mutants) hold the property\n", runs, seeds.size());
    return seeds.empty() ? 1 : 0;
}
