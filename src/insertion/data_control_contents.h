#pragma once

#include "insertion/pasteboard.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talvoro::wayland {

// The MIME types our own text is offered under, the first one preferred, and the order in which
// a text is looked for in another client's offer.
inline const std::vector<std::string> textTypes{"text/plain;charset=utf-8", "text/plain",
                                                "UTF8_STRING", "TEXT"};
inline constexpr const char* passwordHintType = "x-kde-passwordManagerHint";

// What we serve while our data source holds a selection: nothing, immediate items, plain text,
// or text produced only when a reader asks for it. Our own text carries the password-manager hint.
class DataControlContents {
public:
    static DataControlContents nothing() { return {}; }
    static DataControlContents item(const PasteboardItem& item);
    static DataControlContents text(const std::string& text);
    static DataControlContents promised(std::function<std::string(bool afterKeystroke)> provide);

    // Our types in order, as the source offers them.
    std::vector<std::string> types() const;
    // The bytes for one type; nothing when we do not offer it. Asking for a promised text type
    // calls the provider: that is a pull, the receiver's when it came after the keystroke.
    std::shared_ptr<const std::string> serve(const std::string& type, bool afterKeystroke) const;
    bool promisesText() const { return static_cast<bool>(provide); }

private:
    std::vector<std::pair<std::string, std::shared_ptr<const std::string>>> data;
    std::function<std::string(bool afterKeystroke)> provide;
};

} // namespace talvoro::wayland
