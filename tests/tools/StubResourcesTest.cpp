// The author's icon and version information: .ico files, the rebuilt
// resource section of a stub (a small PE32 image made here, with the same
// section order as the real stubs: resources, then relocations) and what
// "selfex pack --icon --version-info" makes of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/tools/ToolTest.h"
#include "tools/PackageLayout.h"
#include "tools/pe/IconFile.h"
#include "tools/pe/PeImage.h"
#include "tools/pe/ResourceSection.h"
#include "tools/pe/StubResources.h"

using namespace Selfex;

namespace {

constexpr uint32_t SECTION_ALIGNMENT = 0x1000;
constexpr uint32_t FILE_ALIGNMENT = 0x200;
constexpr uint32_t RELOCATIONS_SIZE = 0x20;

struct FakeSection {
    const char *Name;
    std::vector<uint8_t> Data;
    uint32_t Characteristics;
};

// A PE32 GUI image: headers, then the sections in the order given at
// consecutive addresses; directory 2 names the ".rsrc" section, directory 5
// the ".reloc" one.
std::vector<uint8_t> MakeImage(const std::vector<FakeSection> &sections)
{
    std::vector<uint8_t> image(0x400, 0);
    image[0] = 'M';
    image[1] = 'Z';
    StoreLe32(&image[0x3C], 0x40);
    std::memcpy(&image[0x40], "PE\0\0", 4);
    StoreLe16(&image[0x44], 0x14C);
    StoreLe16(&image[0x46], static_cast<uint16_t>(sections.size()));
    StoreLe16(&image[0x54], 0xE0);
    uint8_t *optional = &image[0x58];
    StoreLe16(optional, 0x10B);
    StoreLe32(optional + 32, SECTION_ALIGNMENT);
    StoreLe32(optional + 36, FILE_ALIGNMENT);
    StoreLe32(optional + 60, 0x400);
    StoreLe16(optional + 68, 2);
    StoreLe32(optional + 92, 16);
    uint32_t address = SECTION_ALIGNMENT;
    for (size_t i = 0; i < sections.size(); ++i) {
        const FakeSection &section = sections[i];
        uint8_t *entry = &image[0x138 + 40 * i]; // written before the image grows below
        const uint32_t rawSize =
            (static_cast<uint32_t>(section.Data.size()) + FILE_ALIGNMENT - 1) & ~(FILE_ALIGNMENT - 1);
        std::memcpy(entry, section.Name, std::strlen(section.Name));
        StoreLe32(entry + 8, static_cast<uint32_t>(section.Data.size()));
        StoreLe32(entry + 12, address);
        StoreLe32(entry + 16, rawSize);
        StoreLe32(entry + 20, static_cast<uint32_t>(image.size()));
        StoreLe32(entry + 36, section.Characteristics);
        const size_t directory = std::strcmp(section.Name, ".rsrc") == 0    ? PE_DIRECTORY_RESOURCE
                                 : std::strcmp(section.Name, ".reloc") == 0 ? PE_DIRECTORY_RELOCATION
                                                                            : 0;
        if (directory != 0) {
            StoreLe32(&image[0x58 + 96 + 8 * directory], address);
            StoreLe32(&image[0x58 + 100 + 8 * directory], static_cast<uint32_t>(section.Data.size()));
        }
        image.insert(image.end(), section.Data.begin(), section.Data.end());
        image.resize(image.size() + rawSize - section.Data.size(), 0);
        address += (static_cast<uint32_t>(section.Data.size()) + SECTION_ALIGNMENT - 1) & ~(SECTION_ALIGNMENT - 1);
    }
    StoreLe32(&image[0x58 + 56], address);
    return image;
}

Resource Item(uint32_t type, uint32_t name, std::vector<uint8_t> data)
{
    return {ResourceId::Of(type), ResourceId::Of(name), ResourceId::Of(1033), 0, std::move(data)};
}

std::vector<uint8_t> Group(std::vector<uint16_t> members)
{
    std::vector<IconImage> images(members.size());
    return IconGroupData(images, members);
}

// The stub's resources: icon group 100 (icons 1 and 2), group 200 sharing
// icon 2, two dialogs, a named resource and the manifest.
std::vector<Resource> StubResources()
{
    return {Item(3, 1, SampleBytes(300, 1)),
            Item(3, 2, SampleBytes(400, 2)),
            Item(14, 100, Group({1, 2})),
            Item(14, 200, Group({2})),
            Item(5, 101, SampleBytes(318, 3)),
            Item(5, 102, SampleBytes(192, 4)),
            {ResourceId{true, 0, u"LICENSE"}, ResourceId::Of(7), ResourceId::Of(1033), 1252, SampleBytes(77, 5)},
            Item(24, 1, SampleBytes(647, 6))};
}

std::vector<uint8_t> StubImage(uint32_t resourceRva = 0x2000)
{
    return MakeImage({{".text", SampleBytes(0x300, 7), 0x60000020},
                      {".rsrc", BuildResources(StubResources(), resourceRva), 0x40000040},
                      {".reloc", SampleBytes(RELOCATIONS_SIZE, 8), 0x42000040}});
}

// An .ico file: a directory of images of the given sizes, laid out in order.
std::vector<uint8_t> IconFile(const std::vector<size_t> &sizes, bool png = false)
{
    std::vector<uint8_t> file(6 + 16 * sizes.size(), 0);
    StoreLe16(&file[2], 1);
    StoreLe16(&file[4], static_cast<uint16_t>(sizes.size()));
    for (size_t i = 0; i < sizes.size(); ++i) {
        uint8_t *entry = &file[6 + 16 * i];
        entry[0] = entry[1] = static_cast<uint8_t>(16 * (i + 1));
        StoreLe16(entry + 4, 1);
        StoreLe16(entry + 6, 32);
        StoreLe32(entry + 8, static_cast<uint32_t>(sizes[i]));
        StoreLe32(entry + 12, static_cast<uint32_t>(file.size()));
        std::vector<uint8_t> image = SampleBytes(sizes[i], static_cast<uint32_t>(i + 20));
        const uint8_t pngHead[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (png) {
            std::copy_n(pngHead, 8, image.begin());
        } else {
            StoreLe32(image.data(), 40);
        }
        file.insert(file.end(), image.begin(), image.end());
    }
    return file;
}

const Resource *Find(const std::vector<Resource> &resources, uint32_t type, uint32_t name)
{
    for (const Resource &resource : resources) {
        if (resource.Type.Is(type) && resource.Name.Is(name)) {
            return &resource;
        }
    }
    return nullptr;
}

} // namespace

TEST(IconFile, RefusesCutShortWrongCountsAndOverlapsAcceptsPng)
{
    std::vector<uint8_t> good = IconFile({100, 200});
    auto patched = [&](size_t at, uint32_t value, size_t width = 4) {
        std::vector<uint8_t> file = good;
        width == 4 ? StoreLe32(&file[at], value) : StoreLe16(&file[at], static_cast<uint16_t>(value));
        return file;
    };
    const struct {
        const char *Title;
        std::vector<uint8_t> File;
        const char *Problem; // "" when accepted
    } cases[] = {
        {"two bitmaps", good, ""},
        {"PNG images", IconFile({100, 60}, true), ""},
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 4), "cut short: no icon header"},
        {"a cursor", patched(2, 2, 2), "header type 2"},
        {"no image", patched(4, 0, 2), "holds no image"},
        {"more entries than the directory holds", patched(4, 40, 2), "directory of 40 images runs past"},
        {"last image cut off", std::vector<uint8_t>(good.begin(), good.end() - 1), "image 2 of 2 runs past the end"},
        {"image over the directory", patched(6 + 12, 20), "image 1 of 2 overlaps the icon directory"},
        {"images overlapping", patched(6 + 16 + 12, 38 + 50), "images 1 and 2 overlap"},
        {"empty image", patched(6 + 8, 0), "image 1 of 2 is empty"},
        {"neither PNG nor bitmap", patched(38, 0x12345678), "is neither a PNG image nor a bitmap"},
    };
    for (const auto &c : cases) {
        std::vector<IconImage> images;
        std::string problem = ReadIconFile(c.File.data(), c.File.size(), images);
        EXPECT_NE(problem.find(c.Problem), std::string::npos) << c.Title << ": " << problem;
        EXPECT_EQ(problem.empty(), *c.Problem == 0) << c.Title;
    }
}

