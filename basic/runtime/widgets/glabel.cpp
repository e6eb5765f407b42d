// Labels: IGLABEL_NEW (a plain label or a label field), IGLABEL_SETUP, IGLABEL_SIMPLE_NEW, the
// cleaning of mark-up, the label formats of numbers, and the label kind's rows.
#include "glabel.h"

#include <cstring>
#include <string>

#include "cases.h"
#include "cattach.h"
#include "cfield.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "handles.h"
#include "gwidget.h"
#include "kinds.h"
#include "message.h"

namespace {

using intr::arg;

clabel_data *label_of(const void *record) { return static_cast<clabel_data *>(const_cast<void *>(record)); }

bool starts_ci(const char *text, const char *prefix) { return g_ascii_strncasecmp(text, prefix, std::strlen(prefix)) == 0; }

// The simple inline tags that reach the toolkit (the text after "<" and an optional "/").
bool check_tag(const char *t)
{
    for (const char *tag : {"span", "big>", "b>", "i>", "s>", "sub>", "sup>", "small>", "tt>", "u>"})
        if (starts_ci(t, tag)) return true;
    return false;
}

// Tags that stand for a line break.
bool cr_tag(const char *t) { return starts_ci(t, "/p") || starts_ci(t, "br"); }

// The field an argument names: its index, or the row of that name.
int field_index(ControlMatrix_t *cm, const Stack &entry)
{
    if (intr::is_number(entry)) return intr::integer(entry);
    if (!intr::is_text(entry)) Abort("Invalid data type to second parameter");
    std::string name(intr::text(entry));
    name.resize(name.find_last_not_of(' ') + 1);
    return cset_cm_get_index(cm, CM_NAME, name, 1);
}

double real_of(const Stack &entry)
{
    double d = 0;
    NumericToDBL(intr::number(entry), &d);
    return d;
}

// A format type argument, checked and without its trailing blanks.
std::string format_of(const Stack &entry)
{
    std::string f(intr::text(entry));
    f.resize(f.find_last_not_of(' ') + 1);
    if (!glabel_format_valid(f)) Abort("Format Type '%s' to iglabel_setup is invalid", f.c_str());
    if (f.size() > CM_LABEL_TYPE_SIZE - 1) Abort("Label field type exceeds array length");
    return f;
}

// The settings a label is made with.
struct LabelLook {
    double alignment;
    int width;                 // characters
    int wrap;
    int pixel_width, pixel_height;  // 0 or less: none
    int x_padding = 0, y_padding = 0;
};

GtkWidget *make_label(const char *markup, const LabelLook &look)
{
    GtkWidget *label = gtk_label_new(nullptr);
    oska_label_set_markup(label, markup);
    gtk_label_set_xalign(GTK_LABEL(label), static_cast<float>(look.alignment));
    gtk_label_set_yalign(GTK_LABEL(label), 0.5f);
    if (!look.wrap) {
        gtk_label_set_max_width_chars(GTK_LABEL(label), look.width);
        // A text longer than its width ends in an ellipsis rather than widen the form.
        if (look.width > 0) oska_label_ellipsize(label);
    } else if (look.pixel_width > 0 || look.pixel_height >= 1) {
        gtk_widget_set_size_request(label, look.pixel_width > 0 ? look.pixel_width : -1,
                                    look.pixel_height >= 1 ? look.pixel_height : -1);
    } else {
        gtk_label_set_width_chars(GTK_LABEL(label), look.width);
        if (look.width > 0) gtk_label_set_max_width_chars(GTK_LABEL(label), look.width);
    }
    if (look.x_padding > 0 || look.y_padding >= 1) {
        gtk_widget_set_margin_start(label, look.x_padding);
        gtk_widget_set_margin_end(label, look.x_padding);
        gtk_widget_set_margin_top(label, look.y_padding);
        gtk_widget_set_margin_bottom(label, look.y_padding);
    }
    gtk_label_set_wrap(GTK_LABEL(label), look.wrap != 0);
    gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    return label;
}

void check_record(const void *record, int line)
{
    if (!record || handle_kind(record) != CM_FIELD_TYPE_GLABEL)
        assertion_failed(__FILE__, line, "clabel_data->type == CM_FIELD_TYPE_GLABEL");
}

// ---- The rows of the label kind --------------------------------------------------------------------------

int owns_label(const void *record, const GtkWidget *widget)
{
    return widget && (widget == label_of(record)->label || widget == label_of(record)->frame);
}
GtkWidget *gtk_label_of(const void *record) { return label_of(record)->label; }
GtkWidget *placed(const void *record)
{
    const clabel_data *r = label_of(record);
    return r->frame ? r->frame : r->label;
}
int *index_of(void *record) { return &label_of(record)->index; }
void set_sensitive_label(ControlMatrix_t *cm, int index, void *record, int, int enabled)
{
    // A label that takes no clicks cannot take the focus either.
    if (!label_of(record)->clickable && cset_cm_get_int(cm, CM_TAB_SEQ, index) != TAB_NO_FOCUS)
        Abort("The Tab Squence Type for field Index %d must be Display Only for Label in Entry field with background "
              "colouring flag false",
              index);
    gtk_widget_set_sensitive(label_of(record)->label, enabled != 0);
}
void destroy_label(void *record)
{
    clabel_data *r = label_of(record);
    oska_widget_destroy(r->label);
    if (r->frame) oska_widget_destroy(r->frame);
}
void set_name_label(void *record, const char *name) { gtk_widget_set_name(label_of(record)->label, name); }
const char *format_label(const void *record) { return label_of(record)->format_type; }

char *value_label(ControlMatrix_t *, int, void *, int *, char **, int *) { return nullptr; }
int validate_label(ControlMatrix_t *, int, void *) { return 1; }
void pre_display_label(ControlMatrix_t *, int, void *entry)
{
    if (handle_kind(entry) == CM_FIELD_TYPE_GLABEL) gtk_widget_grab_focus(label_of(entry)->label);
}
void no_display_change(ControlMatrix_t *, int, void *) {}
GtkWidget *focus_label(ControlMatrix_t *, int, void *entry)
{
    return handle_kind(entry) == CM_FIELD_TYPE_GLABEL ? label_of(entry)->label : static_cast<GtkWidget *>(entry);
}
void clear_label(ControlMatrix_t *, int, void *entry) { glabel_clear(entry); }

} // namespace

