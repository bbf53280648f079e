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
    bool tooLarge = false;             // over the byte limit: nothing was kept

    // Reads every type of every item, giving up (items empty, tooLarge) as soon as the running
    // total of bytes exceeds `maxBytes`.
    static PasteboardSnapshot take(Pasteboard& pasteboard, std::size_t maxBytes);

    // Clears the pasteboard and, unless too large or empty, writes the saved items back.
    void restore(Pasteboard& pasteboard) const;
};

} // namespace talvoro
