#pragma once

#include "insertion/pasteboard.h"

#include <cstddef>
#include <string>
#include <vector>

namespace talvoro {

// The previous pasteboard contents, saved so that they can be put back after an insertion.
struct PasteboardSnapshot {
    std::vector<PasteboardItem> items; // items that had at least one readable type
    std::vector<std::string> types;    // the pasteboard's own type list as it stood
    std::vector<std::string> dropped;  // types left out to stay within the byte limit
    bool tooLarge = false;             // over the byte limit, and nothing fitted

    // Reads every type of every item and keeps as many as fit in `maxBytes` together, leaving
    // out the largest first (a screenshot offered as PNG, BMP and PPM keeps its PNG).
    static PasteboardSnapshot take(Pasteboard& pasteboard, std::size_t maxBytes);

    // Clears the pasteboard and, unless too large or empty, writes the saved items back.
    void restore(Pasteboard& pasteboard) const;
};

} // namespace talvoro
