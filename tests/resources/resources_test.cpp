// The program's resources as Windows sees them: the loader applies the
// manifest (here, to this test program), the icon group holds every size
// the shell asks for, and the version block names the program.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Resource(LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(nullptr, name, type);
    if (!found) return std::string();
    HGLOBAL loaded = LoadResource(nullptr, found);
    const char* data = static_cast<const char*>(LockResource(loaded));
    return data ? std::string(data, SizeofResource(nullptr, found)) : std::string();
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved, type, count;
};
#pragma pack(pop)

}  // namespace

TEST(Resources, ManifestIsEmbeddedAndApplied) {
    const std::string manifest = Resource(MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_FALSE(manifest.empty()) << "no manifest resource 1";
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    // The loader applied it: its activation context sends the common
    // controls to their version 6 side-by-side assembly (without the
    // manifest there is no such redirection).
    // Windows may redirect it to version 5 by default: the assembly found
    // must be version 6.
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(FindActCtxSectionStringW(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                         ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll", &data))
        << GetLastError();
    SIZE_T needed = 0;
    QueryActCtxW(0, data.hActCtx, &data.ulAssemblyRosterIndex, AssemblyDetailedInformationInActivationContext,
                 nullptr, 0, &needed);
    ASSERT_GT(needed, 0u);
    std::vector<char> buffer(needed);
    ASSERT_TRUE(QueryActCtxW(0, data.hActCtx, &data.ulAssemblyRosterIndex,
                             AssemblyDetailedInformationInActivationContext, buffer.data(), needed, &needed));
    const auto* assembly = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
    ASSERT_NE(assembly->lpAssemblyEncodedAssemblyIdentity, nullptr);
    const std::wstring identity = assembly->lpAssemblyEncodedAssemblyIdentity;
    EXPECT_NE(identity.find(L"Common-Controls"), std::wstring::npos);
    EXPECT_NE(identity.find(L"version=\"6."), std::wstring::npos) << std::string(identity.begin(), identity.end());
    ReleaseActCtx(data.hActCtx);
}

// Each icon is read as the image it holds (PNG or bitmap), without asking
// the window system: a test run has no display.
TEST(Resources, IconGroupHoldsSevenSizesOfWholeImages) {
    const std::string group = Resource(MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_GE(group.size(), sizeof(GroupIconHeader));
    const auto* header = reinterpret_cast<const GroupIconHeader*>(group.data());
    ASSERT_EQ(header->count, 7);
    ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + header->count * sizeof(GroupIconEntry));
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(header + 1);
    std::set<int> sizes;
    for (int i = 0; i < header->count; ++i) {
        const GroupIconEntry& e = entries[i];
        const int size = e.width == 0 ? 256 : e.width;
        sizes.insert(size);
        EXPECT_EQ(e.bit_count, 32);
        const std::string image = Resource(MAKEINTRESOURCEW(e.id), RT_ICON);
        ASSERT_EQ(image.size(), e.bytes) << size;
        ASSERT_GE(image.size(), 40u) << size;
        const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
        const auto big_endian = [bytes](std::size_t at) {
            return static_cast<int>(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3]);
        };
        if (image.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0) {
            EXPECT_EQ(image.compare(12, 4, "IHDR"), 0) << size;
            EXPECT_EQ(big_endian(16), size);
            EXPECT_EQ(big_endian(20), size);
        } else {
            BITMAPINFOHEADER bmp;
            std::memcpy(&bmp, image.data(), sizeof bmp);
            EXPECT_EQ(bmp.biSize, sizeof bmp) << size;
            EXPECT_EQ(bmp.biWidth, size);
            EXPECT_EQ(bmp.biHeight, 2 * size);  // the colour image, then the mask
            EXPECT_EQ(bmp.biBitCount, 32);
        }
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST(Resources, VersionBlockNamesTheProgram) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileDescription",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"KRX3-V01 LogFile Upload Tool");
}
