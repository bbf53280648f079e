#pragma once

#include <stdexcept>
#include <string>

namespace talvoro::Paster {

// Why an insertion could not be made; what() is the sentence the user sees.
class Failure : public std::runtime_error {
public:
    enum class Code { noPermission, emptyText, eventCreationFailed, noDisplay };

    explicit Failure(Code code);
    // The same kind of failure in the words of the path that met it (a desktop portal's refusal).
    Failure(Code code, const std::string& text) : std::runtime_error(text), code_(code) {}
    Code code() const { return code_; }

    static Failure noPermission() { return Failure(Code::noPermission); }
    static Failure emptyText() { return Failure(Code::emptyText); }
    static Failure eventCreationFailed() { return Failure(Code::eventCreationFailed); }
    static Failure noDisplay() { return Failure(Code::noDisplay); }
    // Keys cannot be pressed on this path (a portal or compositor said no), in its own words.
    static Failure refused(const std::string& text) { return Failure(Code::noPermission, text); }

private:
    Code code_;
};

} // namespace talvoro::Paster

namespace talvoro {

// The pasteboard cannot be reached at all (no X display); what() is for the user.
class PasteboardUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// No synthesised keys on this desktop (the compositor offers no virtual keyboard); what() is for
// the user.
class KeystrokeUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace talvoro
