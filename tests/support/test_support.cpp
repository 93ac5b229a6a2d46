#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace varnook::test {

Bytes hex(std::string_view text)
{
    Bytes bytes;
    std::istringstream in{std::string(text)};
    for (unsigned byte = 0; in >> std::hex >> byte;) {
        bytes.push_back(static_cast<std::uint8_t>(byte));
    }
    return bytes;
}

Bytes header()
{
    Bytes bytes = hex("88 84 00 01 00 00 01 00 00 00 00 00 04");
    bytes.resize(256, 0x00);
    return bytes;
}

Bytes hpFile(std::string_view recordsHex)
{
    Bytes bytes = header();
    const Bytes records = hex(recordsHex);
    bytes.insert(bytes.end(), records.begin(), records.end());
    return bytes;
}

std::string findingsText(const std::vector<Finding>& findings)
{
    std::string text;
    for (const auto& finding : findings) {
        text += std::string(text.empty() ? "" : " | ") + (finding.note ? "note " : "") +
                std::to_string(finding.offset) + ": " + finding.text;
    }
    return text;
}

TempDir::TempDir()
{
    static std::mt19937_64 generator{std::random_device{}()};
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto candidate =
            std::filesystem::temp_directory_path() / ("varnook-test-" + std::to_string(generator() % 1000000000));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = candidate;
        }
    }
    if (path_.empty()) {
        throw std::runtime_error("cannot make a temporary folder");
    }
}

TempDir::~TempDir()
{
    std::error_code error;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path_, error);
}

void TempDir::write(const std::string& name, const Bytes& bytes) const
{
    std::filesystem::create_directories((path_ / name).parent_path());
    std::ofstream out(path_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + name);
    }
}

Bytes TempDir::read(const std::string& name) const
{
    std::ifstream in(path_ / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string TempDir::listing() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const auto& name : names) {
        joined += (joined.empty() ? "" : " ") + name;
    }
    return joined;
}

Bytes lineBytes()
{
    Bytes bytes;
    for (int b = 0x01; b <= 0xFE; ++b) {
        if (b != 0x0D && b != 0x0A) {
            bytes.push_back(static_cast<std::uint8_t>(b));
        }
    }
    return bytes;
}

Bytes everyByte()
{
    Bytes bytes(256);
    for (std::size_t b = 0; b < bytes.size(); ++b) {
        bytes[b] = static_cast<std::uint8_t>(b);
    }
    return bytes;
}

Bytes program(std::size_t size)
{
    std::string text;
    for (int line = 10; text.size() < size; line += 10) {
        text += std::to_string(line) + " PRINT \"LINE " + std::to_string(line) + "\"\r\n";
    }
    return bytesOf(text);
}

} // namespace varnook::test
