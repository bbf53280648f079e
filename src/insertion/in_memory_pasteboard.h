#pragma once

#include "insertion/pasteboard.h"

#include <atomic>
#include <mutex>
#include <optional>

namespace talvoro {

// A pasteboard held in memory, for tests only. Every write by anyone raises `changeCount`; a
// promised item's provider is called only when a reader reads one of its plain-text types, on
// the reader's thread.
class InMemoryPasteboard : public Pasteboard {
public:
    std::int64_t changeCount() override;
    std::vector<std::string> types() override;
    int itemCount() override;
    std::vector<std::string> itemTypes(int index) override;
    std::optional<std::string> data(int index, const std::string& type, std::size_t limit) override;
    void clearContents() override;
    void writeItems(const std::vector<PasteboardItem>& items) override;
    void writePromisedText(std::function<std::string(bool)> provide) override;
    void markKeystroke() override;
    void setString(const std::string& text) override;
    bool settlePromisedText(const std::string& text) override;
    std::optional<std::string> string() override;

    // How many times a provider was asked for its text.
    int pulls() const { return pulls_.load(); }
    // Runs before every write, outside the lock; a test makes writes fail by throwing from it.
    std::function<void()> beforeWrite;

private:
    struct Item {
        PasteboardItem immediate;
        std::function<std::string(bool)> provide; // set for a promised item
    };
    void replace(std::vector<Item> items);
    static std::vector<Item> plainText(const std::string& text);

    std::mutex lock;
    std::vector<Item> items_; // guarded by lock
    std::int64_t changes = 0; // guarded by lock
    bool marked = false;      // guarded by lock: the keystroke for the promised item went out
    std::atomic<int> pulls_{0};
};

} // namespace talvoro