void sanitise_markup(char *text)
{
    char *out = text;
    const char *in = text;
    while (*in) {
        if (*in != '<') {
            *out++ = *in++;
            continue;
        }
        const char *after = in + 1;
        const char *end = std::strchr(after, '>');
        const char *next = end ? end + 1 : after + std::strlen(after);
        if (check_tag(*after == '/' ? after + 1 : after)) {
            while (in < next) *out++ = *in++;
        } else {
            if (cr_tag(after)) *out++ = '\n';
            in = next;
        }
    }
    *out = '\0';
}

bool glabel_format_valid(std::string_view format)
{
    if (format.empty()) return true;
    std::string_view rest = format.substr(1);
    // A single digit may end each form.
    if (!rest.empty() && rest.back() >= '0' && rest.back() <= '9') rest.remove_suffix(1);
    if (format[0] == 'm') return rest.empty() || rest == "+";
    if (format[0] == 'n') return rest.empty() || rest == "+" || rest == "+," || rest == ",";
    return false;
}

void glabel_clear(void *record)
{
    check_record(record, __LINE__);
    gtk_label_set_text(GTK_LABEL(label_of(record)->label), "");
}

void iglabel_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 7 && nargs != 9 && nargs != 11 && nargs != 12 && nargs != 13)
        Abort("May have seven, nine, eleven, twelve, or thirteen parameters");
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("Must set the Process Control Matrix first");
    const int index = field_index(cm, arg(nargs, last, 1));
    const int field = intr::integer(arg(nargs, last, 2));
    if (field != 0 && field != 1) Abort("Invalid value %d to third parameter", field);
    const int clickable = intr::integer(arg(nargs, last, 3));
    if (clickable != 0 && clickable != 1) Abort("Invalid value %d to fourth parameter", clickable);
    std::string text(intr::text(arg(nargs, last, 4)));
    LabelLook look{real_of(arg(nargs, last, 5)), intr::integer(arg(nargs, last, 6)), 0, 0, 0};
    if (nargs >= 9) {
        look.x_padding = intr::integer(arg(nargs, last, 7));
        look.y_padding = intr::integer(arg(nargs, last, 8));
        if (look.x_padding < 0) Abort("X Padding %d must not be less than zero", look.x_padding);
        if (look.y_padding < 0) Abort("Y Padding %d must not be less than zero", look.y_padding);
    }
    std::string format;
    if (nargs >= 11) {
        look.wrap = intr::integer(arg(nargs, last, 9));
        if (look.wrap != 0 && look.wrap != 1) Abort("wrap %d must be true or false", look.wrap);
        format = format_of(arg(nargs, last, 10));
    }
    if (nargs >= 12) look.pixel_width = intr::integer(arg(nargs, last, 11));
    if (nargs >= 13) look.pixel_height = intr::integer(arg(nargs, last, 12));

    sanitise_markup(text.data());
    text.resize(std::strlen(text.c_str()));
    GtkWidget *label = make_label(text.c_str(), look);
    mlog(2, "Do iglabel_new; Index = %d; Text = '%s'; Alignment = %0.1f; Width = %d", index, text.c_str(),
         look.alignment, look.width);
    if (!field) {
        oska_widget_show(label);
        gwidget_give(result, label);
        return;
    }
    SubControlMatrix_t *scm = cutil_cp_stack(cm, nullptr, 0, index, AC_LABEL_SETUP, nullptr, nullptr, 1);
    clabel_data *r = label_of(cutil_new_setup(scm, CM_FIELD_TYPE_GLABEL, sizeof(clabel_data)));
    r->cm = cm;
    r->index = index;
    g_strlcpy(r->format_type, format.c_str(), sizeof r->format_type);
    r->label = label;
    r->clickable = clickable;
    if (clickable) {
        // Clicks and keys reach a label only when it can take the focus.
        gtk_widget_set_focusable(label, TRUE);
        gfield_connect(label, "glabel-button", "glabel");
    }
    oska_widget_show(label);
    gwidget_give_record(result, r);
}

