// What a person sees of the program's resources: the name and version in
// the file's properties, and an icon in each size the shell asks for.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

TEST(Resources, FilePropertiesShowTheProgramsNameAndVersion) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    std::string block(GetFileVersionInfoSizeW(path, &ignored), '\0');
    ASSERT_TRUE(!block.empty() && GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    wchar_t* text = nullptr;
    UINT length = 0;
    // The string table Windows shows is the one the translation names.
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
                VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileDescription",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(KRX_VERSION_MAJOR << 16 | KRX_VERSION_MINOR))
        << "the project's version";
    EXPECT_NE(std::wstring(text).find(L"LogFile Upload Tool"), std::wstring::npos);
}

TEST(Resources, TheIconComesInEverySizeTheShellAsksFor) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(found, nullptr);
    const BYTE* group = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    std::set<int> sizes;
    for (int i = 0; i < (group[4] | group[5] << 8); ++i) {
        const BYTE* entry = group + 6 + 14 * i;  // width first, the image's id in the last two bytes
        sizes.insert(entry[0] == 0 ? 256 : entry[0]);
        EXPECT_NE(FindResourceW(nullptr, MAKEINTRESOURCEW(entry[12] | entry[13] << 8), RT_ICON), nullptr);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}
