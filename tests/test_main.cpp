#include <gtest/gtest.h>

#include "codec_worker.h"
#include "platform.h"

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
    // Conversions that tests run through the codec worker start this executable as one.
    if (ServeAsCodecWorker()) return 0;
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ImagingEnvironment);
    return RUN_ALL_TESTS();
}
