#include "Kestro/SkillIcon.h"

#include "Kestro/UnicodeFold.h"

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
    std::string haystack;
    haystack.append(name).append(" ").append(trigger).append(" ").append(summary);
    for (const std::string& entry : appScope) {
        haystack.append(" ").append(entry);
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
