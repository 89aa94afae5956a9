#include "platform/linux/AtspiRoles.h"

#include <atspi/atspi.h>

#include <map>

namespace kestro::platform::linux_x11 {

namespace {

struct Names {
    const char* role;
    const char* subrole; // or null
};

const std::map<AtspiRole, Names>& table() {
    static const std::map<AtspiRole, Names> roles = {
        {ATSPI_ROLE_PUSH_BUTTON, {"AXButton", nullptr}},
        {ATSPI_ROLE_PUSH_BUTTON_MENU, {"AXMenuButton", nullptr}},
        {ATSPI_ROLE_TOGGLE_BUTTON, {"AXCheckBox", "AXToggle"}},
        {ATSPI_ROLE_CHECK_BOX, {"AXCheckBox", nullptr}},
        {ATSPI_ROLE_RADIO_BUTTON, {"AXRadioButton", nullptr}},
        {ATSPI_ROLE_COMBO_BOX, {"AXComboBox", nullptr}},
        {ATSPI_ROLE_ENTRY, {"AXTextField", nullptr}},
        {ATSPI_ROLE_TEXT, {"AXTextField", nullptr}},
        {ATSPI_ROLE_PASSWORD_TEXT, {"AXTextField", "AXSecureTextField"}},
        {ATSPI_ROLE_SPIN_BUTTON, {"AXIncrementor", nullptr}},
        {ATSPI_ROLE_SLIDER, {"AXSlider", nullptr}},
        {ATSPI_ROLE_SCROLL_BAR, {"AXScrollBar", nullptr}},
        {ATSPI_ROLE_SCROLL_PANE, {"AXScrollArea", nullptr}},
        {ATSPI_ROLE_LABEL, {"AXStaticText", nullptr}},
        {ATSPI_ROLE_STATIC, {"AXStaticText", nullptr}},
        {ATSPI_ROLE_CAPTION, {"AXStaticText", nullptr}},
        {ATSPI_ROLE_LINK, {"AXLink", nullptr}},
        {ATSPI_ROLE_IMAGE, {"AXImage", nullptr}},
        {ATSPI_ROLE_ICON, {"AXImage", nullptr}},
        {ATSPI_ROLE_MENU_BAR, {"AXMenuBar", nullptr}},
        {ATSPI_ROLE_MENU, {"AXMenu", nullptr}},
        {ATSPI_ROLE_POPUP_MENU, {"AXMenu", nullptr}},
        {ATSPI_ROLE_MENU_ITEM, {"AXMenuItem", nullptr}},
        {ATSPI_ROLE_CHECK_MENU_ITEM, {"AXMenuItem", nullptr}},
        {ATSPI_ROLE_RADIO_MENU_ITEM, {"AXMenuItem", nullptr}},
        {ATSPI_ROLE_TEAROFF_MENU_ITEM, {"AXMenuItem", nullptr}},
        {ATSPI_ROLE_LIST, {"AXList", nullptr}},
        {ATSPI_ROLE_LIST_BOX, {"AXList", nullptr}},
        {ATSPI_ROLE_LIST_ITEM, {"AXRow", nullptr}},
        {ATSPI_ROLE_TABLE, {"AXTable", nullptr}},
        {ATSPI_ROLE_TREE_TABLE, {"AXOutline", nullptr}},
        {ATSPI_ROLE_TREE, {"AXOutline", nullptr}},
        {ATSPI_ROLE_TABLE_ROW, {"AXRow", nullptr}},
        {ATSPI_ROLE_TREE_ITEM, {"AXRow", "AXOutlineRow"}},
        {ATSPI_ROLE_TABLE_CELL, {"AXCell", nullptr}},
        {ATSPI_ROLE_COLUMN_HEADER, {"AXButton", "AXSortButton"}},
        {ATSPI_ROLE_TABLE_COLUMN_HEADER, {"AXButton", "AXSortButton"}},
        {ATSPI_ROLE_PAGE_TAB_LIST, {"AXTabGroup", nullptr}},
        {ATSPI_ROLE_PAGE_TAB, {"AXRadioButton", "AXTabButton"}},
        {ATSPI_ROLE_TOOL_BAR, {"AXToolbar", nullptr}},
        {ATSPI_ROLE_TOOL_TIP, {"AXHelpTag", nullptr}},
        {ATSPI_ROLE_PROGRESS_BAR, {"AXProgressIndicator", nullptr}},
        {ATSPI_ROLE_LEVEL_BAR, {"AXLevelIndicator", nullptr}},
        {ATSPI_ROLE_SPLIT_PANE, {"AXSplitGroup", nullptr}},
        {ATSPI_ROLE_SEPARATOR, {"AXSplitter", nullptr}},
        {ATSPI_ROLE_HEADING, {"AXHeading", nullptr}},
        {ATSPI_ROLE_PANEL, {"AXGroup", nullptr}},
        {ATSPI_ROLE_FILLER, {"AXGroup", nullptr}},
        {ATSPI_ROLE_SECTION, {"AXGroup", nullptr}},
        {ATSPI_ROLE_GROUPING, {"AXGroup", nullptr}},
        {ATSPI_ROLE_FORM, {"AXGroup", nullptr}},
        {ATSPI_ROLE_PARAGRAPH, {"AXGroup", nullptr}},
        {ATSPI_ROLE_DOCUMENT_WEB, {"AXWebArea", nullptr}},
        {ATSPI_ROLE_DOCUMENT_FRAME, {"AXWebArea", nullptr}},
        {ATSPI_ROLE_TERMINAL, {"AXTextArea", nullptr}},
        {ATSPI_ROLE_FRAME, {"AXWindow", "AXStandardWindow"}},
        {ATSPI_ROLE_WINDOW, {"AXWindow", nullptr}},
        {ATSPI_ROLE_DIALOG, {"AXWindow", "AXDialog"}},
        {ATSPI_ROLE_ALERT, {"AXWindow", "AXDialog"}},
        {ATSPI_ROLE_FILE_CHOOSER, {"AXWindow", "AXDialog"}},
        {ATSPI_ROLE_COLOR_CHOOSER, {"AXWindow", "AXDialog"}},
        {ATSPI_ROLE_FONT_CHOOSER, {"AXWindow", "AXDialog"}},
        {ATSPI_ROLE_APPLICATION, {"AXApplication", nullptr}},
    };
    return roles;
}

std::string camelCase(const char* name) {
    std::string out = "AX";
    bool upper = true;
    for (const char* p = name; p && *p; ++p) {
        const char c = *p;
        if (c == ' ' || c == '-' || c == '_') {
            upper = true;
            continue;
        }
        out += upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        upper = false;
    }
    return out;
}

} // namespace

AXRoleNames axRoleNames(AtspiRole role, bool multiLine, bool topLevel) {
    AXRoleNames names;
    auto it = table().find(role);
    if (it != table().end()) {
        names.role = it->second.role;
        if (it->second.subrole) {
            names.subrole = it->second.subrole;
        }
    } else {
        gchar* name = atspi_role_get_name(role);
        names.role = camelCase(name);
        g_free(name);
    }
    if ((role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY) && multiLine) {
        names.role = "AXTextArea";
    }
    const bool generic = role == ATSPI_ROLE_FILLER || role == ATSPI_ROLE_PANEL ||
                         role == ATSPI_ROLE_UNKNOWN || role == ATSPI_ROLE_INVALID;
    if (topLevel && generic) {
        names.role = "AXWindow";
        names.subrole = "AXStandardWindow";
    }
    return names;
}

} // namespace kestro::platform::linux_x11
