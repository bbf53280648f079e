#include "download/gigaam_download.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <sys/resource.h>

#include "base/journal.h"
#include "download/download_retry.h"
#include "download/model_server.h"
#include "support/event_loop.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;
namespace fs = std::filesystem;
using Part = GigaAMDownload::Part;

std::string bytes(std::size_t size, unsigned seed);

std::string sha256(const std::string& content) {
    return QCryptographicHash::hash(QByteArray::fromStdString(content), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// Small stand-ins for the four model files, so that every fault is cheap to serve.
const std::vector<Part> smallParts = [] {
    std::vector<Part> parts = {{"enc.bin", "enc.local", 200000, ""},
                               {"dec.bin", "dec.local", 12000, ""},
                               {"joint.bin", "joint.local", 8000, ""},
                               {"vocab.txt", "vocab.local", 1200, ""}};
    for (std::size_t i = 0; i < parts.size(); ++i)
        parts[i].sha256 = sha256(bytes(parts[i].bytes, unsigned(i + 1)));
    return parts;
}();

std::string bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (char& c : text)
        c = static_cast<char>(random());
    return text;
}

struct Outcome {
    std::vector<GigaAMDownload::Event> events;

    const GigaAMDownload::Failed* failed() const {
        return events.empty() ? nullptr : std::get_if<GigaAMDownload::Failed>(&events.back());
    }
    bool done() const {
        return !events.empty() && std::holds_alternative<GigaAMDownload::Done>(events.back());
    }
};

class GigaAMDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        ASSERT_TRUE(server.running());
        for (std::size_t i = 0; i < smallParts.size(); ++i)
            served.push_back(
                server.put(smallParts[i].remoteName, bytes(smallParts[i].bytes, unsigned(i + 1))));
    }

    std::string local(std::size_t part) const { return models + "/" + smallParts[part].localName; }

    // Runs a download to its Done or Failed event; `during` may act on each event and end the
    // run by answering false.
    Outcome download(std::vector<std::string> sources,
                     std::function<bool(GigaAMDownload&, const GigaAMDownload::Event&)> during = {},
                     std::chrono::milliseconds stall = std::chrono::seconds(20)) {
        Outcome run;
        QEventLoop loop;
        std::unique_ptr<GigaAMDownload> download;
        download = std::make_unique<GigaAMDownload>(
            models, std::move(sources),
            [&](const GigaAMDownload::Event& event) {
                run.events.push_back(event);
                if (during && !during(*download, event)) // after the events already queued
                    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
                else if (!std::holds_alternative<GigaAMDownload::Progress>(event)) {
                    loop.quit();
                    download.reset(); // as the application drops a finished download
                }
            },
            parts);
        download->setStallTimeout(stall);
        download->setHasher([this](const std::string& path) {
            ++hashed;
            return PartCheck::sha256(path);
        });
        QTimer::singleShot(std::chrono::seconds(60), &loop, [&] {
            ADD_FAILURE() << "the download never ended";
            loop.quit();
        });
        download->start();
        loop.exec();
        return run;
    }

    bool requested(const std::string& line) const {
        const auto all = server.requests();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

    void expectAllInPlace() const {
        for (std::size_t i = 0; i < smallParts.size(); ++i) {
            EXPECT_EQ(readFile(local(i)), readFile(served[i])) << smallParts[i].localName;
            EXPECT_FALSE(fs::exists(local(i) + ".part"));
        }
    }

    TempDir dir;
    ModelServer server;
    std::vector<std::string> served;
    std::string models = dir / "models";
    std::vector<Part> parts = smallParts;
    int hashed = 0; // files read to check them, not counting those that arrive
};

TEST_F(GigaAMDownloadTest,
       APartMissingAtTheFirstSourceComesFromTheSecondAndTheNextStartsAtTheFirst) {
    const Outcome run = download({server.base("404:dec"), server.base("ok")});
    ASSERT_TRUE(run.done()) << (run.failed() ? run.failed()->message : "");
    EXPECT_EQ(std::get<GigaAMDownload::Done>(run.events.back()).folder, models);
    expectAllInPlace();
    EXPECT_EQ(server.requests(),
              (std::vector<std::string>{"/404:dec/enc.bin -", "/404:dec/dec.bin -", "/ok/dec.bin -",
                                        "/404:dec/joint.bin -", "/404:dec/vocab.txt -"}));
    for (const auto& event : run.events) {
        if (const auto* progress = std::get_if<GigaAMDownload::Progress>(&event)) {
            EXPECT_LE(progress->fraction, 0.999);
        }
    }
}

TEST_F(GigaAMDownloadTest, BadAnswersFromEverySourceEndWithTheLastSourcesMessage) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"short:enc", "404"}, "ответ 404, 15 Б"},
        {{"404", "short:enc"}, "ответ 200, 66666 Б"},
        {{"500"}, "ответ 500, 0 Б"}};
    for (const auto& [modes, answer] : cases) {
        std::vector<std::string> sources;
        for (const std::string& mode : modes)
            sources.push_back(server.base(mode));
        const Outcome run = download(sources);
        ASSERT_TRUE(run.failed());
        EXPECT_EQ(run.failed()->message,
                  "enc.bin из " + sources.back() + " отброшен: " + answer + " вместо 200000");
    }
    EXPECT_TRUE(fs::is_empty(models)) << "nothing of a rejected answer stays";
}

