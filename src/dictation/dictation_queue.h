#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace talvoro {

// Recordings waiting for another attempt: the WAV files of a folder, oldest name first.
// Nothing is kept in memory; every call looks at the folder anew.
class DictationQueue {
public:
    // Creates the folder (0700 for the new parts); throws DictationQueueError on failure.
    explicit DictationQueue(std::string directory);

    const std::string& directory() const { return directory_; }

    // Moves the recording into the folder under its own name and returns where it is now.
    // When another recording holds that name, it goes in as "name-2.wav", "name-3.wav"… A
    // recording that already is in the queue (a retry) stays where it is. Throws
    // DictationQueueError.
    std::string enqueue(const std::string& wav) const;
    // The ".wav" files in name order; empty when the folder cannot be read.
    std::vector<std::string> pending() const;
    std::size_t count() const { return pending().size(); }
    // Moves a recording that will never be recognised into the folder "unreadable" inside the
    // queue, under a name no other file there has, and returns where it is now. Throws
    // DictationQueueError.
    std::string setAside(const std::string& wav) const;
    // Deletes the file; a file already gone is not an error.
    void remove(const std::string& path) const;

private:
    static std::string moveInto(const std::string& folder, const std::string& wav);

    std::string directory_;
};

class DictationQueueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace talvoro
