#include "insertion/pasteboard_snapshot.h"

#include <algorithm>

namespace talvoro {

PasteboardSnapshot PasteboardSnapshot::take(Pasteboard& pasteboard, std::size_t maxBytes) {
    PasteboardSnapshot snapshot;
    snapshot.types = pasteboard.types();
    int count = pasteboard.itemCount();
    std::size_t total = 0;
    for (int index = 0; index < count; ++index) {
        PasteboardItem item;
        for (const std::string& type : pasteboard.itemTypes(index)) {
            // Reading stops just past what is left, so an oversized type is never read whole.
            std::optional<std::string> bytes = pasteboard.data(index, type, maxBytes - total);
            if (!bytes)
                continue;
            total += bytes->size();
            if (total > maxBytes) {
                snapshot.items.clear();
                snapshot.tooLarge = true;
                return snapshot;
            }
            auto same = std::find_if(item.begin(), item.end(),
                                     [&](const auto& entry) { return entry.first == type; });
            if (same != item.end())
                same->second = std::move(*bytes);
            else
                item.emplace_back(type, std::move(*bytes));
        }
        if (!item.empty())
            snapshot.items.push_back(std::move(item));
    }
    return snapshot;
}

void PasteboardSnapshot::restore(Pasteboard& pasteboard) const {
    pasteboard.clearContents();
    if (tooLarge || items.empty())
        return;
    pasteboard.writeItems(items);
}

} // namespace talvoro