TEST_F(GigaAMDownloadTest, AConnectionResetMidFileIsResumedWithARange) {
    const Outcome run = download({server.base("reset:enc")});
    ASSERT_TRUE(run.done()) << (run.failed() ? run.failed()->message : "");
    expectAllInPlace();
    const auto requests = server.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0], "/reset:enc/enc.bin -");
    // The reset may swallow some of the half that was sent, or all of it: Qt then sends the
    // request again by itself before we see a byte.
    if (requests[1] == "/reset:enc/enc.bin -")
        return;
    const std::string prefix = "/reset:enc/enc.bin bytes=";
    ASSERT_TRUE(requests[1].starts_with(prefix)) << requests[1];
    const long from = std::stol(requests[1].substr(prefix.size()));
    EXPECT_GT(from, 0);
    EXPECT_LE(from, 100000);
}

TEST_F(GigaAMDownloadTest, AKeptPartialFileIsResumedAndAServerWithoutRangesStartsItOver) {
    fs::create_directories(models);
    const std::string good = readFile(served[0]).substr(0, 150000);
    dir.write("models/enc.local.part", good);
    Outcome run = download({server.base("redirect/ok")});
    ASSERT_TRUE(run.done()) << (run.failed() ? run.failed()->message : "");
    expectAllInPlace();
    EXPECT_TRUE(requested("/redirect/ok/enc.bin bytes=150000-"));
    EXPECT_TRUE(requested("/ok/enc.bin bytes=150000-")) << "the range survives the redirect";
    EXPECT_FALSE(requested("/ok/enc.bin -"));

    fs::remove(local(0));
    dir.write("models/enc.local.part", bytes(150000, 99)); // not the file's beginning
    run = download({server.base("norange")});
    ASSERT_TRUE(run.done()) << (run.failed() ? run.failed()->message : "");
    expectAllInPlace();
}

TEST_F(GigaAMDownloadTest, APartOfTheRightSizeWithOtherBytesIsDroppedAndTheNextSourceUsed) {
    const Outcome run = download({server.base("flip:joint"), server.base("ok")});
    ASSERT_TRUE(run.done()) << (run.failed() ? run.failed()->message : "");
    expectAllInPlace();
    EXPECT_TRUE(requested("/flip:joint/joint.bin -"));
    EXPECT_TRUE(requested("/ok/joint.bin -"));
    Journal::shared().flush();
    EXPECT_NE(readFile(Journal::shared().path())
                  .find("модель: joint.bin из " + server.base("flip:joint") +
                        " отброшен: SHA-256 не тот — это другой файл"),
              std::string::npos);
}

TEST_F(GigaAMDownloadTest, APresentFileCountsOnlyWhenItsSizeAndHashMatch) {
    fs::create_directories(models);
    dir.write("models/enc.local", readFile(served[0]).substr(0, 150000)); // truncated
    std::string other = readFile(served[1]);
    other[0] ^= 1;
    dir.write("models/dec.local", other); // whole size, other bytes
    dir.write("models/joint.local", readFile(served[2]));
    dir.write("models/vocab.local", readFile(served[3]));
    const Outcome run = download({server.base("ok")});
    ASSERT_TRUE(run.done()) << (run.failed() ? run.failed()->message : "");
    expectAllInPlace();
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/ok/enc.bin -", "/ok/dec.bin -"}));
    EXPECT_EQ(hashed, 3) << "the truncated file is not even read";
}

TEST_F(GigaAMDownloadTest, AFileCheckedOnceIsNotReadAgainUntilItChanges) {
    ASSERT_TRUE(download({server.base("ok")}).done());
    const Outcome run = download({server.base("ok")});
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_TRUE(run.done());
    EXPECT_EQ(hashed, 0) << "what arrived was checked on the way";
    EXPECT_EQ(server.requests().size(), 4u);

    fs::last_write_time(local(3), fs::last_write_time(local(3)) + std::chrono::seconds(5));
    EXPECT_TRUE(GigaAMDownload::present(models, parts, [&](const std::string& path) {
        ++hashed;
        return PartCheck::sha256(path);
    }));
    EXPECT_EQ(hashed, 1) << "a touched file is read again";
}

