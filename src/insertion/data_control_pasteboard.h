#pragma once

#include "insertion/data_control_contents.h"
#include "insertion/data_control_protocol.h"
#include "insertion/pasteboard.h"
#include "insertion/pipe_transfer.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace talvoro {

enum class WaylandSelection { clipboard, primary };

// The pasteboard as a Wayland selection, through the compositor's data-control protocol
// (ext-data-control-v1, else wlr-data-control-unstable-v1): we hold it with a data source of
// our own while we have something on it, and read other clients' offers otherwise. Every `send`
// the compositor passes on to our source is a reader's request. Everything Wayland happens on
// the thread "ostrel.pasteboard" with its own connection; the public calls hand their work to
// that thread and wait for it, so the state below needs no lock of its own.
class DataControlPasteboard final : public Pasteboard {
public:
    // How long one owner gets to answer one request.
    static constexpr std::chrono::milliseconds answerWithin{1000};
    // How long all reads from one owner may take together; after that, or after one request it
    // left unanswered, further reads from it give up at once.
    static constexpr std::chrono::milliseconds ownerBudget{10000};
    // The most types one offer may list; a hostile owner cannot make us keep more.
    static constexpr std::size_t maxTypes = 1024;

    // Throws PasteboardUnavailable when there is no Wayland compositor or it offers no data
    // control (or, for the primary selection, no primary selection through it).
    explicit DataControlPasteboard(WaylandSelection which = WaylandSelection::clipboard);
    ~DataControlPasteboard() override;
    DataControlPasteboard(const DataControlPasteboard&) = delete;
    DataControlPasteboard& operator=(const DataControlPasteboard&) = delete;

    // The data-control manager we speak to, for reports.
    const char* protocolName() const { return protocol->name; }

    std::int64_t changeCount() override;
    std::vector<std::string> types() override;
    int itemCount() override;
    std::vector<std::string> itemTypes(int index) override;
    std::optional<std::string> data(int index, const std::string& type, std::size_t limit) override;
    void clearContents() override;
    void writeItems(const std::vector<PasteboardItem>& items) override;
    void writePromisedText(std::function<std::string(bool afterKeystroke)> provide) override;
    void markKeystroke() override;
    void setString(const std::string& text) override;
    bool settlePromisedText(const std::string& text) override;
    std::optional<std::string> string() override;

private:
    using Clock = std::chrono::steady_clock;
    struct Offer {
        wayland::Proxy proxy;
        std::vector<std::string> types; // in the owner's order
        std::set<std::string> known;    // the same, to drop repeats
    };
    // What we learnt about the current owner; forgotten when the selection changes hands.
    struct OwnerReads {
        std::int64_t epoch = -1;
        bool silent = false;
        Clock::duration spent{};
    };

    template <class F> auto call(F&& work) -> decltype(work());
    void run();
    void runTasks();
    void waitForEvents();
    bool broken() const;
    void catchUp();
    bool ownerGivenUp() const;
    void own(wayland::DataControlContents newContents);
    std::optional<std::string> readFromOwner(const std::string& type, std::size_t limit);
    std::vector<std::string> offeredTypes() const;

    static void onDataOffer(void* data, wl_proxy* device, wl_proxy* offer);
    static void onSelection(void* data, wl_proxy* device, wl_proxy* offer);
    static void onPrimarySelection(void* data, wl_proxy* device, wl_proxy* offer);
    static void onFinished(void* data, wl_proxy* device);
    static void onOfferType(void* data, wl_proxy* offer, const char* mimeType);
    static void onSend(void* data, wl_proxy* source, const char* mimeType, std::int32_t fd);
    static void onCancelled(void* data, wl_proxy* source);
    void selectionChanged(wl_proxy* offer);
    void forgetOffer(wl_proxy* offer);

    const bool primary;
    const wayland::DataControlProtocol* protocol = nullptr;
    // Event thread only (set up before it starts, torn down after it ends):
    wayland::Display display;
    wayland::RoundTrip roundTrip;
    std::unique_ptr<wayland::Registry> registry;
    wayland::Proxy seat;
    wayland::Proxy manager;
    wayland::Proxy device;
    std::map<wl_proxy*, Offer> introduced; // offers announced, not yet named as a selection
    std::optional<Offer> current;          // the selection as the compositor offers it
    wayland::Proxy source;                 // ours, while it holds the selection
    wayland::DataControlContents contents;
    bool owning = false;
    // Sends for our text from here on are the receiver's pulls; cleared when we own anew.
    bool keystrokeMarked = false;
    bool deviceFinished = false;
    std::int64_t changes = 0;
    int echoes = 0; // selection events of our own writes still to come
    OwnerReads reads;
    OutgoingTransfers outgoing;

    std::mutex lock;
    std::deque<std::function<void()>> tasks; // guarded by lock
    bool finished = false;                   // guarded by lock: the event thread has ended
    std::atomic<bool> stopping{false};
    UniqueFd wakeFd;
    std::thread thread;
};

// The clipboard (or primary selection) through data control; throws PasteboardUnavailable.
std::unique_ptr<Pasteboard>
makeWaylandDataControlPasteboard(WaylandSelection which = WaylandSelection::clipboard);

} // namespace talvoro
