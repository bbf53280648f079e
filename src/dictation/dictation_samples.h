#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvoro {

// Labelled samples of delivered dictations: a copy of each recording beside a JSON record of
// what it was recognised as, kept under a size limit and packed into a zip for the maker.
// All state is on disk; calls from several threads rely on the file system alone.
class DictationSamples {
public:
    static constexpr std::int64_t defaultSizeLimit = 536870912; // 512 MiB
    static constexpr const char* noteName = "о разметке.txt";

    class SamplesError : public std::runtime_error {
    public:
        enum class Kind { zipFailed, empty, zipNotStarted };

        static SamplesError zipFailed(int status);
        static SamplesError empty();
        static SamplesError zipNotStarted(int error); // errno of the start

        Kind kind() const { return kind_; }
        int status() const { return status_; }

    private:
        SamplesError(Kind kind, int status, const std::string& text)
            : std::runtime_error(text), kind_(kind), status_(status) {}
        Kind kind_;
        int status_;
    };

    // Creates nothing on disk.
    explicit DictationSamples(std::string directory, std::int64_t sizeLimit = defaultSizeLimit);

    const std::string& directory() const { return directory_; }
    std::int64_t sizeLimit() const { return sizeLimit_.load(); }
    void setSizeLimit(std::int64_t bytes) { sizeLimit_.store(bytes); }

    // Copies the recording in and writes its record, then trims the folder. Never throws: a
    // missing recording is skipped, any other failure becomes a journal line.
    void keep(const std::string& wav, const std::string& text, const std::string& source,
              const std::string& engine, const std::optional<std::string>& model = {}) const;

    int count() const;          // WAV files, any letter case of the extension
    std::int64_t bytes() const; // everything in the folder

    // Packs the folder (with a fresh note) into "Тальворо — разметка <who> <date>.zip" in
    // `into`, or in ~/Downloads, with `zip` from PATH. Blocks until zip ends. Throws
    // SamplesError.
    std::string archive(const std::optional<std::string>& into = {},
                        const std::optional<std::string>& engine = {}) const;

    // login@host, with ".local" taken out of the host name.
    static const std::string& who();
    // "0.1.0 (1)".
    static const std::string& appVersion();
    // The note packed with an archive of `pairs` pairs.
    static std::string noteText(const std::optional<std::string>& engine, int pairs);

private:
    void keepOrThrow(const std::string& wav, const std::string& text, const std::string& source,
                     const std::string& engine, const std::optional<std::string>& model) const;
    void trim() const;
    std::vector<std::string> wavs() const; // sorted by name

    const std::string directory_;
    std::atomic<std::int64_t> sizeLimit_;
};

} // namespace talvoro
