#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvoro {

// One pasteboard item: type identifier → bytes, in the owner's order. On X11 the identifier is the
// target's atom name and there is only ever one item.
using PasteboardItem = std::vector<std::pair<std::string, std::string>>;

// The plain-text types, the first one preferred. These are the types a promised item offers.
inline constexpr std::array<std::string_view, 4> plainTextTypes{
    "UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT"};

// The system pasteboard (X: one selection, CLIPBOARD in normal use) or an in-memory stand-in.
//
// Every method may be called from any thread; implementations are thread-safe. Nothing blocks
// longer than a bounded wait: an owner that does not answer makes `data`/`string` return nothing
// after a short timeout (X11: about 0.5 s for the first silent request; once an owner has gone
// silent, further reads from that same owner give up at once).
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Rises on every change of contents or ownership, by us or by anyone else. A write by us has
    // already raised it when the write call returns, and it is never raised a second time later for
    // that same write (X11: our own XFixes notification is not counted again).
    virtual std::int64_t changeCount() = 0;

    // The owner's type list, without TARGETS, MULTIPLE, TIMESTAMP and SAVE_TARGETS; empty when
    // nobody owns it.
    virtual std::vector<std::string> types() = 0;
    // 0 when nobody owns the pasteboard or the owner offers no types.
    virtual int itemCount() = 0;
    // The types of item `index` (X11: the same as `types()`).
    virtual std::vector<std::string> itemTypes(int index) = 0;
    // The bytes of one type of item `index`; nothing when the owner has none or does not answer in
    // time. Reading stops once more than `limit` bytes have arrived (the result is then longer than
    // `limit`), so a 50 MB image is never read whole.
    virtual std::optional<std::string> data(int index, const std::string& type,
                                            std::size_t limit) = 0;

    // We own the pasteboard, with no types at all.
    virtual void clearContents() = 0;
    // We own it with these items as immediate data (X11: only the first item is kept).
    virtual void writeItems(const std::vector<PasteboardItem>& items) = 0;
    // We own it with one item whose plain-text types are produced on demand: every request by a
    // reader for one of `plainTextTypes` calls `provide` and serves what it returns. Each such call
    // is a "pull"; `provide` is told whether the request was made after `markKeystroke` (below).
    // `provide` runs on the pasteboard's own thread (X11: its event thread; in memory: the
    // reader's thread), must be quick and must not call back into the pasteboard. The item also
    // offers `x-kde-passwordManagerHint` = "secret", which is not a pull.
    virtual void writePromisedText(std::function<std::string(bool afterKeystroke)> provide) = 0;
    // The paste keystroke is about to go out. Requests made before now cannot be the receiver's
    // answer to it (clipboard managers and clipboard sync read every new selection at once); X11:
    // requests stamped with an earlier server time, or handled before this call. A request
    // stamped CurrentTime and handled after it counts as made after it. mutter's clipboard bridge
    // stamps whatever it relays with the time of the change of owner: its requests count by when
    // they are handled, and its first text request (its own copy) never.
    virtual void markKeystroke() = 0;
    // Whether a desktop that relays this pasteboard to its own windows has taken in our latest
    // write (X11 under mutter: its bridge's first copy has come). True where nothing relays it.
    virtual bool relayed() { return true; }
    // We own it with the text as immediate plain-text data of every `plainTextTypes` type. Like a
    // promised item it offers `x-kde-passwordManagerHint` = "secret": whatever text we put there
    // stays out of clipboard histories.
    virtual void setString(const std::string& text) = 0;
    // Turns the promised item we still hold into `text` as immediate data (what `setString`
    // offers), as one more write by us. Readers who asked on behalf of the promised item are
    // still answered. False, and nothing changes, when we no longer hold a promised item. X11 and
    // Wayland data control: the item stays promised, since our event thread serves it for as
    // long as we hold the selection; a receiver that reads late is still seen pulling.
    virtual bool settlePromisedText(const std::string& text) = 0;
    // The plain text, read the way any other reader would read it (a promised item is pulled).
    virtual std::optional<std::string> string() = 0;
};

// The X11 pasteboard on the named selection ("CLIPBOARD", or "ostrel.pastetest" for the
// self-check), with its own connection and event thread. Throws PasteboardUnavailable when there
// is no X display.
std::unique_ptr<Pasteboard> makeSystemPasteboard(const std::string& selection = "CLIPBOARD");

} // namespace talvoro
