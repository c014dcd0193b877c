// The version resource.
#include "tools/pe/VersionInfo.h"

#include "tools/TextConv.h"
#include "tools/pe/PeImage.h"

namespace Selfex {

namespace {

const char *const KNOWN_KEYS[] = {"ProductName",     "ProductVersion",  "FileVersion",      "CompanyName",
                                  "FileDescription", "LegalCopyright",  "OriginalFilename", "Comments",
                                  "InternalName",    "LegalTrademarks", "PrivateBuild",     "SpecialBuild"};
const char STRING_TABLE_KEY[] = "040904B0"; // US English, UTF-16
constexpr uint16_t LANGUAGE_US_ENGLISH = 0x0409;
constexpr uint16_t CODE_PAGE_UTF16 = 1200;
constexpr uint16_t TYPE_BINARY = 0;
constexpr uint16_t TYPE_TEXT = 1;
constexpr uint32_t FIXED_SIGNATURE = 0xFEEF04BD;
constexpr uint32_t FIXED_STRUCTURE_VERSION = 0x00010000;
constexpr uint32_t FIXED_FLAGS_MASK = 0x3F;
constexpr uint32_t FIXED_OS_NT_WINDOWS32 = 0x00040004;
constexpr uint32_t FIXED_TYPE_APPLICATION = 1;
constexpr size_t MAX_VALUE_BYTES = 1024; // keeps the whole resource within its 16-bit lengths

bool SameNoCase(const std::string &a, const char *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return i == a.size() && b[i] == 0;
}

void Put16(std::vector<uint8_t> &out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t> &out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutText(std::vector<uint8_t> &out, const std::string &utf8)
{
    for (WCHAR unit : Utf8ToWide(utf8)) {
        Put16(out, static_cast<uint16_t>(unit));
    }
    Put16(out, 0);
}

void Align4(std::vector<uint8_t> &out)
{
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
}

// One block: length, value length, type, key, padding, value, then the
// children, each on a 4-byte boundary. The length counts all of it but any
// padding after the last child.
struct Block {
    std::string Key;
    uint16_t Type = TYPE_TEXT;
    std::vector<uint8_t> Value;
    uint16_t ValueLength = 0; // in bytes for binary values, in UTF-16 units for text
    std::vector<Block> Children;

    void WriteTo(std::vector<uint8_t> &out) const
    {
        const size_t start = out.size();
        Put16(out, 0);
        Put16(out, ValueLength);
        Put16(out, Type);
        PutText(out, Key);
        Align4(out);
        out.insert(out.end(), Value.begin(), Value.end());
        for (const Block &child : Children) {
            Align4(out);
            child.WriteTo(out);
        }
        StoreLe16(out.data() + start, static_cast<uint16_t>(out.size() - start));
    }
};

const std::string *Find(const VersionStrings &strings, const char *key)
{
    for (const auto &entry : strings) {
        if (entry.first == key) {
            return &entry.second;
        }
    }
    return nullptr;
}

} // namespace

bool ParseVersionNumbers(const std::string &version, uint32_t &high, uint32_t &low)
{
    uint32_t parts[4] = {0, 0, 0, 0};
    size_t at = 0;
    for (size_t part = 0; part < 4; ++part) {
        size_t digits = 0;
        uint32_t value = 0;
        for (; at < version.size() && version[at] >= '0' && version[at] <= '9' && value <= 65535; ++at, ++digits) {
            value = value * 10 + static_cast<uint32_t>(version[at] - '0');
        }
        if (digits == 0 || value > 65535) {
            return false;
        }
        parts[part] = value;
        // A dot followed by a digit goes on; anything else ends the numbers.
        if (at + 1 >= version.size() || version[at] != '.' || version[at + 1] < '0' || version[at + 1] > '9') {
            break;
        }
        if (part == 3) {
            return false; // a fifth number
        }
        ++at;
    }
    high = parts[0] << 16 | parts[1];
    low = parts[2] << 16 | parts[3];
    return true;
}

std::string AddVersionString(const std::string &assignment, VersionStrings &strings)
{
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        return "'" + assignment + "' is no KEY=VALUE";
    }
    const std::string key = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    const char *known = nullptr;
    for (const char *candidate : KNOWN_KEYS) {
        if (SameNoCase(key, candidate)) {
            known = candidate;
        }
    }
    if (known == nullptr) {
        std::string list;
        for (const char *candidate : KNOWN_KEYS) {
            list += list.empty() ? candidate : std::string(", ") + candidate;
        }
        return "unknown version key '" + key + "' (known: " + list + ")";
    }
    if (value.size() > MAX_VALUE_BYTES) {
        return "the value of " + std::string(known) + " is longer than " + std::to_string(MAX_VALUE_BYTES) + " bytes";
    }
    if (!IsValidUtf8(value)) {
        return "the value of " + std::string(known) + " is not UTF-8 text";
    }
    uint32_t high = 0;
    uint32_t low = 0;
    const bool isVersion = std::string(known) == "FileVersion" || std::string(known) == "ProductVersion";
    if (isVersion && !ParseVersionNumbers(value, high, low)) {
        return std::string(known) + " '" + value + "' does not start with 1 to 4 numbers up to 65535, as in 1.2.3.4";
    }
    for (auto &entry : strings) {
        if (entry.first == known) {
            entry.second = value;
            return std::string();
        }
    }
    strings.push_back({known, value});
    return std::string();
}

std::vector<uint8_t> VersionResourceData(const VersionStrings &strings)
{
    uint32_t fileHigh = 0, fileLow = 0, productHigh = 0, productLow = 0;
    if (const std::string *file = Find(strings, "FileVersion")) {
        ParseVersionNumbers(*file, fileHigh, fileLow);
    }
    if (const std::string *product = Find(strings, "ProductVersion")) {
        ParseVersionNumbers(*product, productHigh, productLow);
    }
    Block root{"VS_VERSION_INFO", TYPE_BINARY, {}, 0, {}};
    for (uint32_t field : {FIXED_SIGNATURE, FIXED_STRUCTURE_VERSION, fileHigh, fileLow, productHigh, productLow,
                           FIXED_FLAGS_MASK, 0u, FIXED_OS_NT_WINDOWS32, FIXED_TYPE_APPLICATION, 0u, 0u, 0u}) {
        Put32(root.Value, field);
    }
    root.ValueLength = static_cast<uint16_t>(root.Value.size());

    Block table{STRING_TABLE_KEY, TYPE_TEXT, {}, 0, {}};
    for (const auto &entry : strings) {
        Block text{entry.first, TYPE_TEXT, {}, 0, {}};
        PutText(text.Value, entry.second);
        text.ValueLength = static_cast<uint16_t>(text.Value.size() / 2); // with its terminating zero
        table.Children.push_back(text);
    }
    Block stringInfo{"StringFileInfo", TYPE_TEXT, {}, 0, {table}};

    Block translation{"Translation", TYPE_BINARY, {}, 4, {}};
    Put16(translation.Value, LANGUAGE_US_ENGLISH);
    Put16(translation.Value, CODE_PAGE_UTF16);
    Block varInfo{"VarFileInfo", TYPE_TEXT, {}, 0, {translation}};

    root.Children = {stringInfo, varInfo};
    std::vector<uint8_t> data;
    root.WriteTo(data);
    return data;
}

} // namespace Selfex
