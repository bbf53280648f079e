#include <iostream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "install/install_support.h"

using namespace talvoro::testing;
namespace fs = std::filesystem;

namespace {

// The value of one field of `dpkg-deb --info`, continuation lines left out.
std::string field(const std::string& info, const std::string& name) {
    const std::string label = "\n " + name + ": ";
    const size_t at = info.find(label);
    if (at == std::string::npos)
        return {};
    const size_t start = at + label.size();
    return info.substr(start, info.find('\n', start) - start);
}

// The package names of a relation field, versions and alternatives left out.
std::set<std::string> packageNames(const std::string& relations) {
    std::set<std::string> names;
    std::istringstream items(relations);
    for (std::string item; std::getline(items, item, ',');) {
        item = item.substr(item.find_first_not_of(' '));
        names.insert(item.substr(0, item.find_first_of(" (|")));
    }
    return names;
}

} // namespace

// One test: building the package takes most of its time, and every check reads the same file.
TEST(DebianPackage, BuildsCleanWithItsDependenciesAndItsProgramRuns) {
    TempDir root;
    const ProgramResult built = runProgram(shellWord(TALVORO_CPACK_COMMAND) + " -G DEB --config " +
                                           shellWord(TALVORO_BINARY_DIR "/CPackConfig.cmake") +
                                           " -B " + shellWord(root / "out") + " 2>&1");
    ASSERT_EQ(built.status, 0) << built.output;
    std::string architecture = runProgram("dpkg --print-architecture").output;
    architecture.erase(architecture.find_last_not_of(" \n") + 1);
    const std::string deb = root / ("out/talvoro_" TALVORO_VERSION "_" + architecture + ".deb");
    ASSERT_TRUE(fs::is_regular_file(deb)) << built.output;

    const ProgramResult info = runProgram("dpkg-deb --info " + shellWord(deb));
    ASSERT_EQ(info.status, 0) << info.output;
    const std::string depends = field(info.output, "Depends");
    const std::set<std::string> required = packageNames(depends);
    for (const char* package : {"zip", "libc6", "libqt6core6", "libqt6widgets6", "libxcb1",
                                "libatspi2.0-0", "libstdc++6"})
        EXPECT_TRUE(required.contains(package)) << package << " in " << depends;
    // ONNX Runtime comes inside the package; nothing asks for it from elsewhere.
    EXPECT_EQ(depends.find("onnxruntime"), std::string::npos) << depends;
    EXPECT_EQ(field(info.output, "Recommends"), "libsecret-tools, espeak-ng");
    EXPECT_EQ(field(info.output, "Section"), "utils");
    EXPECT_EQ(field(info.output, "Priority"), "optional");
    EXPECT_NE(field(info.output, "Description").find("Russian"), std::string::npos);
    // Cache updates for icons and menus come from the desktop's own triggers.
    for (const char* script : {"preinst", "postinst", "prerm", "postrm"})
        EXPECT_EQ(info.output.find(std::string(" ") + script + " "), std::string::npos) << script;
    std::cout << "Depends: " << depends
              << "\nInstalled-Size: " << field(info.output, "Installed-Size") << " KiB\n";

    // Everything lands under /usr: no home folder, no settings of the system's.
    const ProgramResult contents = runProgram("dpkg-deb --contents " + shellWord(deb));
    std::istringstream listing(contents.output);
    for (std::string line; std::getline(listing, line);)
        EXPECT_NE(line.find(" ./usr/"), std::string::npos) << line;

    const std::string unpacked = root / "распаковано";
    ASSERT_EQ(runProgram("dpkg-deb -x " + shellWord(deb) + " " + shellWord(unpacked)).status, 0);
    fs::create_directories(root / "home");
    const ProgramResult cuts =
        runInstalled(unpacked + "/usr/bin/talvoro", "cuttest", root / "home", root.path());
    EXPECT_EQ(cuts.status, 0) << cuts.output;

    const ProgramResult lint = runProgram("lintian " + shellWord(deb) + " 2>&1");
    std::istringstream findings(lint.output);
    for (std::string line; std::getline(findings, line);) {
        EXPECT_FALSE(line.starts_with("E: ")) << line;
        if (line.starts_with("W: "))
            std::cout << line << "\n";
    }
}
