#pragma once

#include "Console.h"
#include "ConsoleSyntax.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tromel::console {

/// The config and the files it execs. Each is read once, however many runs and execs use it; a
/// text ends at its first NUL, as the game hands it over as a C string.
class Files {
public:
    /// Reads the config; "-" is standard input, whose execs look in the current folder. A config
    /// of line breaks alone is NoLines, as in every mode.
    FileStatus open(const std::string& path);
    /// A config already in memory, named path; execs look beside it. Empty, or NoLines for line
    /// breaks alone, as in every mode.
    FileStatus openText(const std::string& path, std::string text);

    std::size_t count() const { return m_files.size(); }
    const std::string& path(std::uint32_t file) const { return m_files[file].path; }
    std::string_view text(std::uint32_t file) const { return m_files[file].text; }
    /// Every text by file id, for making text views.
    const std::vector<std::string_view>& texts() const { return m_texts; }
    /// Bytes of text read so far.
    std::uint64_t bytes() const { return m_bytes; }

    /// Line (every physical line counted: LF, CR and CRLF each end one) and column (bytes), from 1.
    std::pair<std::uint64_t, std::uint64_t> lineColumn(Place place);

    struct Found {
        enum class Problem : std::uint8_t { None, Refused, Missing, TooLong, Unreadable };
        std::uint32_t file = 0;
        Problem problem = Problem::None;
        FileStatus status; // when Unreadable
        std::string path; // when TooLong or Unreadable
        bool found() const { return problem == Problem::None; }
    };
    /// The file that exec runs for filename (extension already added), as the config's folder
    /// holds it: the exact name first, else one that differs from it in case only. A file longer
    /// than `longest` bytes is never inserted in the command buffer, so it is not read.
    const Found& find(const std::string& filename, std::size_t longest);
    /// Why the game would not run filename, in words.
    std::string problem(const Found& found, const std::string& filename) const;

private:
    struct File {
        std::string path;
        std::string text;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> lines; // line and line start every kStride bytes
        std::uint64_t lastOffset = 0; // the last place asked for, where reports mostly go on from
        std::pair<std::uint64_t, std::uint64_t> last { 1, 0 };
    };
    struct Listing {
        std::unordered_set<std::string> names;
        // Names by the console's comparison: the smallest of those that differ in case only.
        std::unordered_map<std::string, std::string, FoldedHash, FoldedEqual> byFolded;
    };

    std::uint32_t add(std::string path, std::string text);
    Found lookUp(std::string relative, std::size_t longest);
    bool findFolded(std::string_view relative, std::filesystem::path& out);
    const Listing& listing(const std::filesystem::path& dir);
    const Listing& baseListing();
    void index(File& file);

    std::filesystem::path m_base;
    std::deque<File> m_files; // stable: texts are viewed while more files are added
    std::vector<std::string_view> m_texts;
    std::unordered_map<std::string, std::uint32_t> m_byKey;
    std::unordered_map<std::string, Found> m_found;
    std::unordered_map<std::string, Listing> m_listings;
    const Listing* m_baseListing = nullptr; // the config's folder, where most execs look
    std::uint64_t m_bytes = 0;
};

} // namespace tromel::console
