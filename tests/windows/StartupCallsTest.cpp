// What the window's start-up keeps on Windows, with the real calls under Wine in the run's
// throw-away prefix: the settings values in the current user's registry, the single-instance
// mutex, the kernel's version.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "platform/InstanceLock.h"
#include "platform/SettingsValues.h"
#include "platform/windows/OsVersion.h"

namespace valdrune {
namespace {

constexpr const wchar_t* kKey = L"Software\\Morvane\\networkcamera\\Setup_5";

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> bytes;
};

RawValue ReadRaw(const wchar_t* name) {
    RawValue v;
    DWORD size = 64;
    v.bytes.resize(size);
    if (::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, &v.type,
                       v.bytes.data(), &size) != ERROR_SUCCESS)
        return {};
    v.bytes.resize(size);
    return v;
}

bool KeyExists() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

class RegistrySettings : public testing::Test {
  protected:
    void SetUp() override { RemoveAll(); }
    void TearDown() override {
        RemoveAll();
        EXPECT_FALSE(KeyExists());
    }
    static void RemoveAll() { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Morvane"); }
    std::unique_ptr<ISettingsValues> values_ =
        OpenUserSettings("Morvane", "networkcamera", "Setup_5");
};

TEST_F(RegistrySettings, ReadsLeaveNoKeyAndWritesStoreDwordAndSixRawBytes) {
    EXPECT_FALSE(values_->ReadNumber("BROWSER"));
    EXPECT_FALSE(values_->ReadBytes("IFMAC", 6));
    EXPECT_FALSE(KeyExists()) << "a read must never create the key";

    const std::vector<std::uint8_t> mac = {0x02, 0x00, 0x5E, 0x10, 0x00, 0xAB};
    ASSERT_TRUE(values_->WriteNumber("BROWSER", 4));
    ASSERT_TRUE(values_->WriteBytes("IFMAC", mac));

    const RawValue browser = ReadRaw(L"BROWSER");
    EXPECT_EQ(browser.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(browser.bytes, (std::vector<std::uint8_t>{4, 0, 0, 0}));
    const RawValue ifmac = ReadRaw(L"IFMAC");
    EXPECT_EQ(ifmac.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(ifmac.bytes, mac);

    EXPECT_EQ(values_->ReadNumber("BROWSER"), 4);
    EXPECT_EQ(values_->ReadBytes("IFMAC", 6), mac);
}

TEST_F(RegistrySettings, ValuesOfAnotherTypeAreReadByTheirBytesAndOneTooLongIsAbsent) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    const BYTE two[] = {2, 0, 0, 0};
    const BYTE eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const BYTE short_[] = {0xAA, 0xBB};
    ::RegSetValueExW(key, L"BROWSER", 0, REG_BINARY, two, sizeof two);
    ::RegSetValueExW(key, L"IFMAC", 0, REG_BINARY, eight, sizeof eight);
    ::RegSetValueExW(key, L"SHORT", 0, REG_BINARY, short_, sizeof short_);
    ::RegCloseKey(key);

    EXPECT_EQ(values_->ReadNumber("BROWSER"), 2);
    EXPECT_FALSE(values_->ReadBytes("IFMAC", 6));
    EXPECT_EQ(values_->ReadBytes("SHORT", 6), (std::vector<std::uint8_t>{0xAA, 0xBB}));
}

TEST(InstanceMutex, SecondCopyIsRefusedUntilTheFirstHasGone) {
    CInstanceLock first;
    EXPECT_EQ(first.Path(), "Nodewren.InstanceString");
    ASSERT_TRUE(first.TryAcquire());
    CInstanceLock second;
    EXPECT_FALSE(second.TryAcquire());
    EXPECT_FALSE(second.Held());
    first.Release();
    EXPECT_TRUE(second.TryAcquire());
}

TEST(KernelVersion, IsReadFromNtdll) {
    const auto version = ReadOsVersion();
    ASSERT_TRUE(version);
    EXPECT_GE(version->major, 6u);
    EXPECT_GT(version->build, 0u);
}

}  // namespace
}  // namespace valdrune
