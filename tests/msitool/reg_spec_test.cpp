#include "msitool/reg_spec.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/sim/sim_machine.h"

namespace msitool {
namespace {

using platform::sim::View;

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Spec";
constexpr char16_t kSpecKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Spec\\\\";

class RegSpecTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(0, m.registry.OpenHandles()); }

    uint32_t Write(const std::u16string& spec, uint32_t type = platform::kRegSz, uint32_t view = 0,
                   bool flush = false) {
        return WriteRegSpec(m.platform().reg, spec, flush, type, view);
    }
    // The text a read gives back, or the code of a failed read in `rc`.
    std::u16string Read(const std::u16string& spec, uint32_t& rc, uint32_t view = 0) {
        char16_t buffer[64] = {};
        uint32_t size = sizeof buffer;
        rc = ReadRegSpec(m.platform().reg, buffer, &size, spec, view);
        return rc == kRegSpecOk ? std::u16string(buffer) : std::u16string();
    }
    uint32_t Dword(const char* name) {
        const platform::sim::SimRegValue* v = m.registry.GetValue(kKey, name);
        if (v == nullptr || v->type != platform::kRegDword || v->data.size() != 4) return 0xdeadbeef;
        uint32_t value = 0;
        std::memcpy(&value, v->data.data(), 4);
        return value;
    }

    platform::sim::SimMachine m;
};