void iglabel_setup(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 3) Abort("Must have three parameters");
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("Must set the Process Control Matrix first");
    const int index = field_index(cm, arg(nargs, last, 1));
    void *record = glabel_get_type(cm, index);
    check_record(record, __LINE__);
    const std::string format = format_of(arg(nargs, last, 2));
    g_strlcpy(label_of(record)->format_type, format.c_str(), CM_LABEL_TYPE_SIZE);
    mlog(2, "Do iglabel_setup; Index = %d; Type = %s", index, format.c_str());
}

void iglabel_simple_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs < 3 || nargs > 6) Abort("May have three, four, five, or six parameters; and not %d", nargs);
    const std::string markup(intr::text(arg(nargs, last, 0)));
    LabelLook look{real_of(arg(nargs, last, 1)), intr::integer(arg(nargs, last, 2)), 0, 0, 0};
    if (nargs >= 4) {
        look.wrap = intr::integer(arg(nargs, last, 3));
        if (look.wrap != 0 && look.wrap != 1) Abort("Wrap %d must be true or false", look.wrap);
    }
    if (nargs >= 5) look.pixel_width = intr::integer(arg(nargs, last, 4));
    if (nargs >= 6) look.pixel_height = intr::integer(arg(nargs, last, 5));
    GtkWidget *label = make_label(markup.c_str(), look);
    oska_widget_show(label);
    gwidget_give(result, label);
}

void glabel_register_kind()
{
    register_field_kind({
        .kind = CM_FIELD_TYPE_GLABEL,
        .type = WIDGET_LABEL,
        .record = {
            .owns = owns_label,
            .principal = placed,
            .own_index = index_of,
            .set_sensitive = set_sensitive_label,
            .label = gtk_label_of,
        },
        .behaviour = {
            .value = value_label,
            .validate = validate_label,
            .pre_display = pre_display_label,
            .post_display = no_display_change,
            .display_init = no_display_change,
            .focus_widget = focus_label,
            .clear = clear_label,
        },
        .intrinsics = {
            .packed = placed,
            .tooltip = gtk_label_of,
            .text = gtk_label_of,
            .destroy = destroy_label,
            .set_name = set_name_label,
            .format = format_label,
        },
    });
}
