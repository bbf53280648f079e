#include "insertion/data_control_contents.h"

#include <algorithm>

namespace talvoro::wayland {

namespace {

bool isTextType(const std::string& type) {
    return std::find(textTypes.begin(), textTypes.end(), type) != textTypes.end();
}

} // namespace

DataControlContents DataControlContents::item(const PasteboardItem& item) {
    DataControlContents contents;
    for (const auto& [type, bytes] : item)
        contents.data.emplace_back(type, std::make_shared<const std::string>(bytes));
    return contents;
}

DataControlContents DataControlContents::text(const std::string& text) {
    DataControlContents contents;
    auto shared = std::make_shared<const std::string>(text);
    for (const std::string& type : textTypes)
        contents.data.emplace_back(type, shared);
    contents.data.emplace_back(passwordHintType, std::make_shared<const std::string>("secret"));
    return contents;
}

DataControlContents
DataControlContents::promised(std::function<std::string(bool afterKeystroke)> provide) {
    DataControlContents contents;
    contents.data.emplace_back(passwordHintType, std::make_shared<const std::string>("secret"));
    contents.provide = std::move(provide);
    return contents;
}

std::vector<std::string> DataControlContents::types() const {
    std::vector<std::string> types;
    if (provide)
        types = textTypes;
    for (const auto& entry : data)
        types.push_back(entry.first);
    return types;
}

std::shared_ptr<const std::string> DataControlContents::serve(const std::string& type,
                                                              bool afterKeystroke) const {
    if (provide && isTextType(type))
        return std::make_shared<const std::string>(provide(afterKeystroke));
    auto found = std::find_if(data.begin(), data.end(),
                              [&](const auto& entry) { return entry.first == type; });
    return found == data.end() ? nullptr : found->second;
}

} // namespace talvoro::wayland