TEST(StubResources, NewIconAndVersionKeepEveryOtherResourceAndMoveTheRelocations)
{
    std::vector<uint8_t> stub = StubImage();
    PeLayout before;
    ASSERT_EQ(ReadPeLayout(stub.data(), stub.size(), before), "");
    std::vector<IconImage> icon;
    std::vector<uint8_t> ico = IconFile({5000, 7000, 300});
    ASSERT_EQ(ReadIconFile(ico.data(), ico.size(), icon), "");
    AuthorResources author{icon, true, {{"ProductName", "Demo"}, {"FileVersion", "1.2.3.4"}}};
    ASSERT_EQ(RewriteStubResources(stub, author), "");

    PeLayout layout;
    ASSERT_EQ(ReadPeLayout(stub.data(), stub.size(), layout), "");
    const PeSection &rsrc = layout.Sections[1];
    const PeSection &reloc = layout.Sections[2];
    EXPECT_EQ(layout.Directories[PE_DIRECTORY_RESOURCE].Size, rsrc.VirtualSize);
    EXPECT_GE(reloc.VirtualAddress, rsrc.VirtualAddress + rsrc.VirtualSize);
    EXPECT_EQ(reloc.VirtualAddress % SECTION_ALIGNMENT, 0u);
    EXPECT_EQ(layout.Directories[PE_DIRECTORY_RELOCATION].Address, reloc.VirtualAddress);
    EXPECT_EQ(std::vector<uint8_t>(stub.begin() + reloc.RawOffset, stub.begin() + reloc.RawOffset + RELOCATIONS_SIZE),
              SampleBytes(RELOCATIONS_SIZE, 8));
    EXPECT_EQ(stub.size(), size_t{reloc.RawOffset} + reloc.RawSize);
    EXPECT_EQ(LoadLe32(&stub[layout.SizeOfImageAt]), reloc.VirtualAddress + SECTION_ALIGNMENT);
    EXPECT_EQ(LoadLe32(&stub[layout.InitializedDataAt]), rsrc.RawSize - before.Sections[1].RawSize); // was 0
    EXPECT_EQ(LoadLe32(&stub[layout.ChecksumAt]), PeChecksum(stub.data(), stub.size(), layout.ChecksumAt));

    std::vector<Resource> after;
    ASSERT_EQ(ReadResources(stub.data() + rsrc.RawOffset, rsrc.RawSize, rsrc.VirtualAddress, after), "");
    for (const Resource &original : StubResources()) {
        if (original.Type.Is(3) || original.Type.Is(14)) {
            continue;
        }
        auto same = std::find_if(after.begin(), after.end(), [&](const Resource &r) {
            return r.Type == original.Type && r.Name == original.Name && r.Language == original.Language;
        });
        ASSERT_NE(same, after.end());
        EXPECT_EQ(same->Data, original.Data);
        EXPECT_EQ(same->CodePage, original.CodePage);
    }
    // Icon 1 served only group 100 and goes; icon 2 stays for group 200;
    // the author's three images take the free ids 1, 3 and 4.
    EXPECT_EQ(Find(after, 3, 2)->Data, SampleBytes(400, 2));
    ASSERT_NE(Find(after, 14, 100), nullptr);
    EXPECT_EQ(IconGroupMembers(Find(after, 14, 100)->Data), (std::vector<uint16_t>{1, 3, 4}));
    EXPECT_EQ(Find(after, 3, 1)->Data, icon[0].Data);
    EXPECT_EQ(Find(after, 3, 4)->Data, icon[2].Data);
    EXPECT_EQ(Find(after, 3, 5), nullptr);
    EXPECT_EQ(IconGroupMembers(Find(after, 14, 200)->Data), (std::vector<uint16_t>{2}));
    ASSERT_NE(Find(after, 16, 1), nullptr);
    EXPECT_EQ(LoadLe32(&Find(after, 16, 1)->Data[40]), 0xFEEF04BDu); // the fixed file info, then 1.2 and 3.4
    EXPECT_EQ(LoadLe32(&Find(after, 16, 1)->Data[48]), 0x00010002u);
    EXPECT_EQ(LoadLe32(&Find(after, 16, 1)->Data[52]), 0x00030004u);
}

