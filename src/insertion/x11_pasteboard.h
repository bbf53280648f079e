#pragma once

#include "insertion/pasteboard.h"
#include "insertion/x11_connection.h"
#include "insertion/x11_selection_contents.h"
#include "insertion/x11_selection_reader.h"
#include "insertion/x11_selection_server.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace talvoro {

// The pasteboard as an X selection: we own it while we have something on it, and read it from
// its owner like any other client otherwise. Everything X happens on the thread
// "ostrel.pasteboard" with its own connection; the public calls hand their work to that thread
// and wait for it, so the state below needs no lock of its own.
class X11Pasteboard final : public Pasteboard {
public:
    // How long one owner gets to answer one request (and each later INCR piece).
    static constexpr std::chrono::milliseconds answerWithin{1000};
    // How long all reads from one owner may take together; after that, or after one request it
    // left unanswered, further reads from it give up at once.
    static constexpr std::chrono::milliseconds ownerBudget{10000};
    // How long going away may wait for a clipboard manager to take our contents over.
    static constexpr std::chrono::milliseconds handOverWithin{2000};

    // Throws PasteboardUnavailable when there is no X display.
    explicit X11Pasteboard(const std::string& selection = "CLIPBOARD");
    ~X11Pasteboard() override;
    X11Pasteboard(const X11Pasteboard&) = delete;
    X11Pasteboard& operator=(const X11Pasteboard&) = delete;

    std::int64_t changeCount() override;
    std::vector<std::string> types() override;
    int itemCount() override;
    std::vector<std::string> itemTypes(int index) override;
    std::optional<std::string> data(int index, const std::string& type, std::size_t limit) override;
    void clearContents() override;
    void writeItems(const std::vector<PasteboardItem>& items) override;
    void writePromisedText(std::function<std::string(bool)> provide) override;
    void markKeystroke() override;
    bool relayed() override;
    void setString(const std::string& text) override;
    bool settlePromisedText(const std::string& text) override;
    std::optional<std::string> string() override;

private:
    using Clock = x11::Clock;
    // What we learnt about the current owner; forgotten when ownership changes.
    struct OwnerReads {
        std::int64_t epoch = -1;
        std::optional<std::vector<std::string>> types;
        bool silent = false;
        Clock::duration spent{};
    };

    template <class F> auto call(F&& work) -> decltype(work());
    void run();
    void runTasks();
    void dispatchPending();
    void dispatch(const xcb_generic_event_t& event);
    x11::Event waitFor(const x11::EventMatch& match, Clock::time_point deadline);
    void onRequest(const xcb_selection_request_event_t& request);
    void own(x11::SelectionContents newContents);
    xcb_timestamp_t freshTimestamp();
    bool afterKeystroke(xcb_timestamp_t requestTime) const;
    std::optional<std::uint32_t> mutterClient();
    bool receiversRequest(const xcb_selection_request_event_t& request, const std::string& target);
    void handOverToClipboardManager();
    void catchUp();
    OwnerReads& ownerReads();
    std::vector<std::string> ownerTypes();
    std::optional<x11::Conversion> readFromOwner(const std::string& type, std::size_t limit);
    std::optional<std::string> ownedText();

    // Event thread only (set up before it starts, torn down after it ends):
    std::unique_ptr<x11::Connection> connection;
    std::unique_ptr<x11::SelectionServer> server;
    std::unique_ptr<x11::SelectionReader> reader;
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_atom_t selection = XCB_ATOM_NONE;
    std::uint8_t xfixesEvent = 0;
    bool hasXfixes = false;
    x11::SelectionContents contents;
    bool owning = false;
    xcb_timestamp_t ownedSince = XCB_CURRENT_TIME;
    std::optional<xcb_timestamp_t> keystrokeAt; // of the current contents, once marked
    // mutter's own X client (its windows' resource base) when it manages this display: its
    // clipboard bridge copies every new clipboard at once (never the primary selection) and
    // stamps every read it relays with the time the selection changed hands. Looked up whenever
    // we take the selection.
    std::optional<std::uint32_t> bridge;
    bool isClipboard = false;  // the selection is CLIPBOARD
    bool bridgeCopied = false; // the bridge has had its first text of the current contents
    std::int64_t changes = 0;
    bool handingOver = false; // the thread is ending but still serves the clipboard manager
    OwnerReads reads;
    x11::TargetFormats formats;

    std::mutex lock;
    std::deque<std::function<void()>> tasks; // guarded by lock
    bool finished = false;                   // guarded by lock: the event thread has ended
    std::atomic<bool> stopping{false};
    int wakeFd = -1;
    std::thread thread;
};

} // namespace talvoro
