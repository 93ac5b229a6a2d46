#include "cli/converter.h"
#include "core/failure.h"
#include "core/file_io.h"
#include "core/lif.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <random>
#include <vector>

using namespace varnook;
using namespace varnook::cli;
using namespace varnook::test;

// The shortcut over bytes must give what the steps through the document
// text give, for every option and for bytes the code page lacks.
TEST(Converter, ByteShortcutMatchesTheTextSteps)
{
    std::mt19937 random(11);
    std::vector<CodePage> pages{CodePage::named("windows-932")};
    for (const char* name : kSingleByteWindowsPages) {
        pages.push_back(CodePage::named(name));
    }
    for (int round = 0; round < 400; ++round) {
        Bytes input(random() % 600);
        for (auto& byte : input) {
            const auto pick = random() % 20;
            byte = pick == 0   ? '\r'
                   : pick == 1 ? '\n'
                   : pick == 2 ? static_cast<std::uint8_t>(1 + random() % 254)
                               : static_cast<std::uint8_t>('A' + random() % 26);
        }
        Conversion conversion;
        conversion.from = random() % 3 == 0 ? Format::Hp : Format::Txt;
        conversion.to = random() % 2 == 0 ? Format::Hp : Format::Txt;
        conversion.lineNumbers = conversion.from == Format::Txt && random() % 2 == 0;
        conversion.start = static_cast<std::int32_t>(random() % 1000) - 500;
        conversion.step = static_cast<std::int32_t>(random() % 50);
        const CodePage& page = pages[random() % pages.size()];
        ASSERT_EQ(outcome([&] { return convert(input, conversion, page); }),
                  outcome([&] { return convertThroughText(input, conversion, page); }))
            << "round " << round << " in " << page.name();
    }
}

// The example programs: each .asc is what the converter makes of its .txt,
// and reads back as that text; the example disk image holds each .asc.
TEST(Converter, ExamplesMatchTheirTextForms)
{
    const CodePage page = CodePage::named("windows-1252");
    const std::filesystem::path image = std::filesystem::path(VARNOOK_EXAMPLES) / "EXAMPLES.lif";
    const lif::Volume volume = lif::readVolume(image);
    std::size_t found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VARNOOK_EXAMPLES)) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        std::string stem = entry.path().stem().string();
        for (auto& c : stem) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        const Bytes text = readFileBytes(entry.path());
        const Bytes file = readFileBytes(entry.path().parent_path() / (stem + ".asc"));
        EXPECT_EQ(convert(text, {Format::Txt, Format::Hp}, page), file) << stem;
        EXPECT_EQ(convert(file, {Format::Hp, Format::Txt}, page), text) << stem;
        const lif::Entry* inVolume = volume.find(stem);
        ASSERT_NE(inVolume, nullptr) << stem;
        EXPECT_EQ(lif::programFileFromLines(lif::readRecords(lif::readFileBlocks(image, *inVolume))), file) << stem;
        ++found;
    }
    EXPECT_GE(found, 3u);
    EXPECT_EQ(volume.files.size(), found);
}
