// The three intrinsic dispatchers: one table per dispatcher, indexed by intrinsic code, of the
// handler and the row's flags, around which each dispatcher puts its common frame.
#include <array>
#include <cstdio>
#include <string>

#include <glib.h>

#include "cases.h"
#include "intrinsics.h"
#include "message.h"
#include "run_time.h"

namespace {

// Row flags.
constexpr unsigned HAS_CASE = 1;  // the dispatcher serves the code (else its default stop)
constexpr unsigned WINDOWS = 2;   // refused with error 208 in background mode

// Intrinsics that need a window system.
constexpr int windows_only[] = {
    // numeric
    in_ICCHECK_INDEX, in_ICGET_ANYCHANGE, in_ICGET_CURRENT_FOCUS, in_ICGET_FIELD_DES_PTR, in_ICGET_FIELD_ENABLED,
    in_ICGET_FIELD_ENTRY_PTR, in_ICGET_FIELD_PROMPT_NO, in_ICGET_FIELD_PROMPT_PTR, in_ICGET_FIELD_TAB_SEQ,
    in_ICGET_FIELD_TYPE, in_ICGET_FIELD_VALID, in_ICGET_INDEX, in_ICGET_LAST_INDEX, in_ICGET_MODIFIED,
    in_ICGET_PROGRAM_MODE, in_ICGET_RETURN_FOCUS, in_IGBUTTON_NEW, in_IGBUTTON_NEW_EMPTY, in_IGCHECKBOX_GET,
    in_IGCHECKBOX_NEW, in_IGCOMBO_NEW, in_IGCOMBO_VALIDATE_SET, in_IGDATE_NEW, in_IGEBOX_NEW, in_IGHBOX_NEW,
    in_IGHBOX_NEW_OTHER, in_IGHSEPARATOR_NEW, in_IGIMAGE_NEW, in_IGINPUT_NEW, in_IGLABEL_NEW, in_IGLABEL_SIMPLE_NEW,
    in_IGMENU_SETUP, in_IGNOTE_DELETE_BLOCK_TAG, in_IGNOTE_GET_AMOUNT, in_IGNOTE_GET_BLOCK_TAG, in_IGNOTE_IS_WINDOW,
    in_IGNOTE_NEW, in_IGNOTE_PRINT_BLOCK_TAG, in_IGRADIO_NEW, in_IGSCROLLABLE_NEW, in_IGSIZE_GROUP_NEW,
    in_IGSOFTKEY_BOX, in_IGTABLE_ADD_ROW, in_IGTABLE_DELETE_ROW, in_IGTABLE_NEW, in_IGTABLE_UNATTACHED,
    in_IGTEXT_NEW, in_IGTOGGLE_NEW, in_IGVBOX_NEW, in_IGVSEPARATOR_NEW, in_IGWGET_PARENT, in_IGWIN_NEW,
    in_IGZOOM_SETUP,
    // string
    in_ICGET_FIELD_NAME, in_IGCOMBO_GET, in_IGMENU_KEY,
    // statement
    in_ICINVOKE_DRILL_POST, in_ICINVOKE_FETCH, in_ICINVOKE_WIN_POST, in_ICINVOKE_ZOOM_POST, in_ICSET_ANYCHANGE,
    in_ICSET_FIELD_DES_PTR, in_ICSET_FIELD_ENABLED, in_ICSET_FIELD_ENTRY_PTR, in_ICSET_FIELD_NAME,
    in_ICSET_FIELD_PROMPT_NO, in_ICSET_FIELD_PROMPT_PTR, in_ICSET_FIELD_TAB_SEQ, in_ICSET_FIELD_TYPE,
    in_ICSET_FIELD_VALID, in_ICSET_MODIFIED, in_ICSET_PROGRAM_MODE, in_ICTABLE_BGCOLOUR_CELL_DEFAULT,
    in_ICTABLE_BGCOLOUR_DISPLAY_TABLE, in_ICTABLE_BGCOLOUR_ROW_DEFAULT, in_ICTABLE_BGCOLOUR_SET_CELL,
    in_ICTABLE_BGCOLOUR_SET_ROW, in_ICTABLE_BGCOLOUR_SHOW, in_IDISPLAY_CM, in_IGBUTTON_ADD_LABEL, in_IGCHECKBOX_SET,
    in_IGCOMBO_SET, in_IGCOMBO_TEXT_ADD, in_IGDELETE_WIDGET, in_IGDRILL, in_IGDRILL_SETUP, in_IGEBOX_ADD_LABEL,
    in_IGFILECHOOSER_NEW, in_IGHBOX_PACK, in_IGHIDE, in_IGIMAGECHOOSER_NEW, in_IGIMAGE_PRINT, in_IGLABEL_SETUP,
    in_IGMENU_GET, in_IGMENU_REFRESH, in_IGMENU_RESET, in_IGMENU_SET_BUTTONS, in_IGMENU_SET_SHORTCUT,
    in_IGNOTE_COLLAPSE, in_IGNOTE_DELETE_AMOUNT, in_IGNOTE_EXPAND, in_IGNOTE_GET, in_IGNOTE_PRINT,
    in_IGNOTE_PRINT_AMOUNT, in_IGPRINT, in_IGPRINT_NOT_ESCAPED, in_IGPROGRESS_CREATE, in_IGPROGRESS_DESTROY,
    in_IGPROGRESS_UPDATE, in_IGSHOW, in_IGSIZE_GROUP_ADD, in_IGSIZE_GROUP_FINALISE, in_IGTABLE_ATTACH,
    in_IGTABLE_GET_CELL, in_IGTK_MAIN, in_IGTK_MAIN_ITERATION, in_IGTOOLTIP_SET, in_IGWHIDE, in_IGWIDGET_SET_NAME,
    in_IGWSHOW, in_IGWSIMPLESHOW, in_IGZOOM_RESET, in_INOTE_APPEND_BLOCK_TAG, in_INOTE_APPEND_TEXT,
};

// Intrinsics of the table that no dispatcher serves: EXECUTE and CHAIN (the executor's) and
// those that the language names but the run-time never had.
constexpr int without_case[] = {
    in_EXECUTE, in_CHAIN,
    in_ICHECKVIRUS, in_ILIST_CLONE, in_IMAP_FOLDER_CREATE, in_IMAP_FOLDER_DECLARE, in_IMAP_FOLDER_DELETE,
    in_IMAP_FOLDER_DESTROY, in_IMAP_MAILBOX_DECLARE, in_IMAP_MAILBOX_DESTROY, in_VARIABLE_ARRAY_SIZE,
    in_VARIABLE_EXISTS, in_VARIABLE_LIST_LENGTH, in_VARIABLE_LIST_SEARCH,
    in_PATTERN_SUBST, in_VARIABLE_LIST_ITEM, in_VARIABLE_LIST_JOIN, in_VARIABLE_VALUE,
    in_NEWRUN, in_VARIABLE_DESTROY, in_VARIABLE_GET, in_VARIABLE_LIST_APPEND, in_VARIABLE_LIST_INSERT,
    in_VARIABLE_LIST_REMOVE, in_VARIABLE_LIST_REPLACE, in_VARIABLE_LIST_SORT, in_VARIABLE_SET, in_VARIABLE_SPLIT,
};

enum Kind { NUMERIC, STRING, STATEMENT };

Kind kind_of(int code)
{
    const SymType t = inbuilt[code].F_type;
    if (t == IN_STRING_FN) return STRING;
    if (t == IN_STATEMENT || t == IN_NUMERIC_STATEMENT) return STATEMENT;
    return NUMERIC;
}

template <class Handler> struct Row {
    Handler handler = nullptr;
    unsigned flags = 0;
    Arity arity;  // the intrinsic's, kept when another handler is registered for it
};

template <class Handler> using Table = std::array<Row<Handler>, IN_ROWS>;

template <class Handler> Table<Handler> make_table(Kind kind, std::initializer_list<std::span<const IntrinsicCase<Handler>>> lists)
{
    Table<Handler> t{};
    for (int code = 0; code < in_NULL; ++code)
        if (kind_of(code) == kind) t[code].flags = HAS_CASE;
    for (int code : without_case) t[code].flags = 0;
    for (int code : windows_only) t[code].flags |= WINDOWS;
    for (auto list : lists)
        for (const auto &c : list) {
            t[c.code].handler = c.handler;
            t[c.code].arity = c.arity;
        }
    return t;
}

// Tables are made on first use, so owners may register from static initialisers.
Table<NumericIntrinsic> &numeric_table()
{
    static Table<NumericIntrinsic> t = make_table<NumericIntrinsic>(NUMERIC, {numeric_cases(), list_numeric_cases()});
    return t;
}

Table<StringIntrinsic> &string_table()
{
    static Table<StringIntrinsic> t = make_table<StringIntrinsic>(STRING, {string_cases(), list_string_cases()});
    return t;
}

Table<StatementIntrinsic> &statement_table()
{
    static Table<StatementIntrinsic> t = make_table<StatementIntrinsic>(STATEMENT, {statement_cases()});
    return t;
}

template <class Handler> Handler install(Table<Handler> &t, int code, Handler handler, const char *kind)
{
    if (code < 0 || code >= in_NULL || !(t[code].flags & HAS_CASE))
        g_error("register_%s_intrinsic: %s is not a %s intrinsic that the dispatcher serves", kind,
                code >= 0 && code < IN_ROWS ? inbuilt[code].F_name : std::to_string(code).c_str(), kind);
    Handler previous = t[code].handler;
    t[code].handler = handler;
    return previous;
}

// The row of code when the dispatcher serves it, after the windows-mode refusal; nullptr when
// the code ends in the default stop. A served row without a handler stops here, and so does a
// call with a number of arguments the row does not take (the handler would read past them).
template <class Handler> const Row<Handler> *served(Table<Handler> &t, int code, int nargs)
{
    if (code < 0 || code >= IN_ROWS || !(t[code].flags & HAS_CASE)) return nullptr;
    const Row<Handler> &row = t[code];
    const char *name = inbuilt[code].F_name;
    if ((row.flags & WINDOWS) && Back_ground) {
        // Without the "$" of a string intrinsic: the forms engine's own text for one of them is
        // "ICGET_FIELD_NAME: not in windows mode", and one rule serves every refused row.
        std::string bare(name);
        if (!bare.empty() && bare.back() == '$') bare.pop_back();
        Xerror(208, "%s: not in windows mode", bare.c_str());
    }
    if (!row.handler) Abort("%s not available", name);
    if (nargs < row.arity.min || nargs > row.arity.max) Xerror(200, "%s: wrong number of arguments (%d)", name, nargs);
    return &row;
}

} // namespace

