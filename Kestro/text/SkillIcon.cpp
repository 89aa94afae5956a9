#include "Kestro/text/SkillIcon.h"

#include "Kestro/text/UnicodeFold.h"

#include <array>
#include <initializer_list>

namespace kestro::SkillIcon {

namespace {

struct Group {
    std::initializer_list<std::string_view> keywords;
    std::string_view symbol;
};

// Order decides: the first group with any keyword in the skill's words wins.
const std::array<Group, 24>& groups() {
    static const std::array<Group, 24> table = {{
        {{"email", "gmail", "mail", "outlook", "inbox"}, "envelope"},
        {{"slack", "message", "chat", "imessage", "whatsapp", "telegram"}, "message"},
        {{"calendar", "meeting", "event", "schedule", "invite", "remind"}, "calendar"},
        {{"invoice", "payment", "billing", "stripe", "refund", "checkout"}, "creditcard"},
        {{"spreadsheet", "sheet", "excel", "numbers", "csv"}, "tablecells"},
        {{"report", "document", "write", "note", "draft", "essay", "doc"}, "doc.text"},
        {{"search", "find", "lookup", "query"}, "magnifyingglass"},
        {{"download"}, "arrow.down.circle"},
        {{"upload", "send", "submit", "post", "publish"}, "paperplane"},
        {{"screenshot", "screen capture", "capture screen"}, "camera.viewfinder"},
        {{"photo", "image", "picture", "crop", "resize"}, "photo"},
        {{"video", "youtube", "movie", "stream"}, "video"},
        {{"music", "spotify", "song", "playlist"}, "music.note"},
        {{"github", "code", "terminal", "deploy", "build", "compile", "pull request"},
         "chevron.left.forwardslash.chevron.right"},
        {{"ticket", "jira", "issue", "task", "todo", "linear"}, "checklist"},
        {{"delete", "remove", "trash", "clean up"}, "trash"},
        {{"setting", "config", "preference"}, "gearshape"},
        {{"login", "sign in", "signin", "password", "auth"}, "key"},
        {{"map", "location", "direction", "navigate", "address"}, "map"},
        {{"weather", "forecast"}, "cloud.sun"},
        {{"browser", "website", "url", "safari", "chrome", "webpage"}, "globe"},
        {{"folder", "file", "finder", "rename", "organize"}, "folder"},
        {{"translate", "language"}, "character.bubble"},
        {{"summar", "chatgpt", "claude", "prompt", "generate"}, "sparkles"},
    }};
    return table;
}

} // namespace

std::string_view prefix(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    // Back to the start of a code point, so the cut never splits a character.
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

std::vector<std::string_view> allSymbols() {
    std::vector<std::string_view> names;
    for (const Group& g : groups()) {
        names.push_back(g.symbol);
    }
    names.push_back(fallbackSymbol);
    return names;
}

std::string symbol(std::string_view name, std::string_view trigger, std::string_view summary,
                   const std::vector<std::string>& appScope) {
    // Fields joined by single spaces (an empty field keeps its separator), so a keyword with a
    // space can span two fields. The keywords are ASCII, so byte search in UTF-8 is exact.
    // Only a prefix of each field is read, so a huge summary costs what a short one does.
    std::string haystack;
    haystack.append(prefix(name)).append(" ").append(prefix(trigger)).append(" ");
    haystack.append(prefix(summary));
    std::size_t scopes = 0;
    for (const std::string& entry : appScope) {
        if (++scopes > maxScopeEntries) {
            break;
        }
        haystack.append(" ").append(prefix(entry));
    }
    haystack = unicode::lowercasedUtf8(haystack);
    for (const Group& g : groups()) {
        for (std::string_view keyword : g.keywords) {
            if (haystack.find(keyword) != std::string::npos) {
                return std::string(g.symbol);
            }
        }
    }
    return std::string(fallbackSymbol);
}

std::string symbol(const Skill& skill) {
    return symbol(skill.name, skill.trigger, skill.summary, skill.appScope);
}

} // namespace kestro::SkillIcon