TEST_F(RegSpecTest, MalformedSpecsAreRefusedBeforeAnythingIsCreated) {
    for (const char16_t* spec : {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Spec\\Name|1",  // no "\\"
                                 u"HKEY_LOCAL_MACHINE", u"HKLM\\SOFTWARE\\Kelvaris\\Spec\\\\Name|1",
                                 u"\\\\Name|1", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Spec\\\\Name"}) {
        EXPECT_EQ(kRegSpecMalformed, Write(spec))
            << std::string(spec, spec + std::char_traits<char16_t>::length(spec));
        uint32_t rc = 0;
        (void)Read(spec, rc);
        EXPECT_NE(kRegSpecOk, rc);
    }
    EXPECT_FALSE(m.registry.Exists(kKey));
}

TEST_F(RegSpecTest, WrittenTextReadsBackWithTrailingBlanksRemoved) {
    ASSERT_EQ(kRegSpecOk, Write(std::u16string(kSpecKey) + u"Name|some text  "));
    uint32_t rc = 0xdeadbeef;
    EXPECT_EQ(u"some text", Read(std::u16string(kSpecKey) + u"Name", rc));
    EXPECT_EQ(kRegSpecOk, rc);
    // Without data it is the value name whose trailing blanks go; the root name ignores case.
    EXPECT_EQ(u"some text", Read(u"hkey_local_machine\\SOFTWARE\\Kelvaris\\Spec\\\\Name   ", rc));
    EXPECT_EQ(kRegSpecOk, rc);
}

TEST_F(RegSpecTest, ReadFailuresHaveTheirOwnCodes) {
    uint32_t rc = 0;
    (void)Read(std::u16string(kSpecKey) + u"Name", rc);
    EXPECT_EQ(kRegSpecOpenFailed, rc);  // no key

    m.registry.SetString(kKey, "Long", std::string(200, 'x'));
    (void)Read(std::u16string(kSpecKey) + u"Missing", rc);
    EXPECT_EQ(kRegSpecAccessFailed, rc);

    char16_t small[8];
    uint32_t size = sizeof small;
    EXPECT_EQ(kRegSpecMoreData,
              ReadRegSpec(m.platform().reg, small, &size, std::u16string(kSpecKey) + u"Long", 0));
    EXPECT_EQ(201u * 2, size);
}

TEST_F(RegSpecTest, DwordDataIsReadAsADecimalNumber) {
    struct Case {
        const char16_t* data;
        uint32_t value;
    } const cases[] = {{u"42", 42}, {u"-1", 0xFFFFFFFF},          {u" 7x", 7},
                       {u"abc", 0}, {u"99999999999", 0x7FFFFFFF}, {u"-99999999999", 0x80000000}};
    for (const Case& c : cases) {
        ASSERT_EQ(kRegSpecOk, Write(std::u16string(kSpecKey) + u"D|" + c.data, platform::kRegDword));
        EXPECT_EQ(c.value, Dword("D"))
            << std::string(c.data, c.data + std::char_traits<char16_t>::length(c.data));
    }
}

TEST_F(RegSpecTest, EmptyDataDeletesTheValueAndAMissingValueIsAlreadyDeleted) {
    m.registry.SetString(kKey, "Gone", "x");
    m.registry.SetString(kKey, "Kept", "y");
    EXPECT_EQ(kRegSpecOk, Write(std::u16string(kSpecKey) + u"Gone|  "));
    EXPECT_FALSE(m.registry.ValueExists(kKey, "Gone"));
    EXPECT_TRUE(m.registry.ValueExists(kKey, "Kept"));
    EXPECT_EQ(kRegSpecOk, Write(std::u16string(kSpecKey) + u"Gone|"));
}

TEST_F(RegSpecTest, TheViewFlagSelectsTheRegistryView) {
    ASSERT_EQ(kRegSpecOk, Write(std::u16string(kSpecKey) + u"V|32", platform::kRegSz, kRegSpecView32));
    ASSERT_EQ(kRegSpecOk, Write(std::u16string(kSpecKey) + u"W|64", platform::kRegSz, kRegSpecView64));
    EXPECT_TRUE(m.registry.ValueExists(kKey, "V", View::K32));
    EXPECT_FALSE(m.registry.ValueExists(kKey, "V", View::K64));
    EXPECT_TRUE(m.registry.ValueExists(kKey, "W", View::K64));
    EXPECT_FALSE(m.registry.ValueExists(kKey, "W", View::K32));
    uint32_t rc = 0;
    EXPECT_EQ(u"64", Read(std::u16string(kSpecKey) + u"W", rc, kRegSpecView64));
    (void)Read(std::u16string(kSpecKey) + u"W", rc, kRegSpecView32);
    EXPECT_EQ(kRegSpecAccessFailed, rc);
}

TEST_F(RegSpecTest, AnEmptyKeyPathUsesTheRootKeyWhichIsNeverClosed) {
    m.faults.ResetCounts();
    ASSERT_EQ(kRegSpecOk, Write(u"HKEY_CURRENT_USER\\\\AtRoot|r", platform::kRegSz, 0, true));
    uint32_t rc = 0;
    EXPECT_EQ(u"r", Read(u"HKEY_CURRENT_USER\\\\AtRoot", rc));
    EXPECT_TRUE(m.registry.ValueExists("HKEY_CURRENT_USER", "AtRoot"));
    EXPECT_EQ(0, m.faults.Calls("RegCloseKey"));
    EXPECT_EQ(0, m.faults.Calls("RegCreateKeyExW") + m.faults.Calls("RegOpenKeyExW"));
    EXPECT_EQ(1, m.faults.Calls("RegFlushKey"));
}

TEST_F(RegSpecTest, FailuresToOpenAndToWrite) {
    m.faults.Fail("RegCreateKeyExW", platform::kErrorAccessDenied);
    EXPECT_EQ(kRegSpecOpenFailed, Write(std::u16string(kSpecKey) + u"V|1"));
    m.faults.Fail("RegSetValueExW", platform::kErrorAccessDenied);
    EXPECT_EQ(kRegSpecAccessFailed, Write(std::u16string(kSpecKey) + u"V|1", platform::kRegDword, 0, true));
    m.faults.Fail("RegDeleteValueW", platform::kErrorAccessDenied);
    EXPECT_EQ(kRegSpecAccessFailed, Write(std::u16string(kSpecKey) + u"V|"));
    EXPECT_EQ(0, m.faults.Calls("RegFlushKey"));
}

}  // namespace
}  // namespace msitool
