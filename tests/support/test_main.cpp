#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <stdlib.h>

// Every test process gets a home folder of its own, so nothing touches the user's folders.
int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "talvoro-home-XXXXXX").string();
    std::string home = ::mkdtemp(pattern.data());
    ::setenv("HOME", home.c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"})
        ::unsetenv(name);
    ::testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return status;
}
