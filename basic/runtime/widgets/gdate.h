// The date field: a single-line GtkText holding a day, month and year in a fixed mask. Every key
// goes through the field's own rules, which write digits into the mask, refuse impossible days
// and months as they are typed and step the cursor over the slashes; GTK's own editing is
// stopped. Years have two or four digits, fixed per field. The value has three forms:
//   editing form (while the field has the focus)  DD/MM/YY or DD/MM/YYYY  "  /  /  " when empty
//   display form (when it has not)                DDMonYY or DDMonYYYY    7 or 9 blanks
//   stored form (what routines get)               YYYY-MM-DD              10 blanks
// Two-digit years stand for 1970..2069: a first digit of 7, 8 or 9 reads as 19.., any other as
// 20..; a year outside that range shows "**" for its two digits. An unknown month shows "***"
// in the display form and "**" in the others.
#pragma once

#include <gtk/gtk.h>
#include <string>
#include <string_view>

#include "forms.h"

struct Stack;

// The field record (kind CM_FIELD_TYPE_GDATE, internal code 102), owned by its attachment.
struct date_data {
    int type;
    int year_digits;    // 2 or 4
    GtkWidget *entry;   // the GtkText
};

// ---- Forms of a date (no display needed) ---------------------------------------------------------------

// The stored form of a text in the editing or display form (gdate_read_widget's reading).
std::string gdate_stored_form(std::string_view text, int year_digits);
// The editing form of a text in the display form; a text in the editing form stays as it is.
std::string gdate_editing_form(std::string_view text, int year_digits);
// The display form of a stored-form value; a value of fewer than ten characters that is not
// blank ends the run ("Unexpected date format '%s' was expecting at least ten characters").
std::string gdate_display_form(std::string_view stored, int year_digits);
// The buffer (size bytes) holding a stored-form date receives its editing form; a result that does
// not fit ends the run ("gdate_format_display3 buffer overflow").
void gdate_format_display3(char *buffer, int size, int year_digits);
// The Enter check of a stored-form value: empty when it is blank or a valid date, else the
// message (ending "DD/MM/YY" for two-digit years).
std::string gdate_check(std::string_view stored, int year_digits);

// What one key does to the editing-form text with the cursor at a position (0 .. year digits + 6).
struct DateKey {
    std::string text;     // the text afterwards
    int cursor;           // the cursor afterwards
    const char *bell;     // the bell's caller text when the key is refused, else nullptr
    bool consumed;        // true only for the up and down keys
};
// Tab, Return, Escape, keypad Enter and F1..F12 must have been handled by the forms engine
// first: they end the run ("gdate_on_key_press: Should not get here. ...").
DateKey gdate_key(std::string_view text, int cursor, guint keyval, int year_digits);

// ---- The field ------------------------------------------------------------------------------------------

// The entry's value in the stored form.
std::string gdate_read_widget(GtkWidget *entry, int year_digits);
// Editing begins: the display form becomes the editing form, cursor at 0, nothing selected.
void gdate_display_input(GtkWidget *entry, int year_digits);
// Editing ends: the editing form becomes the display form.
void gdate_format_display2(ControlMatrix_t *cm, int index);
// A key on the focused date field (from the forms engine's key handler); true only for the up and
// down keys, which it consumes.
gboolean gdate_on_key_press(ControlMatrix_t *cm, int index, guint keyval, GlobalData_t *gd);
// Enter validation: true when the date is blank or valid; otherwise rings the bell, shows the
// message as an error and answers false.
gboolean gdate_val_return_press(GtkWidget *entry, GlobalData_t *gd, int year_digits);
// Replaces the entry's text without GTK's editing being stopped.
void gdate_write_text(GtkWidget *entry, GlobalData_t *gd, const char *text);

// The rows of the date kind in the forms engine's and the widgets' tables.
void gdate_register_kind();

// IGDATE_NEW
void igdate_new(int nargs, int last, Stack *result);
