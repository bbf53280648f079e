#include "download/gigaam_download.h"

#include <QMetaObject>
#include <algorithm>
#include <filesystem>
#include <numeric>

#include "base/journal.h"

namespace talvoro {

namespace fs = std::filesystem;

namespace {

// A transfer that broke after it had brought bytes is resumed from the same source this many
// times before the next source is tried.
constexpr int maxResumes = 5;

std::int64_t sumOfParts(const std::vector<GigaAMDownload::Part>& list) {
    return std::accumulate(list.begin(), list.end(), std::int64_t{0},
                           [](std::int64_t sum, const auto& part) { return sum + part.bytes; });
}

} // namespace

GigaAMDownload::GigaAMDownload(std::string folder, std::vector<std::string> sources, Report report,
                               std::vector<Part> partList)
    : folder_(std::move(folder)), sources_(std::move(sources)), report_(std::move(report)),
      parts_(std::move(partList)), total_(std::max<std::int64_t>(sumOfParts(parts_), 1)) {}

GigaAMDownload::~GigaAMDownload() {
    cancel();
}

std::vector<std::string> GigaAMDownload::sources(const Config& config) {
    return config.modelSources;
}

std::string GigaAMDownload::weight() {
    return std::to_string(totalBytes / 1000000) + " МБ";
}

bool GigaAMDownload::present(const std::string& folder, const std::vector<Part>& partList,
                             const PartCheck::Hasher& hasher) {
    const PartCheck check(folder, hasher);
    return std::all_of(partList.begin(), partList.end(),
                       [&](const Part& part) { return check.present(part); });
}

void GigaAMDownload::discardPartials(const std::string& folder, const std::vector<Part>& partList) {
    std::error_code ignored;
    for (const Part& part : partList)
        fs::remove(fs::path(folder) / (part.localName + partialSuffix), ignored);
}

void GigaAMDownload::start() {
    if (running_)
        return;
    running_ = true;
    ++epoch_;
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error) {
        finish(Failed{"не удалось завести папку модели: " + error.message()});
        return;
    }
    index_ = 0;
    source_ = 0;
    doneBytes_ = 0;
    reported_ = -1;
    nextPart();
}

void GigaAMDownload::cancel() {
    if (transfer_)
        delete transfer_.data();
    running_ = false;
    ++epoch_;
}

void GigaAMDownload::nextPart() {
    const PartCheck check(folder_, hasher_);
    for (; index_ < parts_.size() && check.present(parts_[index_]); ++index_)
        doneBytes_ += parts_[index_].bytes;
    if (index_ == parts_.size()) {
        finish(Done{folder_});
        return;
    }
    source_ = 0;
    resumes_ = 0;
    if (!address()) {
        finish(Failed{"негодный адрес части " + parts_[index_].remoteName});
        return;
    }
    fetch();
}

std::optional<QUrl> GigaAMDownload::address() const {
    if (source_ >= sources_.size())
        return std::nullopt;
    std::string base = sources_[source_];
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    const QUrl url(QString::fromStdString(base + "/" + parts_[index_].remoteName),
                   QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

void GigaAMDownload::fetch() {
    PartTransfer::Settings settings{*address(), partialPath(), limitBytes(), stallTimeout_};
    transfer_ = new PartTransfer(
        network_, std::move(settings), [this](std::int64_t written) { progress(written); },
        [this](const PartTransfer::Outcome& outcome) { transferred(outcome); }, this);
    transfer_->start();
}

void GigaAMDownload::transferred(const PartTransfer::Outcome& outcome) {
    // Called from inside the transfer: it goes away once control is back in the event loop.
    if (transfer_)
        transfer_->deleteLater();
    transfer_ = nullptr;
    const Part& part = parts_[index_];
    switch (outcome.kind) {
    case PartTransfer::Outcome::Kind::received:
        accept(outcome);
        return;
    case PartTransfer::Outcome::Kind::badAnswer:
        reject("ответ " + std::to_string(outcome.status) + ", " + std::to_string(outcome.bytes) +
               " Б вместо " + std::to_string(part.bytes));
        return;
    case PartTransfer::Outcome::Kind::transferError:
        if (!resumed(outcome))
            retryOrFail(outcome.description);
        return;
    case PartTransfer::Outcome::Kind::localError:
        finish(Failed{outcome.description});
        return;
    }
}

// The answer ran to its end: checked, then moved into place or dropped.
void GigaAMDownload::accept(const PartTransfer::Outcome& outcome) {
    const Part& part = parts_[index_];
    const bool whole = !outcome.announced || *outcome.announced == outcome.bytes;
    // A body that ended before its announced length is a lost connection that Qt did not
    // report as one: resume it like any other.
    if (outcome.announced && outcome.bytes < *outcome.announced && resumed(outcome))
        return;
    if (outcome.bytes != part.bytes || !whole || outcome.sha256 != part.sha256) {
        std::error_code ignored;
        fs::remove(partialPath(), ignored);
        reject(outcome.bytes == part.bytes && whole
                   ? "SHA-256 не тот — это другой файл"
                   : "ответ " + std::to_string(outcome.status) + ", " +
                         std::to_string(outcome.bytes) + " Б вместо " + std::to_string(part.bytes));
        return;
    }
    std::error_code error;
    fs::rename(partialPath(), destination(), error); // replaces whatever was there
    if (error) {
        finish(Failed{"не удалось положить " + destination() + " на место: " + error.message()});
        return;
    }
    PartCheck(folder_, hasher_).remember(part);
    doneBytes_ += part.bytes;
    ++index_;
    nextPart();
}

bool GigaAMDownload::resumed(const PartTransfer::Outcome& outcome) {
    if (!outcome.progressed || resumes_ >= maxResumes)
        return false;
    ++resumes_;
    fetch();
    return true;
}

// A source that gave something else than the part: said in the journal at once, since the
// next source may well succeed and the user would never learn of the bad one.
void GigaAMDownload::reject(const std::string& why) {
    const std::string message =
        parts_[index_].remoteName + " из " + sources_[source_] + " отброшен: " + why;
    Journal::shared().note("модель: " + message);
    retryOrFail(message);
}

void GigaAMDownload::retryOrFail(const std::string& message) {
    ++source_;
    if (address()) {
        fetch();
        return;
    }
    finish(Failed{message});
}

void GigaAMDownload::progress(std::int64_t written) {
    const double fraction =
        std::min(static_cast<double>(doneBytes_ + written) / static_cast<double>(total_), 0.999);
    // One event per thousandth is plenty for a percentage and spares the receiver.
    if (reported_ >= 0 && fraction < reported_ + 0.001 && fraction >= reported_)
        return;
    reported_ = fraction;
    deliver(Progress{fraction});
}

void GigaAMDownload::finish(Event event) {
    running_ = false;
    deliver(std::move(event));
}

void GigaAMDownload::deliver(Event event) {
    QMetaObject::invokeMethod(
        this,
        [this, epoch = epoch_, event = std::move(event)] {
            if (epoch != epoch_ || !report_)
                return;
            const Report report = report_; // the receiver may destroy this object
            report(event);
        },
        Qt::QueuedConnection);
}

std::string GigaAMDownload::destination() const {
    return (fs::path(folder_) / parts_[index_].localName).string();
}

std::string GigaAMDownload::partialPath() const {
    return destination() + partialSuffix;
}

// A body past the part's exact size is not the file asked for: cut off before it fills the disk.
std::int64_t GigaAMDownload::limitBytes() const {
    return parts_[index_].bytes;
}

} // namespace talvoro
