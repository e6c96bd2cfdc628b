#include <gtest/gtest.h>

#include "codec_worker.h"
#include "platform.h"
#include "windows_file_system.h"

namespace {

// GDI+ runs once for the whole test executable, as it does for the program.
class ImagingEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        GdiplusStartupInput input{};
        input.GdiplusVersion = 1;
        ASSERT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
    }
    void TearDown() override { GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    // Every test meets Windows's file system, and so does every codec worker a test starts:
    // conversions that tests run through the worker start this executable as one.
    PlayWindowsFileSystem();
    if (ServeAsCodecWorker()) return 0;
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ImagingEnvironment);
    return RUN_ALL_TESTS();
}
