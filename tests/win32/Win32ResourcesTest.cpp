#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "image/ResourceTable.h"
#include "platform/win32/Win32Resources.h"

namespace {

TEST(ModuleResourcesTest, FindsSRecordResourcesByNumber) {
    Win32ModuleResources resources(GetModuleHandleA(nullptr));
    ResourceBytes bytes;
    ASSERT_TRUE(resources.Find("S_RECORD", 200, bytes));
    const char expected[] = "S00F000068656C6C6F202020202000003C\r\nS9030000FC\r\n";
    ASSERT_EQ(bytes.size, sizeof expected - 1);
    EXPECT_EQ(std::memcmp(bytes.data, expected, bytes.size), 0);
}

TEST(ModuleResourcesTest, MissingIdsAndTypesAreNotFound) {
    Win32ModuleResources resources(GetModuleHandleA(nullptr));
    ResourceBytes bytes;
    // The loader images the boot sequences ask for are not shipped.
    for (uint16_t id : {174, 195, 196}) {
        EXPECT_FALSE(resources.Find("S_RECORD", id, bytes)) << id;
    }
    EXPECT_FALSE(resources.Find("BINARY", 200, bytes));
    EXPECT_EQ(bytes.data, nullptr);
}

TEST(ModuleResourcesTest, ImageLayerReachesTheInstalledLookup) {
    Win32ModuleResources resources(GetModuleHandleA(nullptr));
    SetModuleResources(&resources);
    ResourceBytes bytes;
    EXPECT_TRUE(ModuleResources().Find("S_RECORD", 200, bytes));
    SetModuleResources(nullptr);
    EXPECT_FALSE(ModuleResources().Find("S_RECORD", 200, bytes));
}

}  // namespace
