#pragma once

#include <stdexcept>
#include <string>

namespace talvoro {

// Writing or removing the entry failed; what() is the sentence for the user.
class AutostartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Starting at login through the desktop's autostart folder: the entry "talvoro.desktop" in
// $XDG_CONFIG_HOME/autostart (by default ~/.config/autostart).
//
// Our entry is entryText(executable): it carries the marker X-Talvoro-Autostart=true. A file
// there that is not exactly that is the user's (or their desktop's) and keeps its lines:
// - isEnabled: the file is there and neither of the desktop's switches turns it off
//   (Hidden=true, X-GNOME-Autostart-enabled=false);
// - enable (ticking the item): with no file, writes ours, creating the folder; a file that is
//   there keeps everything, its Exec line included; only those switches are turned back on;
// - disable (unticking the item): removes the file whoever wrote it, since that is the user's
//   own wish;
// - refresh (at start): our unchanged entry whose program no longer exists (the install was
//   moved) is written again for this one; any other file is left alone.
class Autostart {
public:
    Autostart(std::string folder, std::string executable);
    // The desktop's folder for this user, and the running program.
    static Autostart forThisUser();

    const std::string& path() const { return path_; }
    bool isEnabled() const;
    void enable() const;
    void disable() const;
    void refresh() const;

    // The entry that starts that program, its path quoted as desktop entries require.
    static std::string entryText(const std::string& executable);

private:
    void write(const std::string& text) const;

    std::string folder_;
    std::string path_;
    std::string executable_;
};

} // namespace talvoro
