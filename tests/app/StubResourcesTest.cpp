// Guards the resources of the built stub (selfex-stub.exe beside this test
// program): the two dialog templates as the dialog manager will read them,
// the string table, the manifest, icon group 100 and their language.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Win32.h"

namespace {

const WORD LANGUAGE_EN_US = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The stub, loaded as a resource file.
class StubResources : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring stub = path;
        stub = stub.substr(0, stub.find_last_of(L'\\') + 1) + L"selfex-stub.exe";
        s_Module = LoadLibraryExW(stub.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite()
    {
        if (s_Module != nullptr) {
            FreeLibrary(s_Module);
        }
        s_Module = nullptr;
    }
    void SetUp() override { ASSERT_NE(nullptr, s_Module) << "selfex-stub.exe beside app_tests.exe"; }

    // The bytes of a resource in US English; empty when there is none.
    static std::vector<uint8_t> Resource(LPCWSTR type, LPCWSTR name)
    {
        HRSRC info = FindResourceExW(s_Module, type, name, LANGUAGE_EN_US);
        if (info == nullptr) {
            return {};
        }
        const auto *data = static_cast<const uint8_t *>(LockResource(LoadResource(s_Module, info)));
        return std::vector<uint8_t>(data, data + SizeofResource(s_Module, info));
    }

    static HMODULE s_Module;
};

HMODULE StubResources::s_Module = nullptr;

// Reads a DLGTEMPLATEEX as the dialog manager does.
class CTemplateReader {
public:
    explicit CTemplateReader(const std::vector<uint8_t> &bytes) : m_Bytes(bytes) {}

    uint16_t Word() { return Read<uint16_t>(); }
    uint32_t Dword() { return Read<uint32_t>(); }
    int16_t Short() { return Read<int16_t>(); }
    uint8_t Byte() { return Read<uint8_t>(); }
    std::wstring Text()
    {
        std::wstring text;
        for (uint16_t c = Word(); c != 0 && !m_Overrun; c = Word()) {
            text += static_cast<wchar_t>(c);
        }
        return text;
    }
    // A name or an ordinal (0xFFFF + number); ordinals of the predefined
    // control classes come back as their names.
    std::wstring TextOrOrdinal()
    {
        if (Peek() != 0xFFFF) {
            return Text();
        }
        Word();
        switch (uint16_t ordinal = Word()) {
        case 0x80: return L"BUTTON";
        case 0x81: return L"EDIT";
        case 0x82: return L"STATIC";
        default: return L"#" + std::to_wstring(ordinal);
        }
    }
    void AlignToDword() { m_At = (m_At + 3) & ~size_t(3); }
    bool Overrun() const { return m_Overrun; }

private:
    uint16_t Peek()
    {
        size_t at = m_At;
        uint16_t value = Word();
        m_At = at;
        return value;
    }
    template <typename T>
    T Read()
    {
        T value{};
        if (m_At + sizeof(T) > m_Bytes.size()) {
            m_Overrun = true;
            return value;
        }
        std::memcpy(&value, m_Bytes.data() + m_At, sizeof(T));
        m_At += sizeof(T);
        return value;
    }

