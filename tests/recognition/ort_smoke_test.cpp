#include <gtest/gtest.h>
#include <onnxruntime_c_api.h>

#include <string>

// The runtime we link must serve the C API version our code is written against.
TEST(OrtSmoke, ServesApiVersion29) {
    const OrtApiBase* base = OrtGetApiBase();
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(std::string(base->GetVersionString()).rfind("1.", 0), 0u);
    const OrtApi* api = base->GetApi(29);
    ASSERT_NE(api, nullptr);
    OrtEnv* env = nullptr;
    OrtStatus* status = api->CreateEnv(ORT_LOGGING_LEVEL_ERROR, "smoke", &env);
    ASSERT_EQ(status, nullptr) << api->GetErrorMessage(status);
    api->ReleaseEnv(env);
}
