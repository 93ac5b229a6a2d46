// Writes the code-page tables (code_page_tables.cpp) from ICU's converters,
// so that every platform converts with the same tables and none needs ICU
// at run time. scripts/generate-code-pages runs it; a test holds the tables
// to ICU both ways.

#include <unicode/ucnv.h>
#include <unicode/uversion.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

// The pages a user can choose: every page the locale rules choose, the DOS
// and ISO pages users name, HP's own, and UTF-8.
const char* const kPages[] = {
    "windows-1252", "windows-1250", "windows-1251", "windows-1253", "windows-1254", "windows-1255", "windows-1256",
    "windows-1257", "windows-1258", "windows-874",  "windows-932",  "windows-936",  "windows-949",  "windows-950",
    "ibm-437",      "ibm-850",      "ISO-8859-1",   "ISO-8859-2",   "ISO-8859-3",   "ISO-8859-4",   "ISO-8859-5",
    "ISO-8859-6",   "ISO-8859-7",   "ISO-8859-8",   "ISO-8859-9",   "ISO-8859-10",  "ISO-8859-11",  "ISO-8859-13",
    "ISO-8859-14",  "ISO-8859-15",  "hp-roman8",    "UTF-8", // ICU has no ISO-8859-16
};

constexpr unsigned kUndefined = 0xFFFF;
constexpr unsigned kLead = 0xFFFE;

[[noreturn]] void fail(const std::string& text)
{
    std::fprintf(stderr, "code_page_generator: %s\n", text.c_str());
    std::exit(1);
}

