// IGFILECHOOSER_NEW and IGIMAGECHOOSER_NEW: the modal open-file dialog confined to a top
// directory, its folder guard and its answer, which runs the field's Post_File_Chooser or
// Post_Image_Chooser routine with the chosen path as IP$.
//
// GTK 4 tells nobody when the dialog's folder changes, so the guard looks every 150 ms while the
// dialog is open and brings a folder outside the top directory back to it. Inside means inside by
// whole path components once links are resolved: a sibling "img2" is not inside "img".
#include <cstdlib>
#include <cstring>
#include <string>

#include "cases.h"
#include "ccallback.h"
#include "cevents.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "cnext.h"
#include "gchooser.h"
#include "gmisc.h"
#include "gprint.h"
#include "gwidget.h"
#include "message.h"
#include "misc.h"

namespace {

using intr::arg;

constexpr guint GUARD_INTERVAL_MS = 150;

// The real path of an existing name, else empty.
std::string real_path(const char *path)
{
    char *real = realpath(path, nullptr);
    if (!real) return {};
    std::string s = real;
    std::free(real);
    return s;
}

std::string stripped(const Stack &entry)
{
    std::string s(intr::text(entry));
    gprint_strip(s.data());
    s.resize(std::strlen(s.c_str()));
    return s;
}

// A directory argument: refused when empty, its trailing "/" dropped; false (after the warning)
// when it is no directory.
bool directory_argument(std::string &dir, const char *empty_message, const char *missing_format)
{
    if (dir.empty()) Abort("%s", empty_message);
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (ufexists1(dir.c_str()) == 2) return true;
    mmessage(1, missing_format, dir.c_str());
    return false;
}

void free_chooser(gpointer data)
{
    auto *c = static_cast<ChooserData *>(data);
    if (c->guard) g_source_remove(c->guard);
    g_free(c->top);
    delete c;
}

// The folder guard: a current folder outside the top directory goes back to the top.
gboolean guard_folder(gpointer data)
{
    auto *c = static_cast<ChooserData *>(data);
    GFile *folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(c->dialog));
    if (!folder) return G_SOURCE_CONTINUE;
    char *path = g_file_get_path(folder);
    g_object_unref(folder);
    if (path && !gchooser_inside(c->top_real, path)) {
        GFile *top = g_file_new_for_path(c->top);
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(c->dialog), top, nullptr);
        g_object_unref(top);
    }
    g_free(path);
    return G_SOURCE_CONTINUE;
}

// The chooser's answer: with OK and a file, the routine of the field's action code.
void respond(GtkDialog *dialog, int response, bool image)
{
    const auto *c = static_cast<const ChooserData *>(g_object_get_data(G_OBJECT(dialog), "chooser"));
    ControlMatrix_t *cm = c->cm;
    const int index = c->index;
    std::string name;
    if (response == GTK_RESPONSE_OK) {
        if (GFile *file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog))) {
            char *parse_name = g_file_get_parse_name(file);
            name = parse_name;
            g_free(parse_name);
            g_object_unref(file);
        }
    }
    oska_widget_destroy(GTK_WIDGET(dialog));  // frees the ChooserData
    if (name.empty()) return;
    // The window may have gone while the dialog was open.
    if (!cm_chain_position(cm)) {
        mlog(0, "Selected File: '%s' for a window that has closed", name.c_str());
        return;
    }
    const RoutineName routine_name(image ? "gimagechooser_dialog_response" : "filechooser_dialog_response");
    if (!image) ccursor_set_busy(cm, 0);
    mlog(0, "Selected File: '%s'", name.c_str());
    ControlMatrix_t *out = cm;
    int at = index, closing = 0;
    char *text = nullptr;
    cinvoke_basic_routine(cm, &out, image ? AC_POST_IMAGE_CHOOSER : AC_POST_FILE_CHOOSER, &at, nullptr, global_data,
                          "IP$", name.c_str(), 0, 1, &text, &closing, 0);
    g_free(text);
    if (image) {
        if (closing) cdeletewin(cm, global_data);
        return;
    }
    ccursor_set_standard(cm);
    if (closing) Abort("Not permitted to destroy a window in the function attached with the File_Chooser Action Code");
    ccallbacks_finish_event(1, 1);
}

void on_file_response(GtkDialog *dialog, int response, gpointer)
{
    forms_callback([&] { respond(dialog, response, false); });
}

void on_image_response(GtkDialog *dialog, int response, gpointer)
{
    forms_callback([&] { respond(dialog, response, true); });
}

// Both intrinsics: the checks, then the dialog.
void chooser_new(int nargs, int last, bool image)
{
    FORMS_TRACE;
    if (nargs != (image ? 7 : 6)) Abort("Wrong number of parameters %d", nargs);
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("No Process Control Matrix found");
    const int index = intr::integer(arg(nargs, last, 1));
    const std::string title = stripped(arg(nargs, last, 2));
    std::string top = stripped(arg(nargs, last, 3));
    std::string initial = stripped(arg(nargs, last, 4));
    const std::string type = stripped(arg(nargs, last, 5));
    if (!directory_argument(top, "Must specify a top level directory to constrain file selection",
                            "Top level directory for choosing an Image does not exist at: %s"))
        return;
    if (!directory_argument(initial, "Must specify an initial directory",
                            "Initial directory for choosing an Image does not exist at: %s"))
        return;
    if (type != "*") Abort("File Type '%s' must be '*'", type.c_str());
    if (image) {
        const int flag = intr::integer(arg(nargs, last, 6));
        if (flag != 0 && flag != 1) Abort("Flag for creation of chooser thumbnails must be true or false; not %d", flag);
    }
    const std::string top_real = real_path(top.c_str());
    if (top_real.empty() || !gchooser_inside(top_real, initial.c_str()))
        Abort("The initial directory must be a subdirectory of the top directory");

    GtkWindow *parent = cm_real_window(cm);
    GtkWidget *dialog = gtk_file_chooser_dialog_new(title.c_str(), parent, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                                    GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_OK, nullptr);
    if (image) {
        GtkFileFilter *filter = gtk_file_filter_new();
        gtk_file_filter_add_mime_type(filter, "image/*");
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
        g_object_unref(filter);
    }
    auto *c = new ChooserData{cm, index, dialog, g_strdup(top.c_str()), top_real, 0};
    g_object_set_data_full(G_OBJECT(dialog), "chooser", c, free_chooser);
    g_signal_connect(dialog, "response", G_CALLBACK(image ? on_image_response : on_file_response), nullptr);
    c->guard = g_timeout_add(GUARD_INTERVAL_MS, guard_folder, c);
    GFile *folder = g_file_new_for_path(initial.c_str());
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), folder, nullptr);
    g_object_unref(folder);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
    if (parent) gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
    gtk_widget_show(dialog);
    oska_window_activate_focus(dialog);
}

} // namespace

bool gchooser_inside(const std::string &top_real, const char *path)
{
    const std::string real = real_path(path);
    if (real.empty() || top_real.empty()) return false;
    if (real.compare(0, top_real.size(), top_real) != 0) return false;
    // The next character must end a component: "img2" does not lie in "img".
    return real.size() == top_real.size() || top_real == "/" || real[top_real.size()] == '/';
}

void igfilechooser_new(int nargs, int last) { chooser_new(nargs, last, false); }

void igimagechooser_new(int nargs, int last) { chooser_new(nargs, last, true); }