NumericIntrinsic register_numeric_intrinsic(int code, NumericIntrinsic handler)
{
    return install(numeric_table(), code, handler, "numeric");
}

StringIntrinsic register_string_intrinsic(int code, StringIntrinsic handler)
{
    return install(string_table(), code, handler, "string");
}

StatementIntrinsic register_statement_intrinsic(int code, StatementIntrinsic handler)
{
    return install(statement_table(), code, handler, "statement");
}

int r_intrins(Stack *result, int code, int nargs, int last)
{
    result->s_c.C_N = &result->num;
    const Row<NumericIntrinsic> *row = served(numeric_table(), code, nargs);
    if (!row) Abort("Bad real function intrinsic code - %d", code);
    row->handler(nargs, last, result);
    result->s_t = real;
    result->s_c.C_N = &result->num;
    result->flags = 0;
    return 0;
}

int s_intrins(Stack *result, int code, int nargs, int last)
{
    result->s_t = intrinsic;
    result->s_c.C_A = static_cast<Address>(code);
    result->flags = 0;
    const Row<StringIntrinsic> *row = served(string_table(), code, nargs);
    if (!row) Abort("Bad string intrinsic code - %d", code);
    row->handler(nargs, last, result);
    if (result->s_t == string) {
        result->s_dims[0] = result->length;
        result->s_dims[1] = 0;
    }
    return 0;
}

int c_intrins(int code, int nargs, int last)
{
    const Row<StatementIntrinsic> *row = served(statement_table(), code, nargs);
    if (!row) Abort("Bad c-intrinsic code - %d", code);
    row->handler(nargs, last);
    return 0;
}
