#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>

#include <gtest/gtest.h>

#include "audio/wav_writer.h"
#include "base/config.h"
#include "base/paths.h"
#include "install/install_support.h"
#include "support/gui_app.h"
#include "support/test_model_audio.h"

using namespace talvoro::testing;
namespace fs = std::filesystem;

namespace {

const std::string testModel = TALVORO_BINARY_DIR "/test-models/gigaam";
const std::string preprocessorName = "gigaam-v3-preprocessor.onnx";

// Everything a write would change: each entry's kind, size, permissions and modification time.
std::map<std::string, std::string> treeState(const fs::path& root) {
    std::map<std::string, std::string> state;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const auto status = entry.symlink_status();
        std::ostringstream line;
        line << static_cast<int>(status.type()) << ' ' << static_cast<int>(status.permissions())
             << ' ' << (entry.is_regular_file() ? entry.file_size() : 0) << ' '
             << fs::last_write_time(entry.path()).time_since_epoch().count();
        state[fs::relative(entry.path(), root).string()] = line.str();
    }
    return state;
}

void setWritable(const fs::path& root, bool writable) {
    const auto bits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    const auto how = writable ? fs::perm_options::add : fs::perm_options::remove;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_symlink())
            fs::permissions(entry.path(), writable ? fs::perms::owner_write : bits, how);
    fs::permissions(root, writable ? fs::perms::owner_write : bits, how);
}

// A user's home whose own settings file names a model folder without a preprocessor, so that
// recognition needs the one installed with the program.
std::string userHomeWithModel(const TempDir& root) {
    const std::string models = root / "модели";
    fs::create_directories(models);
    for (const auto& entry : fs::directory_iterator(testModel))
        if (entry.path().filename() != preprocessorName)
            fs::create_symlink(entry.path(), models / entry.path().filename());
    const std::string home = root / "дом";
    root.write("дом/.config/vendrik/.env", "MODEL_DIR=" + models + "\n");
    return home;
}

void expectRunsFromHere(const std::string& prefix, const std::string& home,
                        const std::string& workingFolder, const std::string& wav) {
    const std::string program = prefix + "/bin/talvoro";
    const ProgramResult cuts = runInstalled(program, "cuttest", home, workingFolder);
    EXPECT_EQ(cuts.status, 0) << prefix << "\n" << cuts.output;
    EXPECT_NE(cuts.output.find("нарезка и чистка сходятся"), std::string::npos) << cuts.output;

    const ProgramResult heard =
        runInstalled(program, "gigaamtest " + shellWord(wav), home, workingFolder);
    EXPECT_EQ(heard.status, 0) << prefix << "\n" << heard.output;
    EXPECT_NE(heard.output.find("  gigaam:  привет мир\n"), std::string::npos) << heard.output;
}

std::vector<fs::path> filesNamed(const fs::path& root, const std::string& name) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().filename() == name)
            found.push_back(entry.path());
    return found;
}

} // namespace

TEST(InstalledTree, RunsFromItsOwnPlaceMovedOrNotAndWritesNothingThere) {
    TempDir root;
    const std::string prefix = root / "opt/тальворо 1";
    const ProgramResult install = installInto(prefix);
    ASSERT_EQ(install.status, 0) << install.output;

    // ONNX Runtime sits in a folder of the program's own, and the settings a user writes are
    // not hidden by a settings file of the install's.
    const auto runtimes = filesNamed(prefix + "/lib", "libonnxruntime.so.1");
    ASSERT_EQ(runtimes.size(), 1u);
    EXPECT_EQ(runtimes[0].parent_path().filename(), "talvoro");
    EXPECT_FALSE(fs::exists(prefix + "/share/talvoro/dictation.env"));
    for (const char* document : {"copyright", "onnxruntime/LICENSE",
                                 "onnxruntime/ThirdPartyNotices.txt.gz", "examples/dictation.env"})
        EXPECT_TRUE(fs::is_regular_file(prefix + "/share/doc/talvoro/" + document)) << document;

    const std::string home = userHomeWithModel(root);
    const std::string workingFolder = root / "где-то";
    fs::create_directories(workingFolder);
    const std::string wav = talvoro::testing::writeTestModelGreeting(root / "привет.wav");

    setWritable(prefix, false);
    const auto before = treeState(prefix);
    expectRunsFromHere(prefix, home, workingFolder, wav);
    EXPECT_EQ(treeState(prefix), before);

    const std::string moved = root / "другое место/talvoro";
    fs::create_directories(fs::path(moved).parent_path());
    fs::rename(prefix, moved);
    expectRunsFromHere(moved, home, workingFolder, wav);
    EXPECT_EQ(treeState(moved), before);
    setWritable(moved, true);
}

