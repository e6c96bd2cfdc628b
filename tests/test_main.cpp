#include <gtest/gtest.h>

#include <memory>

#include "codec_worker.h"
#include "platform.h"
#include "resources.h"
#include "windows_file_system.h"

namespace {

// GDI+ runs once for the whole test executable, as it does for the program.
class ImagingEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        imaging_ = std::make_unique<GdiplusSession>();
        ASSERT_TRUE(imaging_->started());
    }
    void TearDown() override { imaging_.reset(); }

private:
    std::unique_ptr<GdiplusSession> imaging_;
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