    const std::vector<uint8_t> &m_Bytes;
    size_t m_At = 0;
    bool m_Overrun = false;
};

struct Control {
    int Id;
    std::wstring Class;
    std::wstring Text;
    int X, Y, Width, Height;
    uint32_t Style;
};

struct Dialog {
    uint32_t Style;
    int Width, Height;
    std::wstring Caption;
    int FontSize;
    std::wstring Font;
    std::vector<Control> Controls; // in tab order
};

Dialog ReadDialog(const std::vector<uint8_t> &bytes)
{
    Dialog dialog{};
    CTemplateReader in(bytes);
    EXPECT_EQ(1, in.Word()) << "dlgVer";
    EXPECT_EQ(0xFFFF, in.Word()) << "signature of an extended template";
    in.Dword(); // helpID
    EXPECT_EQ(0u, in.Dword()) << "exStyle";
    dialog.Style = in.Dword();
    uint16_t count = in.Word();
    in.Short();
    in.Short();
    dialog.Width = in.Short();
    dialog.Height = in.Short();
    EXPECT_EQ(L"", in.TextOrOrdinal()) << "menu";
    EXPECT_EQ(L"", in.TextOrOrdinal()) << "class";
    dialog.Caption = in.Text();
    if ((dialog.Style & DS_SETFONT) != 0) {
        dialog.FontSize = in.Word();
        in.Word(); // weight
        in.Byte(); // italic
        in.Byte(); // charset
        dialog.Font = in.Text();
    }
    for (uint16_t i = 0; i < count && !in.Overrun(); ++i) {
        in.AlignToDword();
        Control control{};
        in.Dword(); // helpID
        EXPECT_EQ(0u, in.Dword()) << "exStyle of control " << i;
        control.Style = in.Dword();
        control.X = in.Short();
        control.Y = in.Short();
        control.Width = in.Short();
        control.Height = in.Short();
        control.Id = static_cast<int32_t>(in.Dword());
        control.Class = in.TextOrOrdinal();
        control.Text = in.TextOrOrdinal();
        uint16_t extra = in.Word();
        for (uint16_t b = 0; b < extra; ++b) {
            in.Byte();
        }
        dialog.Controls.push_back(control);
    }
    EXPECT_FALSE(in.Overrun()) << "template ends early";
    return dialog;
}

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

std::string Describe(const Control &control)
{
    char text[256];
    std::snprintf(text, sizeof text, "id %d class %s text \"%s\" at %d,%d size %dx%d style 0x%08x", control.Id,
                  Narrow(control.Class).c_str(), Narrow(control.Text).c_str(), control.X, control.Y, control.Width,
                  control.Height, control.Style);
    return text;
}

::testing::AssertionResult SameControls(const std::vector<Control> &expected, const std::vector<Control> &actual)
{
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure() << actual.size() << " controls, expected " << expected.size();
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        const Control &e = expected[i];
        const Control &a = actual[i];
        // Window class names are case-insensitive; the resource compiler
        // stores a class given by name in upper case.
        if (e.Id != a.Id || _wcsicmp(e.Class.c_str(), a.Class.c_str()) != 0 || e.Text != a.Text || e.X != a.X ||
            e.Y != a.Y || e.Width != a.Width || e.Height != a.Height || e.Style != a.Style) {
            return ::testing::AssertionFailure()
                   << "tab stop " << i << ": " << Describe(a) << "; expected " << Describe(e);
        }
    }
    return ::testing::AssertionSuccess();
}

// Compares everything of a template that the dialog manager reads.
::testing::AssertionResult SameDialog(const Dialog &expected, const Dialog &actual)
{
    if (expected.Style != actual.Style || expected.Width != actual.Width || expected.Height != actual.Height ||
        expected.Caption != actual.Caption || expected.FontSize != actual.FontSize || expected.Font != actual.Font) {
        char text[256];
        std::snprintf(text, sizeof text, "style 0x%08x, %dx%d, caption \"%s\", font %d \"%s\"", actual.Style,
                      actual.Width, actual.Height, Narrow(actual.Caption).c_str(), actual.FontSize,
                      Narrow(actual.Font).c_str());
        return ::testing::AssertionFailure() << text;
    }
    return SameControls(expected.Controls, actual.Controls);
}

const uint32_t CHILD = WS_CHILD | WS_VISIBLE;

TEST_F(StubResources, FolderDialogHasItsLayoutStylesAndTabOrder)
{
    const Dialog expected = {
        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT,
        262,
        57,
        L"",
        8,
        L"Tahoma",
        {
            {-1, L"STATIC", L"&Extract Folder:", 7, 7, 51, 8, CHILD | WS_GROUP | SS_LEFT},
            {1000, L"EDIT", L"", 7, 17, 230, 14, CHILD | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL},
            {1001, L"BUTTON", L"...", 239, 17, 16, 14, CHILD | WS_TABSTOP | BS_PUSHBUTTON},
            {IDOK, L"BUTTON", L"OK", 150, 37, 50, 14, CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON},
            {IDCANCEL, L"BUTTON", L"Cancel", 205, 37, 50, 14, CHILD | WS_TABSTOP | BS_PUSHBUTTON},
        }};
    EXPECT_TRUE(SameDialog(expected, ReadDialog(Resource(RT_DIALOG, MAKEINTRESOURCEW(101)))));
}

TEST_F(StubResources, ProgressDialogHasNoCloseBoxAndAStepBar)
{
    const Dialog expected = {
        WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT,
        199,
        39,
        L"Extract",
        8,
        L"Tahoma",
        {
            // File names: no mnemonics, an ellipsis where too long.
            {1002, L"STATIC", L"", 7, 7, 186, 8, CHILD | WS_GROUP | SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS},
            // Without PBS_SMOOTH: the bar advances in blocks.
            {1003, L"msctls_progress32", L"Progress", 7, 17, 186, 14, CHILD | WS_BORDER},
        }};
    EXPECT_TRUE(SameDialog(expected, ReadDialog(Resource(RT_DIALOG, MAKEINTRESOURCEW(102)))));
}

