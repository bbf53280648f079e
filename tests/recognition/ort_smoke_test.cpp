#include <gtest/gtest.h>
#include <onnxruntime_c_api.h>

#include <string>

// The runtime we link must serve the C API version our code is written against.
TEST(OrtSmoke, ServesApiVersion29) {
    const OrtApiBase* base = OrtGetApiBase();
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(std::string(base->GetVersionString()).rfind("1.29", 0), 0u);
    const OrtApi* api = base->GetApi(29);
    ASSERT_NE(api, nullptr);
}
