#include "insertion/in_memory_pasteboard.h"

#include <algorithm>

namespace talvoro {

namespace {

bool isPlainText(const std::string& type) {
    return std::find(plainTextTypes.begin(), plainTextTypes.end(), type) != plainTextTypes.end();
}

} // namespace

std::int64_t InMemoryPasteboard::changeCount() {
    std::lock_guard guard(lock);
    return changes;
}

std::vector<std::string> InMemoryPasteboard::types() {
    std::lock_guard guard(lock);
    std::vector<std::string> all;
    for (int index = 0; index < static_cast<int>(items_.size()); ++index)
        for (const auto& [type, bytes] : items_[index].immediate)
            if (std::find(all.begin(), all.end(), type) == all.end())
                all.push_back(type);
    for (const Item& item : items_)
        if (item.provide)
            for (auto type : plainTextTypes)
                if (std::find(all.begin(), all.end(), type) == all.end())
                    all.emplace_back(type);
    return all;
}

int InMemoryPasteboard::itemCount() {
    std::lock_guard guard(lock);
    return static_cast<int>(items_.size());
}

std::vector<std::string> InMemoryPasteboard::itemTypes(int index) {
    std::lock_guard guard(lock);
    std::vector<std::string> types;
    if (index < 0 || index >= static_cast<int>(items_.size()))
        return types;
    for (const auto& entry : items_[index].immediate)
        types.push_back(entry.first);
    if (items_[index].provide)
        types.insert(types.end(), plainTextTypes.begin(), plainTextTypes.end());
    return types;
}

std::optional<std::string> InMemoryPasteboard::data(int index, const std::string& type,
                                                    std::size_t limit) {
    std::function<std::string(bool)> provide;
    bool afterKeystroke = false;
    {
        std::lock_guard guard(lock);
        if (index < 0 || index >= static_cast<int>(items_.size()))
            return std::nullopt;
        const Item& item = items_[index];
        for (const auto& [name, bytes] : item.immediate)
            if (name == type)
                return bytes.size() > limit ? bytes.substr(0, limit + 1) : bytes;
        if (!item.provide || !isPlainText(type))
            return std::nullopt;
        provide = item.provide;
        afterKeystroke = marked;
    }
    // Outside the lock, as a real owner answers on its own time.
    ++pulls_;
    return provide(afterKeystroke);
}

void InMemoryPasteboard::replace(std::vector<Item> items) {
    if (beforeWrite)
        beforeWrite();
    std::lock_guard guard(lock);
    items_ = std::move(items);
    marked = false;
    ++changes;
}

std::vector<InMemoryPasteboard::Item> InMemoryPasteboard::plainText(const std::string& text) {
    PasteboardItem item;
    for (auto type : plainTextTypes)
        item.emplace_back(type, text);
    item.emplace_back("x-kde-passwordManagerHint", "secret");
    return {Item{item, {}}};
}

void InMemoryPasteboard::clearContents() {
    replace({});
}

void InMemoryPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
    std::vector<Item> stored;
    for (const auto& item : items)
        stored.push_back(Item{item, {}});
    replace(std::move(stored));
}

void InMemoryPasteboard::markKeystroke() {
    std::lock_guard guard(lock);
    marked = true;
}

void InMemoryPasteboard::writePromisedText(std::function<std::string(bool)> provide) {
    std::vector<Item> stored;
    stored.push_back(Item{{{"x-kde-passwordManagerHint", "secret"}}, std::move(provide)});
    replace(std::move(stored));
}

void InMemoryPasteboard::setString(const std::string& text) {
    replace(plainText(text));
}

bool InMemoryPasteboard::settlePromisedText(const std::string& text) {
    if (beforeWrite)
        beforeWrite();
    std::lock_guard guard(lock);
    if (items_.size() != 1 || !items_.front().provide)
        return false;
    items_ = plainText(text);
    ++changes;
    return true;
}

std::optional<std::string> InMemoryPasteboard::string() {
    int count = itemCount();
    for (int index = 0; index < count; ++index)
        for (auto type : plainTextTypes)
            if (auto bytes = data(index, std::string(type), SIZE_MAX))
                return bytes;
    return std::nullopt;
}

} // namespace talvoro
