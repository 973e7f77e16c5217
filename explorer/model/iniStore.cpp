#include "iniStore.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <utility>

namespace lumivar {

namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// A value is one line of the file; anything after a line break would turn
// into lines of its own on the next read.
std::string_view oneLine(std::string_view value)
{
    const auto end = value.find_first_of(std::string_view("\r\n\0", 3));
    return end == std::string_view::npos ? value : value.substr(0, end);
}

} // namespace

void IniStore::parse(std::string_view text)
{
    sections_.clear();
    sections_.push_back(Section{});
    crlf_ = false;
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom)
        text.remove_prefix(kUtf8Bom.size());
    bool firstEnd = true;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const bool hasCr = !raw.empty() && raw.back() == '\r';
        if (hasCr)
            raw.remove_suffix(1);
        if (end != std::string_view::npos && firstEnd) {
            crlf_ = hasCr;
            firstEnd = false;
        }
        const std::string_view body = trim(raw);
        const auto close = body.find(']');
        if (!body.empty() && body.front() == '[' && close != std::string_view::npos) {
            sections_.push_back(Section{std::string(trim(body.substr(1, close - 1))),
                                        std::string(raw), {}});
            continue;
        }
        Line line{std::string(raw), {}, {}};
        const auto eq = body.find('=');
        const bool comment = !body.empty() && (body.front() == ';' || body.front() == '#');
        if (!comment && eq != std::string_view::npos && !trim(body.substr(0, eq)).empty()) {
            line.key = trim(body.substr(0, eq));
            line.value = trim(body.substr(eq + 1));
        }
        sections_.back().lines.push_back(std::move(line));
    }
}

bool IniStore::load(const std::string &path)
{
    parse({});
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string body;
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        body.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (body.size() > kIniMaxBytes)
            return false;
    }
    if (in.bad())
        return false;
    parse(body);
    return true;
}

std::string IniStore::text() const
{
    const std::string_view eol = crlf_ ? "\r\n" : "\n";
    std::string out;
    for (const Section &section : sections_) {
        if (!section.header.empty())
            out.append(section.header).append(eol);
        for (const Line &line : section.lines)
            out.append(line.text).append(eol);
    }
    return out;
}

bool IniStore::save(const std::string &path) const
{
    const std::string body = text();
    const std::string temp = path + ".tmp";
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    out.close();
    // A full disk shows only when the last buffer is written out at close.
    if (out.fail() || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

const IniStore::Line *IniStore::find(std::string_view section, std::string_view key) const
{
    for (const Section &s : sections_) {
        if (s.name != section)
            continue;
        for (const Line &line : s.lines) {
            if (!line.key.empty() && line.key == key)
                return &line;
        }
    }
    return nullptr;
}

IniStore::Line *IniStore::findLine(std::string_view section, std::string_view key)
{
    return const_cast<Line *>(std::as_const(*this).find(section, key));
}

bool IniStore::has(std::string_view section, std::string_view key) const
{
    return find(section, key) != nullptr;
}

std::string IniStore::get(std::string_view section, std::string_view key,
                          std::string_view fallback) const
{
    const Line *line = find(section, key);
    return std::string(line != nullptr ? std::string_view(line->value) : fallback);
}

long IniStore::getInt(std::string_view section, std::string_view key, long fallback) const
{
    const Line *line = find(section, key);
    if (line == nullptr)
        return fallback;
    std::string_view digits = line->value;
    // from_chars takes a '-' but no '+'; hand-edited files may carry either.
    if (!digits.empty() && digits.front() == '+' && digits.substr(1, 1) != "-")
        digits.remove_prefix(1);
    long value = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    (void)ptr;
    return ec == std::errc() ? value : 0;
}

IniStore::Section &IniStore::sectionFor(std::string_view name)
{
    if (sections_.empty())
        sections_.push_back(Section{});
    for (Section &s : sections_) {
        if (s.name == name)
            return s;
    }
    // Set a new section apart from the text before it, as a person would.
    Section &last = sections_.back();
    const bool fileEmpty = sections_.size() == 1 && last.lines.empty();
    if (!fileEmpty && (last.lines.empty() || !trim(last.lines.back().text).empty()))
        last.lines.push_back(Line{});
    sections_.push_back(Section{std::string(name), "[" + std::string(name) + "]", {}});
    return sections_.back();
}

void IniStore::set(std::string_view section, std::string_view key, std::string_view value)
{
    if (key.empty())
        return;
    value = oneLine(value);
    if (Line *line = findLine(section, key)) {
        // An unchanged value keeps the line as the user spaced it.
        if (line->value != value) {
            line->value = value;
            line->text = line->key + "=" + line->value;
        }
        return;
    }
    Section &s = sectionFor(section);
    auto at = s.lines.end();
    while (at != s.lines.begin() && std::prev(at)->key.empty())
        --at;
    Line line{std::string(key) + "=" + std::string(value), std::string(key), std::string(value)};
    s.lines.insert(at, std::move(line));
}

void IniStore::setInt(std::string_view section, std::string_view key, long value)
{
    set(section, key, std::to_string(value));
}

void IniStore::setUnsigned(std::string_view section, std::string_view key, unsigned long value)
{
    set(section, key, std::to_string(value));
}

} // namespace lumivar