TEST_F(GigaAMDownloadTest, AFailedDownloadIsRetriedByItselfAndAtOnceWhenTheNetworkComes) {
    fs::remove(served[1]); // the source does not have the decoder yet
    std::vector<std::chrono::milliseconds> armed;
    std::function<void()> fire;
    Outcome last;
    std::unique_ptr<DownloadRetry> retry;
    retry = std::make_unique<DownloadRetry>(
        [&] {
            last = download({server.base("ok")});
            if (last.done())
                retry->succeeded();
            else
                retry->failed();
        },
        [&](std::chrono::milliseconds delay, std::function<void()> then) {
            armed.push_back(delay);
            fire = std::move(then);
        });
    last = download({server.base("ok")});
    ASSERT_TRUE(last.failed());
    retry->failed();
    EXPECT_EQ(armed, std::vector<std::chrono::milliseconds>{std::chrono::minutes(1)});
    auto firstTimer = fire;
    firstTimer();
    ASSERT_TRUE(last.failed());
    EXPECT_EQ(armed.back(), std::chrono::minutes(5));
    server.put(smallParts[1].remoteName, bytes(smallParts[1].bytes, 2));
    retry->networkReachable();
    ASSERT_TRUE(last.done()) << (last.failed() ? last.failed()->message : "");
    expectAllInPlace();
    EXPECT_FALSE(retry->pending());
    fire(); // the 5-minute timer that the network overtook
    EXPECT_EQ(armed.size(), 2u);
    EXPECT_EQ(server.requests().size(), 6u) << "nothing fetched again";
}

TEST_F(GigaAMDownloadTest, AnEndlessBodyASilentSourceAndNoServerFailWithoutAModelFile) {
    Outcome run = download({server.base("long")});
    ASSERT_TRUE(run.failed());
    EXPECT_TRUE(run.failed()->message.starts_with("enc.bin из " + server.base("long") +
                                                  " отброшен: ответ 200, "))
        << run.failed()->message;
    EXPECT_TRUE(run.failed()->message.ends_with(" Б вместо 200000")) << run.failed()->message;

    run = download({server.base("silent")}, {}, std::chrono::milliseconds(300));
    ASSERT_TRUE(run.failed());
    EXPECT_EQ(run.failed()->message, "источник молчит дольше 0.3 с");

    run = download({"http://127.0.0.1:1/ok", "not an address"}); // nobody listens there
    ASSERT_TRUE(run.failed());
    EXPECT_TRUE(run.failed()->message.starts_with("источник не принимает соединение"))
        << run.failed()->message;
    EXPECT_TRUE(fs::is_empty(models));

    run = download({"::"});
    ASSERT_TRUE(run.failed());
    EXPECT_EQ(run.failed()->message, "негодный адрес части enc.bin");
}

TEST_F(GigaAMDownloadTest, LocalWriteFailuresStopAtOnceAndNeverLeaveAModelFile) {
    dir.write("file", "");
    models = dir / "file/models";
    Outcome run = download({server.base("ok")});
    ASSERT_TRUE(run.failed());
    EXPECT_TRUE(run.failed()->message.starts_with("не удалось завести папку модели: "));

    models = dir / "models";
    fs::create_directories(models + "/enc.local.part"); // the partial file cannot be opened
    run = download({server.base("ok"), server.base("ok")});
    ASSERT_TRUE(run.failed());
    EXPECT_TRUE(run.failed()->message.starts_with("не удалось записать " + local(0) + ".part"));
    EXPECT_EQ(server.requests().size(), 0u) << "no other source is tried";
    fs::remove(local(0) + ".part");

    // A full disk, as the file size limit makes it: the write fails part-way.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100000;
    ::setrlimit(RLIMIT_FSIZE, &small);
    run = download({server.base("ok")});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(run.failed());
    EXPECT_TRUE(run.failed()->message.starts_with("не удалось записать " + local(0) + ".part"));
    EXPECT_FALSE(fs::exists(local(0)));
    EXPECT_LE(fs::file_size(local(0) + ".part"), 100000u);

    run = download({server.base("ok")}); // space again: it goes on where it stopped
    ASSERT_TRUE(run.done());
    expectAllInPlace();
    EXPECT_TRUE(requested("/ok/enc.bin bytes=100000-"));
}

TEST_F(GigaAMDownloadTest, StoppingMidFileLeavesOnlyThePartialFileAndTheNextStartResumesIt) {
    const Outcome run = download({server.base("stall:enc")}, [](GigaAMDownload& download, auto&) {
        download.cancel();
        EXPECT_FALSE(download.isRunning());
        return false;
    });
    ASSERT_EQ(run.events.size(), 1u) << "nothing is reported after the first progress";
    EXPECT_FALSE(fs::exists(local(0)));
    EXPECT_GT(fs::file_size(local(0) + ".part"), 0u);

    const Outcome again = download({server.base("stall:enc")});
    ASSERT_TRUE(again.done());
    expectAllInPlace();
    EXPECT_EQ(server.requests().size(), 5u);
    EXPECT_NE(server.requests().at(1).find("/enc.bin bytes="), std::string::npos);
}

TEST(GigaAMDownloadParts, TheRealPartsAddUpToTheTotalTheWeightIsShownFrom) {
    std::int64_t sum = 0;
    for (const Part& part : publishedModelParts())
        sum += part.bytes;
    EXPECT_EQ(sum, GigaAMDownload::totalBytes);
}

} // namespace
} // namespace talvoro
