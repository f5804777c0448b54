#pragma once

// A deliberately plain second reading of profile files, line by line with
// std::string, for differential fuzzing against the engine's index.

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

inline bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

inline std::string_view trim(std::string_view s)
{
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

inline std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    }
    return out;
}

inline std::vector<std::string_view> lines(std::string_view file)
{
    if (file.substr(0, 3) == "\xEF\xBB\xBF")
        file.remove_prefix(3);
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\r' || file[i] == '\n') {
            out.push_back(file.substr(start, i - start));
            if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < file.size())
        out.push_back(file.substr(start));
    return out;
}

// Section name of a header line, or nothing.
inline std::optional<std::string_view> header(std::string_view line)
{
    const std::string_view t = trim(line);
    if (t.empty() || t.front() != '[')
        return std::nullopt;
    std::string_view name = t.substr(1);
    if (const size_t close = name.find(']'); close != std::string_view::npos)
        name = name.substr(0, close);
    return trim(name);
}

inline std::optional<std::string> read(std::string_view file, std::string_view section,
                                       std::string_view key)
{
    const std::string sec = lower(trim(section));
    const std::string k = lower(trim(key));
    if (sec.empty() || k.empty())
        return std::nullopt;
    bool inside = false;
    for (const std::string_view line : lines(file)) {
        if (const auto name = header(line)) {
            if (inside)
                return std::nullopt; // only the first section of that name counts
            inside = lower(*name) == sec;
            continue;
        }
        const std::string_view t = trim(line);
        if (!inside || t.empty() || t.front() == ';')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos || lower(trim(line.substr(0, eq))) != k)
            continue;
        std::string_view v = trim(line.substr(eq + 1));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return std::string(v);
    }
    return std::nullopt;
}

// Every section name and every key name the file spells, capped.
struct Names
{
    std::set<std::string> sections;
    std::set<std::string> keys;
};

inline Names names(std::string_view file, size_t cap)
{
    Names out;
    for (const std::string_view line : lines(file)) {
        if (const auto name = header(line)) {
            if (out.sections.size() < cap)
                out.sections.emplace(*name);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq != std::string_view::npos && out.keys.size() < cap)
            out.keys.emplace(trim(line.substr(0, eq)));
    }
    return out;
}

} // namespace reference
