// libcabinet.so as the platform layer loads it: only the four FDI entry
// points are exported, and they work through the loaded library.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "fdi/CabChecksum.h"
#include "fdi/FdiReason.h"
#include "tests/fdi/FdiTestClient.h"
#include "tests/testlib/CabBuilder.h"

namespace {

std::string LibraryPath()
{
    // The tests and the library are built into the same folder.
    Dl_info info{};
    dladdr(reinterpret_cast<void *>(&LibraryPath), &info);
    std::string self = info.dli_fname ? info.dli_fname : "";
    return self.substr(0, self.rfind('/') + 1) + "libcabinet.so";
}

} // namespace

TEST(CabinetLibrary, ExportsOnlyTheFdiEntryPoints)
{
    void *library = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char *name : {"FDICreate", "FDIIsCabinet", "FDICopy", "FDIDestroy", FDI_REASON_ENTRY}) {
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    }
    // Internals stay hidden.
    EXPECT_EQ(dlsym(library, "_ZN3Fdi4FailENS_5FaultEPKc"), nullptr);
    EXPECT_EQ(dlsym(library, "_ZN3Fdi11CreateMszipERKNS_9AllocatorEPNS_6StatusE"), nullptr);

    // One copy through the loaded functions.
    auto create = reinterpret_cast<decltype(&FDICreate)>(dlsym(library, "FDICreate"));
    auto copy = reinterpret_cast<decltype(&FDICopy)>(dlsym(library, "FDICopy"));
    auto destroy = reinterpret_cast<decltype(&FDIDestroy)>(dlsym(library, "FDIDestroy"));
    FdiTest::CFdiTestClient client;
    TestLib::CCabBuilder builder;
    builder.AddFolder(TestLib::CAB_COMPRESS_MSZIP).AddFile("x.txt", TestLib::PatternBytes(70000, 3));
    client.AddFile("d\\x.cab", builder.Build().Bytes);
    ERF erf{};
    using Client = FdiTest::CFdiTestClient;
    HFDI context = create(Client::Alloc, Client::Free, Client::Open, Client::Read, Client::Write, Client::Close,
                          Client::Seek, cpu80386, &erf);
    ASSERT_NE(context, nullptr);
    char name[] = "x.cab", path[] = "d\\";
    EXPECT_TRUE(copy(context, name, path, 0, Client::Notify, nullptr, &client));
    EXPECT_TRUE(destroy(context));
    ASSERT_NE(client.FindOutput("x.txt"), nullptr);
    EXPECT_EQ(client.FindOutput("x.txt")->Data, TestLib::PatternBytes(70000, 3));
    dlclose(library);
}

TEST(BlockChecksum, AgreesWithTheBuildersSumAtEveryLength)
{
    // Two independent implementations (the decoder's folds eight bytes at a
    // time); every tail length and alignment must agree.
    std::vector<uint8_t> data = TestLib::RandomBytes(64, 11);
    for (uint32_t start = 0; start < 8; ++start) {
        for (uint32_t size = 0; start + size <= data.size(); ++size) {
            uint32_t seed = size * 0x9E3779B9u;
            ASSERT_EQ(Fdi::CabChecksum(data.data() + start, size, seed),
                      TestLib::CabChecksum(data.data() + start, size, seed))
                << "start " << start << " size " << size;
        }
    }
}
