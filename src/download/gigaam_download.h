#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/config.h"
#include "download/model_parts.h"
#include "download/part_check.h"
#include "download/part_transfer.h"

namespace talvoro {

// Fetches the downloadable GigaAM files into the model folder, one after another, each from the
// first source that gives it exactly: its size and SHA-256 are checked against the part (the
// bytes are hashed as they arrive), and a part that differs is dropped with a journal line
// naming the file and the source before the next source is tried. Progress is one fraction
// over all parts. A file already present counts only when its size and hash match (PartCheck
// remembers the verdict). Each file arrives in a partial file beside its destination
// ("<name>.part"), resumed after an interruption, and is moved into place only after the checks.
//
// The object works on the thread that made it, which must run a Qt event loop (the main
// thread of the tray application or of a command). Events reach `report` on that thread, always
// from the event loop, never from inside start(), so the receiver may destroy the object there.
// Destroying it or calling cancel() stops the transfer without an event; the partial file
// stays and the next start() resumes it.
class GigaAMDownload : public QObject {
public:
    using Part = ModelPart;
    static constexpr std::int64_t totalBytes = 226430792; // the published parts
    static constexpr std::chrono::milliseconds defaultStallTimeout{30000};
    static constexpr const char* partialSuffix = ".part";

    struct Progress {
        double fraction; // 0…0.999; completion is Done
    };
    struct Done {
        std::string folder;
    };
    struct Failed {
        std::string message;
    };
    using Event = std::variant<Progress, Done, Failed>;
    using Report = std::function<void(const Event&)>;

    // The parts are the published GigaAM files unless a manifest (modelParts) says otherwise.
    GigaAMDownload(std::string folder, std::vector<std::string> sources, Report report,
                   std::vector<Part> partList = publishedModelParts());
    ~GigaAMDownload() override;
    GigaAMDownload(const GigaAMDownload&) = delete;
    GigaAMDownload& operator=(const GigaAMDownload&) = delete;

    // The deployment's base addresses, in the order they are tried.
    static std::vector<std::string> sources(const Config& config);
    // The total size as the menu shows it: "226 МБ".
    static std::string weight();
    // Every part is in the folder exactly (hashing only what no verdict vouches for).
    static bool present(const std::string& folder, const std::vector<Part>& partList,
                        const PartCheck::Hasher& hasher = {});

    // Removes the partial files a stopped download left; of no use once the model is in place.
    static void discardPartials(const std::string& folder, const std::vector<Part>& partList);

    // Begins unless a download is running.
    void start();
    // Stops the running download without an event; what came so far is kept for a resume.
    void cancel();
    // From start() until the download ends (its Done or Failed event is then on its way) or
    // cancel().
    bool isRunning() const { return running_; }

    // How long a source may send nothing before it counts as failed (not a total limit).
    void setStallTimeout(std::chrono::milliseconds timeout) { stallTimeout_ = timeout; }
    // How files already present are hashed (tests count the readings).
    void setHasher(PartCheck::Hasher hasher) { hasher_ = std::move(hasher); }

    const std::string& folder() const { return folder_; }

private:
    void nextPart();
    std::optional<QUrl> address() const;
    void fetch();
    void transferred(const PartTransfer::Outcome& outcome);
    void accept(const PartTransfer::Outcome& outcome);
    // Asks the same source for the rest of a part whose transfer broke after bringing bytes.
    bool resumed(const PartTransfer::Outcome& outcome);
    void reject(const std::string& why);
    void retryOrFail(const std::string& message);
    void progress(std::int64_t written);
    void finish(Event event);
    void deliver(Event event);
    std::string destination() const;
    std::string partialPath() const;
    std::int64_t limitBytes() const;

    const std::string folder_;
    const std::vector<std::string> sources_;
    const Report report_;
    const std::vector<Part> parts_;
    const std::int64_t total_;
    std::chrono::milliseconds stallTimeout_ = defaultStallTimeout;
    PartCheck::Hasher hasher_;

    QNetworkAccessManager network_;
    QPointer<PartTransfer> transfer_; // present while a part is being fetched
    bool running_ = false;
    std::size_t index_ = 0;      // the part being fetched
    std::size_t source_ = 0;     // the source being tried for it
    int resumes_ = 0;            // same-source resumptions of this part after a broken transfer
    std::int64_t doneBytes_ = 0; // expected sizes of the parts already in place
    double reported_ = -1;       // last progress delivered
    unsigned epoch_ = 0;         // events of an earlier run or of a cancelled one are dropped
};

} // namespace talvoro
