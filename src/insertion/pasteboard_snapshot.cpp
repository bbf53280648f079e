#include "insertion/pasteboard_snapshot.h"

#include <algorithm>

namespace talvoro {

namespace {

struct Read {
    int item;
    std::string type;
    std::string bytes;
};

} // namespace

PasteboardSnapshot PasteboardSnapshot::take(Pasteboard& pasteboard, std::size_t maxBytes) {
    PasteboardSnapshot snapshot;
    snapshot.types = pasteboard.types();
    const int count = pasteboard.itemCount();
    // Dropping the largest as soon as the total is over holds at most the limit and one read.
    std::vector<Read> kept;
    std::size_t total = 0;
    for (int index = 0; index < count; ++index) {
        for (const std::string& type : pasteboard.itemTypes(index)) {
            // Reading stops just past the limit, so an oversized type is never read whole.
            std::optional<std::string> bytes = pasteboard.data(index, type, maxBytes);
            if (!bytes)
                continue;
            auto same = std::find_if(kept.begin(), kept.end(), [&](const Read& read) {
                return read.item == index && read.type == type;
            });
            if (same != kept.end()) {
                total -= same->bytes.size();
                kept.erase(same);
            }
            total += bytes->size();
            kept.push_back({index, type, std::move(*bytes)});
            while (total > maxBytes) {
                auto largest = std::max_element(kept.begin(), kept.end(), [](auto& a, auto& b) {
                    return a.bytes.size() < b.bytes.size();
                });
                total -= largest->bytes.size();
                snapshot.dropped.push_back(largest->type);
                kept.erase(largest);
            }
        }
    }
    for (int index = 0; index < count; ++index) {
        PasteboardItem item;
        for (Read& read : kept)
            if (read.item == index)
                item.emplace_back(std::move(read.type), std::move(read.bytes));
        if (!item.empty())
            snapshot.items.push_back(std::move(item));
    }
    snapshot.tooLarge = snapshot.items.empty() && !snapshot.dropped.empty();
    return snapshot;
}

void PasteboardSnapshot::restore(Pasteboard& pasteboard) const {
    pasteboard.clearContents();
    if (tooLarge || items.empty())
        return;
    pasteboard.writeItems(items);
}

} // namespace talvoro