struct Converter {
    explicit Converter(const char* name)
    {
        UErrorCode error = U_ZERO_ERROR;
        handle = ucnv_open(name, &error);
        if (U_FAILURE(error)) {
            fail(std::string("ICU has no converter ") + name);
        }
        error = U_ZERO_ERROR;
        ucnv_setToUCallBack(handle, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
        ucnv_setFromUCallBack(handle, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    }
    ~Converter() { ucnv_close(handle); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The one BMP character the bytes stand for, kUndefined when they stand
    // for none or for more, kLead when they are the start of a character.
    unsigned decode(const std::string& bytes) const
    {
        UChar units[8];
        UErrorCode error = U_ZERO_ERROR;
        ucnv_reset(handle);
        const int32_t count = ucnv_toUChars(handle, units, 8, bytes.data(), static_cast<int32_t>(bytes.size()), &error);
        if (error == U_TRUNCATED_CHAR_FOUND) {
            return kLead;
        }
        if (U_FAILURE(error) || count != 1 || U16_IS_SURROGATE(units[0])) {
            return kUndefined;
        }
        return units[0];
    }
    // The bytes ICU writes for the character, empty when it writes none.
    std::string encode(unsigned c) const
    {
        const UChar unit = static_cast<UChar>(c);
        char out[8];
        UErrorCode error = U_ZERO_ERROR;
        ucnv_reset(handle);
        const int32_t count = ucnv_fromUChars(handle, out, 8, &unit, 1, &error);
        return U_SUCCESS(error) && count > 0 ? std::string(out, static_cast<std::size_t>(count)) : std::string();
    }

    UConverter* handle = nullptr;
};

std::string identifier(const std::string& name)
{
    std::string id = "k";
    bool upper = true;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            id += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return id;
}

// Numbers, sixteen to a line.
void printNumbers(const char* type, const std::string& name, const std::vector<unsigned>& values)
{
    std::printf("const %s %s[] = {", type, name.c_str());
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::printf("%s%u,", i % 16 == 0 ? "\n    " : " ", values[i]);
    }
    std::printf("\n};\n");
}

struct Written {
    std::string name, id;
    bool utf8 = false;
    unsigned trailFirst = 0, trailCount = 0;
    std::size_t leads = 0, oneWay = 0, aliases = 0;
};

Written writePage(const char* name)
{
    Written page{name, identifier(name)};
    page.utf8 = std::string(name) == "UTF-8";
    const Converter icu(name);
    UErrorCode error = U_ZERO_ERROR;
    const char* canonical = ucnv_getName(icu.handle, &error);
    std::vector<std::string> aliases{name};
    for (uint16_t i = 0; i < ucnv_countAliases(canonical, &error); ++i) {
        const char* alias = ucnv_getAlias(canonical, i, &error);
        if (alias != nullptr && std::set<std::string>(aliases.begin(), aliases.end()).count(alias) == 0) {
            aliases.push_back(alias);
        }
    }
    std::printf("\n// %s (ICU's %s)\n", name, canonical);
    std::printf("const char* const %sAliases[] = {", page.id.c_str());
    for (const auto& alias : aliases) {
        std::printf("\n    \"%s\",", alias.c_str());
    }
    std::printf("\n};\n");
    page.aliases = aliases.size();
    if (page.utf8) {
        return page;
    }

    std::vector<unsigned> singles(256);
    std::vector<unsigned> leads;
    for (unsigned b = 0; b < 256; ++b) {
        singles[b] = icu.decode(std::string(1, static_cast<char>(b)));
        if (singles[b] == kLead) {
            leads.push_back(b);
        }
    }
    // The trail bytes: the range every lead byte's characters lie in.
    unsigned first = 255, last = 0;
    for (const unsigned lead : leads) {
        for (unsigned t = 0; t < 256; ++t) {
            const unsigned c = icu.decode(std::string{static_cast<char>(lead), static_cast<char>(t)});
            if (c != kUndefined && c != kLead) {
                first = std::min(first, t), last = std::max(last, t);
            }
        }
    }
    std::vector<unsigned> doubles;
    for (const unsigned lead : leads) {
        for (unsigned t = first; t <= last; ++t) {
            const unsigned c = icu.decode(std::string{static_cast<char>(lead), static_cast<char>(t)});
            doubles.push_back(c == kLead ? kUndefined : c);
        }
    }
    // Sequences that read as a character ICU writes otherwise: read, never written.
    std::vector<unsigned> oneWay;
    const auto check = [&](unsigned sequence, unsigned c, const std::string& bytes) {
        if (c != kUndefined && icu.encode(c) != bytes) {
            oneWay.push_back(sequence);
        }
    };
    for (unsigned b = 0; b < 256; ++b) {
        if (singles[b] != kLead) {
            check(b, singles[b], std::string(1, static_cast<char>(b)));
        }
    }
    for (std::size_t i = 0; i < leads.size(); ++i) {
        for (unsigned t = first; t <= last; ++t) {
            check(leads[i] << 8 | t, doubles[i * (last - first + 1) + (t - first)],
                  std::string{static_cast<char>(leads[i]), static_cast<char>(t)});
        }
    }
    printNumbers("char16_t", page.id + "Singles", singles);
    if (!leads.empty()) {
        printNumbers("char16_t", page.id + "Doubles", doubles);
        page.trailFirst = first;
        page.trailCount = last - first + 1;
    }
    printNumbers("std::uint16_t", page.id + "OneWay", oneWay.empty() ? std::vector<unsigned>{0} : oneWay);
    page.leads = leads.size();
    page.oneWay = oneWay.size();
    return page;
}

} // namespace

int main()
{
    std::printf("// Generated by scripts/generate-code-pages from ICU %s: do not edit.\n"
                "// Each page: its names (ICU's aliases), what each byte reads as (65535 none,\n"
                "// 65534 a lead byte), what each lead byte's trail bytes read as, and the\n"
                "// sequences that read as a character written otherwise.\n\n"
                "// clang-format off\n\n"
                "#include \"code_page_tables.h\"\n\n"
                "namespace varnook::codepages {\n"
                "namespace {\n",
                U_ICU_VERSION);
    std::vector<Written> pages;
    for (const char* name : kPages) {
        pages.push_back(writePage(name));
    }
    // A name stands for one page only.
    std::set<std::string> names;
    for (const char* page : kPages) {
        UErrorCode error = U_ZERO_ERROR;
        const Converter icu(page);
        const char* canonical = ucnv_getName(icu.handle, &error);
        for (uint16_t i = 0; i < ucnv_countAliases(canonical, &error); ++i) {
            if (!names.insert(ucnv_getAlias(canonical, i, &error)).second) {
                fail(std::string("two pages share the name ") + ucnv_getAlias(canonical, i, &error));
            }
        }
    }
    std::printf("\n} // namespace\n\nconst PageTable kPageTables[] = {\n");
    for (const auto& p : pages) {
        if (p.utf8) {
            std::printf("    {\"%s\", %sAliases, %zu, nullptr, nullptr, 0, 0, nullptr, 0},\n", p.name.c_str(),
                        p.id.c_str(), p.aliases);
            continue;
        }
        std::printf("    {\"%s\", %sAliases, %zu, %sSingles, %s, %u, %u, %sOneWay, %zu},\n", p.name.c_str(),
                    p.id.c_str(), p.aliases, p.id.c_str(), p.leads == 0 ? "nullptr" : (p.id + "Doubles").c_str(),
                    p.trailFirst, p.trailCount, p.id.c_str(), p.oneWay);
    }
    std::printf("};\n\nconst std::size_t kPageTableCount = %zu;\n\n} // namespace varnook::codepages\n\n"
                "// clang-format on\n",
                pages.size());
    return 0;
}
