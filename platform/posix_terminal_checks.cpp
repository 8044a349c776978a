// The terminal type's cursor addressing (known families, else terminfo) and the
// locale's character set, as the C library would take them.
#include "platform/posix_terminal_checks.h"

#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

bool terminalTypeHasCursorAddressing(const char* term) {
    if (term == nullptr || term[0] == 0) return false;
    if (std::strcmp(term, "dumb") == 0 || std::strcmp(term, "unknown") == 0) return false;
    // Families that all address the cursor the ANSI way, known here even where
    // their terminfo entries are not installed (an ssh session, a container).
    static constexpr const char* ANSI_FAMILIES[] = {
        "xterm",   "screen",  "tmux",    "rxvt",  "linux", "alacritty", "kitty",  "foot",
        "wezterm", "st-",     "konsole", "gnome", "putty", "ansi",      "mintty", "iterm",
        "contour", "ghostty", "vt1",     "vt2",   "vt3",   "vt4",       "vt5",    "eterm"};
    if (std::strcmp(term, "st") == 0) return true;
    for (const char* family : ANSI_FAMILIES) {
        if (std::strncmp(term, family, std::strlen(family)) == 0) return true;
    }
    // Any other type is known when the system has a terminfo entry for it.
    if (std::strchr(term, '/') != nullptr) return false;
    std::string directories;
    for (const char* variable : {"TERMINFO"}) {
        if (const char* value = std::getenv(variable)) directories.append(value).append(":");
    }
    if (const char* home = std::getenv("HOME")) directories.append(home).append("/.terminfo:");
    if (const char* value = std::getenv("TERMINFO_DIRS")) directories.append(value).append(":");
    directories.append("/etc/terminfo:/lib/terminfo:/usr/share/terminfo:/usr/lib/terminfo");
    size_t start = 0;
    while (start <= directories.size()) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        const std::string directory = directories.substr(start, end - start);
        start = end + 1;
        if (directory.empty()) continue;
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(term[0]));
        for (const std::string& letter : {std::string(1, term[0]), std::string(hex)}) {
            if (access((directory + "/" + letter + "/" + term).c_str(), R_OK) == 0) return true;
        }
    }
    return false;
}

std::string nonUtf8LocaleNotice() {
    // The locale the environment asks for, as the C library would take it.
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != 0) {
            name = value;
            break;
        }
    }
    std::string codeset;
    if (locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
        codeset = nl_langinfo_l(CODESET, locale);
        freelocale(locale);
    } else if (name != nullptr) {
        // Not installed here; its name still tells what the terminal uses.
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos) {
            codeset = "UTF-8";
        } else {
            codeset = "unknown";
        }
    }
    if (codeset == "UTF-8") return "";
    std::string notice = "The locale (";
    notice += name == nullptr ? std::string("none set") : name;
    notice += ") is not UTF-8: the picture is sent as UTF-8 and may show wrong characters;";
    notice += " set a UTF-8 locale, e.g. export LC_ALL=C.UTF-8";
    return notice;
}
