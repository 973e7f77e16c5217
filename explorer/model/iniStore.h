// A small INI reader-writer for the explorer's profile file (Zentrova.ini).
//
// Why not QSettings: it maps a "[General]" section onto its top-level keys
// and reads a value holding a comma as a list, so a file edited by hand or
// written by the Windows profile API would not read back as written. This
// store reads each value as the raw text of its line and keeps every line
// it does not change (other sections, foreign keys, comments, their order),
// so the window layout and any other profile keys survive a save.
//
// File rules:
// - "[name]" starts a section; lines before the first header form an
//   unnamed section "" written without a header.
// - "key = value": names and values are trimmed of blanks; the value is the
//   rest of the line, commas, quotes and ';' included.
// - Lines starting with ';' or '#' are comments; blank lines, comments and
//   lines without '=' are kept as they are.
// - CR LF or LF line ends; a save writes the ending the file was read with
//   (LF for a new file). A UTF-8 byte-order mark is skipped.
// - Section and key names compare case-sensitively: the program writes its
//   names in one spelling, and exact matching never lets "name0" shadow
//   "Name0". When a key appears twice, the first one is read and changed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumivar {

// A profile larger than this is not ours; load refuses it rather than cut it.
inline constexpr std::size_t kIniMaxBytes = 1024 * 1024;

class IniStore {
public:
    // Replaces the contents with the file's. False when the file cannot be
    // opened or read or is larger than kIniMaxBytes; the store is then empty.
    [[nodiscard]] bool load(const std::string &path);
    // Writes the whole file to a temporary beside it, then renames it over
    // the target, so a failed write never leaves half a profile behind.
    [[nodiscard]] bool save(const std::string &path) const;

    // Replaces the contents with the given text (the body of a file).
    void parse(std::string_view text);
    // The file as save writes it.
    [[nodiscard]] std::string text() const;

    [[nodiscard]] bool has(std::string_view section, std::string_view key) const;
    // The value, or fallback when the key is absent.
    [[nodiscard]] std::string get(std::string_view section, std::string_view key,
                                  std::string_view fallback) const;
    // A decimal integer: optional sign, then digits; text after the digits is
    // ignored. A present key that is no number (or does not fit a long)
    // reads 0; an absent key reads fallback.
    [[nodiscard]] long getInt(std::string_view section, std::string_view key,
                              long fallback) const;

    // Changes the first such key in place, or adds it after the section's
    // last key (adding the section at the end when needed). A value is one
    // line: it is cut at its first CR, LF or NUL.
    void set(std::string_view section, std::string_view key, std::string_view value);
    void setInt(std::string_view section, std::string_view key, long value);
    void setUnsigned(std::string_view section, std::string_view key, unsigned long value);

private:
    struct Line {
        std::string text; // the line as written, without its end
        std::string key;  // empty when the line is no key
        std::string value;
    };
    struct Section {
        std::string name;
        std::string header; // empty for the unnamed first section
        std::vector<Line> lines;
    };

    [[nodiscard]] const Line *find(std::string_view section, std::string_view key) const;
    Line *findLine(std::string_view section, std::string_view key);
    Section &sectionFor(std::string_view name);

    std::vector<Section> sections_;
    bool crlf_ = false;
};

} // namespace lumivar