TEST(InstalledTree, DesktopEntryValidatesAndTheIconComesAtEverySize) {
    guiApp();
    TempDir root;
    const std::string prefix = root / "usr";
    ASSERT_EQ(installInto(prefix).status, 0);

    const std::string entry = prefix + "/share/applications/org.talvoro.Talvoro.desktop";
    const ProgramResult validation =
        runProgram("desktop-file-validate " + shellWord(entry) + " 2>&1");
    EXPECT_EQ(validation.status, 0) << validation.output;
    EXPECT_EQ(validation.output, "");
    EXPECT_NE(readFile(entry).find("\nIcon=talvoro\n"), std::string::npos);
    // KWin authorises fake input only for the program at the entry's Exec path.
    EXPECT_NE(readFile(entry).find("\nExec=" + prefix + "/bin/talvoro\n"), std::string::npos);

    const std::string icons = prefix + "/share/icons/hicolor/";
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage png(QString::fromStdString(icons + std::to_string(size) + "x" +
                                                std::to_string(size) + "/apps/talvoro.png"));
        EXPECT_EQ(png.size(), QSize(size, size)) << size;
    }

    // The vector icon is the same picture as the largest bitmap.
    QSvgRenderer svg(QString::fromStdString(icons + "scalable/apps/talvoro.svg"));
    ASSERT_TRUE(svg.isValid());
    QImage drawn(256, 256, QImage::Format_ARGB32);
    drawn.fill(Qt::transparent);
    QPainter painter(&drawn);
    svg.render(&painter, QRectF(0, 0, 256, 256));
    painter.end();
    const QImage png = QImage(QString::fromStdString(icons + "256x256/apps/talvoro.png"))
                           .convertToFormat(QImage::Format_ARGB32);
    double difference = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const QColor a = drawn.pixelColor(x, y);
            const QColor b = png.pixelColor(x, y);
            difference += std::abs(a.alpha() - b.alpha()) + std::abs(a.red() - b.red()) +
                          std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
        }
    EXPECT_LT(difference / (256 * 256 * 4), 2.0);
}

// The example shows each key with its default: uncommented it changes nothing either.
TEST(SettingsExample, ShowsTheDefaultsOfTheKeysItNames) {
    TempDir dir;
    const std::string example = readFile(TALVORO_SOURCE_DIR "/data/dictation.env");
    std::string uncommented;
    std::istringstream lines(example);
    int keys = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.empty() || line.starts_with('#')) << line;
        if (line.starts_with("# ") && line.find('=') != std::string::npos &&
            line.find(' ', 2) > line.find('=')) {
            uncommented += line.substr(2) + "\n";
            ++keys;
        }
    }
    EXPECT_EQ(keys, 7);
    const auto defaults = talvoro::Config::fromSources({}, {});
    const auto shown = talvoro::Config::fromSources({}, {dir.write("shown.env", uncommented)});
    EXPECT_EQ(shown.dictationHotkey, defaults.dictationHotkey);
    EXPECT_EQ(shown.dictationDir, defaults.dictationDir);
    EXPECT_EQ(shown.dictFile, defaults.dictFile);
    EXPECT_EQ(shown.modelDir, defaults.modelDir);
    EXPECT_EQ(shown.modelSources, defaults.modelSources);
    EXPECT_EQ(shown.uinputKeyboard, defaults.uinputKeyboard);
    EXPECT_EQ(shown.microphone, defaults.microphone);
}
