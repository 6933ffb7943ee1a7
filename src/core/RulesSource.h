#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// How the servers read the text that holds their rules: the console's command buffer and
// tokenizer, RtCW Pro's line reader and ET: Legacy's .config files.
namespace tromel::rules {

/// Whose tokenizer cuts a command line: they differ on bytes above 127 and on "//" after ':'.
enum class Flavour { EtLegacy, Rtcw };

/// Receives each command line's arguments and the 1-based line where the command starts.
using CommandSink = std::function<void(std::vector<std::string>& args, std::uint64_t line)>;

/// A problem of the text itself, at a line.
struct SourceNote {
    std::uint64_t line = 0;
    std::string message;
};

/// sv_cvar, sv_cvarempty, pb_sv_cvar or pb_sv_cvarempty, in any case.
bool isRuleWord(std::string_view word);

/// The arguments of one command line, as the engine's tokenizer makes them.
std::vector<std::string> tokenize(std::string_view line, Flavour flavour);

/// Text run by the console (a server.cfg, pbsv.cfg), cut into command lines as ET: Legacy's
/// command buffer does: at line breaks and at ';' outside quotes and comments.
class ConsoleText {
public:
    /// Adds text whose first line has the given number; commands may run on into the next piece
    /// only inside a /* comment, as in the engine.
    void add(std::string_view text, std::uint64_t line);
    void run(const CommandSink& sink) const;

private:
    struct Piece {
        std::size_t offset = 0;
        std::uint64_t line = 0;
    };
    std::string m_text;
    std::vector<Piece> m_pieces;
};

/// RtCW Pro's rules file: each line as fgets reads it into 256 bytes, with no ';' splitting.
void readRtcwLines(std::string_view text, const CommandSink& sink);

/// True when the text is an ET: Legacy .config: its rules sit in `command "…"` entries.
bool isLegacyConfig(std::string_view text);

/// The console text that an ET: Legacy .config sends to the server on map (any map when empty):
/// its init block's and matching map blocks' `command` entries, in file order. Entries of other
/// maps' blocks, and where the server stops reading, become notes.
ConsoleText readLegacyConfig(std::string_view text, std::string_view map, std::vector<SourceNote>& notes);

} // namespace tromel::rules
