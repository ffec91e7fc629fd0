#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry.h"
#include "registry_dump.h"

namespace {

using Names = std::vector<std::string>;

const std::string kData = KRX_DISCOVERY_DATA;
const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

std::string ErrorOf(const std::function<void()>& read) {
    try {
        read();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

TEST(RecordedRegistryValues, FileOrderRepeatedNamesAndDataOfEachType) {
    auto reg = RecordedRegistryFromText(kHeader +
                                        "[HKEY_LOCAL_MACHINE\\K]\r\n"
                                        "\"b\"=\"1\"\r\n\"a\"=\"2\"\r\n@=\"default\"\r\n"
                                        "\"path\"=\"C:\\\\Drivers\\\\\"\r\n"
                                        "\"quote\"=\"say \\\"hi\\\" = \\\\\"\r\n"
                                        "\"fifteen\"=dword:0000000f\r\n"
                                        "\"max\" = dword:FFFFFFFF\r\n"
                                        "\"multi\"=hex(7):43,00,4f,00,\\\r\n"
                                        "  4d,00,00,00\r\n"
                                        "\"gone\"=-\r\n"
                                        "[HKEY_LOCAL_MACHINE\\K]\r\n"
                                        "\"A\"=\"4\"\r\n\"d\"=\"5\"\r\n")
                   ->Open();
    ASSERT_TRUE(reg->OpenKey("K"));
    EXPECT_EQ(reg->GetValueNames(), (Names{"b", "a", "", "path", "quote", "fifteen", "max", "multi", "d"}));
    EXPECT_EQ(reg->GetDataAsString("a"), "4");
    EXPECT_EQ(reg->GetDataAsString("D"), "5");
    EXPECT_EQ(reg->GetDataAsString("missing"), "");
    EXPECT_EQ(reg->GetDataAsString(""), "default");
    EXPECT_EQ(reg->GetDataAsString("path"), "C:\\Drivers\\");
    EXPECT_EQ(reg->GetDataAsString("quote"), "say \"hi\" = \\");
    EXPECT_EQ(reg->GetDataAsString("fifteen"), "15");
    EXPECT_EQ(reg->GetDataAsString("max"), "4294967295");
    EXPECT_EQ(reg->GetDataAsString("multi"), "hex(7):43,00,4f,00,4d,00,00,00");
}

// Only keys below HKEY_LOCAL_MACHINE are kept; a deleted key's section
// records nothing, not even into the key before it.
TEST(RecordedRegistryKeys, SectionPathsImplyTheirParentsInFirstAppearanceOrder) {
    auto reg = RecordedRegistryFromText(kHeader +
                                        "[HKEY_LOCAL_MACHINE\\Top\\Zeta\\Deep\\Deeper]\r\n"
                                        "[HKLM\\Top\\Alpha]\r\n\"v\"=\"1\"\r\n"
                                        "[-HKEY_LOCAL_MACHINE\\Removed]\r\n\"v\"=\"removed\"\r\n"
                                        "[HKEY_CURRENT_USER\\Software\\K]\r\n\"v\"=\"user\"\r\n"
                                        "[HKEY_LOCAL_MACHINE\\TOP\\zeta\\Other]\r\n")
                   ->Open();
    EXPECT_TRUE(reg->KeyExists("\\top\\ZETA\\deep\\"));
    EXPECT_FALSE(reg->KeyExists("Top\\Zeta\\De"));
    EXPECT_FALSE(reg->KeyExists("Removed"));
    ASSERT_TRUE(reg->OpenKey("Top\\"));
    EXPECT_EQ(reg->GetKeyNames(), (Names{"Zeta", "Alpha"}));
    EXPECT_TRUE(reg->GetValueNames().empty());
    ASSERT_TRUE(reg->OpenKey("top\\zeta"));
    EXPECT_EQ(reg->GetKeyNames(), (Names{"Deep", "Other"}));
    ASSERT_TRUE(reg->OpenKey(""));
    EXPECT_EQ(reg->GetKeyNames(), (Names{"Top"}));
    // Opening a missing key leaves no key open.
    ASSERT_TRUE(reg->OpenKey("Top\\Alpha"));
    EXPECT_EQ(reg->GetDataAsString("v"), "1");
    EXPECT_FALSE(reg->OpenKey("Nope"));
    EXPECT_TRUE(reg->GetValueNames().empty());
    EXPECT_TRUE(reg->GetKeyNames().empty());
    EXPECT_EQ(reg->GetDataAsString("v"), "");
}

TEST(RecordedRegistryText, Utf16AndRegedit4Exports) {
    auto eight = RecordedRegistry(kData + "/typical.reg");
    auto sixteen = RecordedRegistry(kData + "/typical_utf16.reg");
    std::string dump = Dump(*eight);
    EXPECT_NE(dump.find("\"LatencyTimer\"=\"16\""), std::string::npos) << dump;
    EXPECT_EQ(Dump(*sixteen), dump);

    std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"n\"=\"\u00e9\u20ac\U0001F600\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    auto reg = RecordedRegistryFromText(bytes)->Open();
    ASSERT_TRUE(reg->OpenKey("K"));
    EXPECT_EQ(reg->GetDataAsString("n"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

    reg = RecordedRegistryFromText("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:00000010\n")->Open();
    ASSERT_TRUE(reg->OpenKey("K"));
    EXPECT_EQ(reg->GetDataAsString("v"), "16");
}

TEST(RecordedRegistryErrors, MalformedTextNamesTheLine) {
    const std::string head = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n";
    const struct {
        std::string text, line;
    } cases[] = {
        {"", ":1:"},
        {"Windows Registry Editor Version 4.00\n", ":1:"},
        {"Windows Registry Editor Version 5.00\n\"v\"=\"1\"\n", ":2:"},
        {head + "[HKEY_LOCAL_MACHINE\\L\n", ":3:"},
        {head + "[HKEY_NOWHERE\\L]\n", ":3:"},
        {head + "\"v\"=\"open\n", ":3:"},
        {head + "\"v\"\n", ":3:"},
        {head + "\"v\"=dword:1234567890\n", ":3:"},
        {head + "\"v\"=qword:1\n", ":3:"},
        {head + "\"ok\"=\"1\"\r\n\"v\"=\n", ":4:"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(ErrorOf([&] { RecordedRegistryFromText(c.text); }).find(c.line), std::string::npos) << c.text;
    }

    const std::string missing = kData + "/no_such_export.reg";
    EXPECT_NE(ErrorOf([&] { RecordedRegistry(missing); }).find(missing), std::string::npos);
    const std::string malformed = kData + "/malformed.reg";
    EXPECT_NE(ErrorOf([&] { RecordedRegistry(malformed); }).find(malformed + ":4:"), std::string::npos);
}

}  // namespace
