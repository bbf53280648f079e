#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "dictation/dictation_queue.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::readFile;
using testing::TempDir;
namespace fs = std::filesystem;

TEST(DictationQueue, ListsOnlyLowerCaseWavInNameOrder) {
    TempDir dir;
    for (const char* name : {"2026-01-02 090000.wav", "2026-01-01 130000.wav", "notes.txt", "x.WAV",
                             "wav", ".hidden.wav"})
        dir.write(std::string("pending/") + name, "x");
    fs::create_directory(dir / "pending/folder.wav");
    const DictationQueue queue(dir / "pending");
    const std::vector<std::string> expected{dir / "pending/.hidden.wav",
                                            dir / "pending/2026-01-01 130000.wav",
                                            dir / "pending/2026-01-02 090000.wav"};
    EXPECT_EQ(queue.pending(), expected);
    EXPECT_EQ(queue.count(), 3u);
}

TEST(DictationQueue, CreatesAPrivateFolderOrThrows) {
    TempDir dir;
    const DictationQueue queue(dir / "a/b/pending");
    struct stat info {};
    ASSERT_EQ(::stat(queue.directory().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    dir.write("plain", "x");
    EXPECT_THROW(DictationQueue(dir / "plain"), DictationQueueError);
    EXPECT_THROW(DictationQueue(dir / "plain/pending"), DictationQueueError);
}

TEST(DictationQueue, ANameClashQueuesUnderTheNextFreeNameAndARetryMovesNothing) {
    TempDir dir;
    const DictationQueue queue(dir / "pending");
    const std::string name = "2026-01-01 130000.wav";
    const std::string first = dir.write("rec/" + name, "first");
    const std::string queued = queue.enqueue(first);
    EXPECT_EQ(queued, dir / ("pending/" + name));
    EXPECT_FALSE(fs::exists(first));

    EXPECT_EQ(queue.enqueue(queued), queued); // a retry of a queued recording
    EXPECT_EQ(queue.enqueue(dir.write("rec/" + name, "second")),
              dir / "pending/2026-01-01 130000-2.wav");
    EXPECT_EQ(queue.enqueue(dir.write("rec/" + name, "third")),
              dir / "pending/2026-01-01 130000-3.wav");
    EXPECT_FALSE(fs::exists(dir / ("rec/" + name)));
    EXPECT_EQ(readFile(queued), "first");
    EXPECT_EQ(readFile(dir / "pending/2026-01-01 130000-2.wav"), "second");
    EXPECT_EQ(readFile(dir / "pending/2026-01-01 130000-3.wav"), "third");
    EXPECT_EQ(queue.count(), 3u);

    EXPECT_THROW(queue.enqueue(dir / "rec/missing.wav"), DictationQueueError);
}

} // namespace
} // namespace talvoro
