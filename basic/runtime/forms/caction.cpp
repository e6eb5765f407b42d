// Action codes: their names, and the texts by which programs name them in ICATTACH_FUN and
// ICDETACH_FUN.
#include <cctype>
#include <cstring>
#include <string>

#include "cattach.h"
#include "cutil.h"
#include "message.h"

namespace {

struct Name {
    int code;
    const char *name;
};
constexpr Name names[] = {
    {1, "Post_Focus"},     {2, "Escape"},           {3, "Activate"},          {4, "Exit"},
    {5, "Set_Content"},    {6, "Edit_Content"},     {7, "Change_Content"},    {20, "Pre_Focus"},
    {21, "Pre_Mouse"},     {22, "Clear"},           {23, "Win_Post"},         {24, "Drill_Post"},
    {25, "Zoom_Post"},     {26, "Menu_Refresh"},    {27, "Get_Note"},         {28, "Get_Note_Amount"},
    {29, "Zoom_Search"},   {30, "Get_Note_Block_Tag"}, {31, "Revert"},        {32, "Post_File_Chooser"},
    {33, "Post_Image_Chooser"}, {34, "Screen_Capture"}, {51, "F1"},          {52, "F2"},
    {53, "F3"},            {55, "F5"},              {56, "F6"},               {57, "F7"},
    {58, "F8"},            {59, "F9"},              {60, "F10"},              {61, "F11"},
    {62, "F12"},
};

[[noreturn]] void refuse(const std::string &text) { Abort("Invalid Action Code %s", text.c_str()); }

// A function key goes by its second character (and, after F1, its third).
int function_key(const std::string &text)
{
    const char second = text.size() > 1 ? text[1] : '\0';
    const char third = text.size() > 2 ? text[2] : '\0';
    switch (second) {
    case '1':
        if (!third) return AC_F1;
        if (third >= '0' && third <= '2') return 60 + (third - '0');
        refuse(text);
    case '3':
        if (text == "F3") return 53;
        if (text == "F3_Post") Abort("F3_Post is now invalid");
        refuse(text);
    case '2': case '5': case '6': case '7': case '8': case '9':
        return AC_F1 - 1 + (second - '0');
    default:
        refuse(text);
    }
}

} // namespace

char *cgetac(char *buffer, int code)
{
    for (const Name &n : names)
        if (n.code == code) {
            std::strcpy(buffer, n.name);
            return buffer;
        }
    cutil_sprintf(buffer, 20, "Internal %d", code);
    return buffer;
}

int cattach_fun_get_ac(const char *data, std::size_t length)
{
    const std::string text(data, length);
    if (text.empty() || !std::isupper(static_cast<unsigned char>(text[0]))) refuse(text);
    for (const Name &n : names)
        if (n.code < AC_F1 && text == n.name) return n.code;
    if (text == "Pre") return AC_PRE_FOCUS;
    if (text == "Post") return AC_POST_FOCUS;
    if (text[0] == 'F') return function_key(text);
    refuse(text);
}