TEST_F(StubResources, StringTableHoldsTheThreeTexts)
{
    ASSERT_FALSE(Resource(RT_STRING, MAKEINTRESOURCEW(1)).empty()) << "strings 0-15 in US English";
    const std::pair<UINT, const wchar_t *> strings[] = {
        {1, L"Extract Failed."},
        {2, L"Choose Extract Folder:"},
        {3, L"Folder %s already exists.\nContinue?"}, // one line feed
    };
    for (const auto &s : strings) {
        wchar_t text[1024] = {};
        LoadStringW(s_Module, s.first, text, 1024);
        EXPECT_EQ(std::wstring(s.second), std::wstring(text)) << "string " << s.first;
    }
}

TEST_F(StubResources, ManifestRunsAsInvokerWithCommonControls6)
{
    std::vector<uint8_t> bytes = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    std::string manifest(bytes.begin(), bytes.end());
    const char *required[] = {
        "level=\"asInvoker\"",
        "uiAccess=\"false\"",
        "type=\"win32\"",
        "name=\"Microsoft.Windows.Common-Controls\"",
        "version=\"6.0.0.0\"",
        "processorArchitecture=\"" SELFEX_STUB_ARCH "\"",
        "publicKeyToken=\"6595b64144ccf1df\"",
        "language=\"*\"",
    };
    for (const char *text : required) {
        EXPECT_NE(std::string::npos, manifest.find(text)) << text;
    }
}

TEST_F(StubResources, IconGroupHoldsSixImagesOfTheirDepths)
{
    std::vector<uint8_t> group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(100));
    ASSERT_GE(group.size(), 6u);
    uint16_t count = static_cast<uint16_t>(group[4] | group[5] << 8);
    ASSERT_EQ(6, count);
    ASSERT_EQ(6u + 14u * count, group.size());

    const int expected[6][2] = {{16, 8}, {32, 8}, {16, 32}, {32, 32}, {48, 32}, {256, 32}};
    for (int i = 0; i < 6; ++i) {
        const uint8_t *entry = group.data() + 6 + 14 * i;
        int side = entry[0] == 0 ? 256 : entry[0];
        int bits = entry[6] | entry[7] << 8;
        auto id = static_cast<uint16_t>(entry[12] | entry[13] << 8);
        EXPECT_EQ(expected[i][0], side) << "image " << i;
        EXPECT_EQ(expected[i][1], bits) << "image " << i;

        // The image itself agrees with its entry: PNG for 256 pixels, else a
        // bitmap of that depth whose corner is masked out (transparent).
        std::vector<uint8_t> image = Resource(RT_ICON, MAKEINTRESOURCEW(id));
        ASSERT_GT(image.size(), 40u) << "image " << i;
        if (side == 256) {
            EXPECT_EQ(0, std::memcmp(image.data(), "\x89PNG", 4)) << "image " << i;
            continue;
        }
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(side, header.biWidth) << "image " << i;
        EXPECT_EQ(2 * side, header.biHeight) << "image " << i;
        EXPECT_EQ(bits, header.biBitCount) << "image " << i;
        size_t palette = bits == 8 ? 256 * 4 : 0;
        size_t colourRow = (static_cast<size_t>(side * bits) + 31) / 32 * 4;
        size_t maskRow = (static_cast<size_t>(side) + 31) / 32 * 4;
        size_t mask = 40 + palette + colourRow * static_cast<size_t>(side);
        ASSERT_EQ(mask + maskRow * static_cast<size_t>(side), image.size()) << "image " << i;
        // The mask is stored bottom-up: its first row is the image's last.
        EXPECT_NE(0, image[mask] & 0x80) << "bottom-left pixel of image " << i << " is transparent";
    }
}

// Counts every resource of a module, and those in another language.
struct LanguageCount {
    int Total = 0;
    int Other = 0;
};

BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param)
{
    auto *count = reinterpret_cast<LanguageCount *>(param);
    ++count->Total;
    if (language != LANGUAGE_EN_US) {
        ++count->Other;
    }
    return TRUE;
}

BOOL CALLBACK CountName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    return EnumResourceLanguagesW(module, type, name, CountLanguage, param);
}

BOOL CALLBACK CountType(HMODULE module, LPWSTR type, LONG_PTR param)
{
    return EnumResourceNamesW(module, type, CountName, param);
}

TEST_F(StubResources, AllAreInUsEnglish)
{
    LanguageCount count;
    EnumResourceTypesW(s_Module, CountType, reinterpret_cast<LONG_PTR>(&count));
    // Six icon images and their group, two dialogs, one string block, the
    // manifest.
    EXPECT_EQ(11, count.Total);
    EXPECT_EQ(0, count.Other);
}

} // namespace