TEST(StubResources, RefusesStubsWhoseResourcesCannotBeRebuilt)
{
    std::vector<uint8_t> resources = BuildResources(StubResources(), 0x2000);
    std::vector<uint8_t> signedStub = StubImage();
    StoreLe32(&signedStub[0x58 + 96 + 8 * PE_DIRECTORY_SECURITY], static_cast<uint32_t>(signedStub.size()));
    StoreLe32(&signedStub[0x58 + 100 + 8 * PE_DIRECTORY_SECURITY], 8);
    signedStub.resize(signedStub.size() + 8, 0);
    std::vector<uint8_t> overlay = StubImage();
    overlay.push_back(0);
    const struct {
        const char *Title;
        std::vector<uint8_t> Stub;
        const char *Problem;
    } cases[] = {
        {"no resources", MakeImage({{".text", SampleBytes(0x300, 7), 0x60000020}}), "it has no resource section"},
        {"data after the resources",
         MakeImage({{".rsrc", resources, 0x40000040}, {".data", SampleBytes(0x100, 9), 0xC0000040}}),
         "its resource section (.rsrc) is not the last section: .data follows it"},
        {"signed", signedStub, "it is signed"},
        {"bytes behind the last section", overlay, "it carries 1 bytes after its last section"},
        {"resource data outside the section", StubImage(0x1000), "resource data lies outside the resource section"},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> stub = c.Stub;
        AuthorResources author{{}, true, {{"ProductName", "x"}}};
        std::string problem = RewriteStubResources(stub, author);
        EXPECT_NE(problem.find(c.Problem), std::string::npos) << c.Title << ": " << problem;
        EXPECT_EQ(stub, c.Stub) << c.Title;
    }
    // Nor may a signed stub start a package: the cabinet would lie outside the signature.
    EXPECT_NE(StubProblem(signedStub.data(), signedStub.size()).find("the stub is signed"), std::string::npos);
    EXPECT_EQ(StubProblem(StubImage().data(), StubImage().size()), "");
}

