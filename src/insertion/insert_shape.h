#pragma once

#include <string>

namespace talvoro {

// The shape recognised text takes just before insertion.
namespace InsertShape {

// Surrounding white space removed, and one final full stop dropped unless it is part of
// "..". "!", "?" and "…" stay.
std::string trimmed(const std::string& text);

} // namespace InsertShape

} // namespace talvoro
