#include <gtest/gtest.h>

#include <sys/stat.h>

#include "base/keychain.h"
#include "support/temp_dir.h"

using namespace talvoro;
using talvoro::testing::readFile;
using talvoro::testing::TempDir;

// A stand-in for secret-tool: answers for "good", nothing for others, and counts its calls.
TEST(Keychain, CachesSuccessesOnlyAndTrimsTheAnswer) {
    TempDir dir;
    std::string script = dir.write("tool", "#!/bin/sh\n"
                                           "echo \"$3\" >> \"$(dirname \"$0\")/calls\"\n"
                                           "[ \"$1 $2\" = \"lookup service\" ] || exit 3\n"
                                           "[ \"$3\" = good ] && printf '  s3cr3t\\n' && exit 0\n"
                                           "[ \"$3\" = empty ] && exit 0\n"
                                           "exit 1\n");
    ::chmod(script.c_str(), 0755);
    Keychain::setTool(script);
    EXPECT_EQ(Keychain::password("good"), "s3cr3t");
    EXPECT_EQ(Keychain::password("good"), "s3cr3t");
    EXPECT_EQ(Keychain::password("missing"), std::nullopt);
    EXPECT_EQ(Keychain::password("missing"), std::nullopt);
    EXPECT_EQ(Keychain::password("empty"), std::nullopt);
    EXPECT_EQ(readFile(dir / "calls"), "good\nmissing\nmissing\nempty\n");
    Keychain::setTool(dir / "no-such-program");
    EXPECT_EQ(Keychain::password("good"), std::nullopt);
    Keychain::setTool("secret-tool");
}