TEST_F(ToolTest, PackedIconMovesTheCabinetBehindALargerStubAndRefusesOneThatCannotFit)
{
    Write("stub.exe", StubImage());
    Write("in/a.txt", "a");
    Write("big.ico", IconFile({90000, 80000}));
    Write("huge.ico", IconFile({150000, 80000}));
    CommandResult packed =
        Run({"pack", "-o", At("out.exe"), "--stub", At("stub.exe"), "--icon", At("big.ico"), "--version-info",
             "ProductVersion=2.0", "--version-info", "CompanyName=Ünïcødé", At("in")});
    ASSERT_EQ(packed.Code, 0) << packed.Err;
    std::vector<uint8_t> package = Read("out.exe");
    PeLayout layout;
    ASSERT_EQ(ReadPeLayout(package.data(), package.size(), layout), "");
    const size_t stubEnd = layout.Sections.back().RawOffset + layout.Sections.back().RawSize;
    EXPECT_GT(stubEnd, 160000u);
    EXPECT_EQ(std::memcmp(&package[stubEnd], "MSCF", 4), 0);
    EXPECT_NE(packed.Out.find("at offset " + std::to_string(stubEnd)), std::string::npos) << packed.Out;
    EXPECT_EQ(Run({"test", At("out.exe")}).Code, 0);

    CommandResult refused =
        Run({"pack", "-o", At("no.exe"), "--stub", At("stub.exe"), "--icon", At("huge.ico"), At("in")});
    EXPECT_EQ(refused.Code, 1);
    EXPECT_NE(refused.Err.find("more than the 225529 bytes a package's stub may have; with this stub the icon's "
                               "images may take at most"),
              std::string::npos)
        << refused.Err;
    EXPECT_FALSE(Exists("no.exe"));

    CommandResult unknown =
        Run({"pack", "-o", At("no.exe"), "--stub", At("stub.exe"), "--version-info", "Author=me", At("in")});
    EXPECT_EQ(unknown.Code, 2);
    EXPECT_NE(unknown.Err.find("unknown version key 'Author'"), std::string::npos) << unknown.Err;
}
