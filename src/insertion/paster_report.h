#pragma once

#include "insertion/paster.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace talvoro::Paster {

// The lines that show an insertion's Result, given the inserted text and the pasteboard's plain
// text before and after it.
std::vector<std::string> reportLines(const Result& result, const std::string& text,
                                     const std::optional<std::string>& textBefore,
                                     const std::optional<std::string>& textAfter);

// The lines for an insertion that failed with `error`.
std::vector<std::string> failureLines(const std::exception& error,
                                      const std::optional<std::string>& textBefore,
                                      const std::optional<std::string>& textAfter);

// Words as the report counts them: pieces between single spaces, empty pieces not counted.
int wordCount(const std::string& text);

} // namespace talvoro::Paster
