// Run by CTest in a process started with BX_MM_DISK set, so the store reads the setting when
// it starts (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "bxmm/mm40.h"

TEST(DiskEnvironment, TheSettingConfiguresTheDevice) {
    const char* setting = std::getenv("BX_MM_DISK");
    ASSERT_NE(setting, nullptr);
    EXPECT_TRUE(MM_IsSCSIInitialised());
    EXPECT_EQ(MM_GetDiskSectorSize(), 4096);
    const MM_HANDLE image = MM_CreateImage(8, 8, MM_TYPE_GREY8, 256);
    EXPECT_NE(MM_GetHandleSCSI_ID(image), 0);
    const std::string path = std::string(setting).substr(0, std::string(setting).rfind(':'));
    EXPECT_EQ(access(path.c_str(), F_OK), 0) << "the device file was not opened";
    MM_DeleteImage(image);
}
