// The image field: IGIMAGE_NEW (a field, or a plain image), IGIMAGE_PRINT (a picture's thumbnail
// when it has one), gimage_update (also the clearing of the field) and the image kind's rows.
#include "gimage.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <unistd.h>
#include <vector>

#include "cases.h"
#include "cattach.h"
#include "cfield.h"
#include "cmatrix.h"
#include "gchooser.h"
#include "gmisc.h"
#include "gwidget.h"
#include "handles.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"
#include "shared_files.h"
#include "signals.h"

namespace {

using intr::arg;

image_data *image_of(const void *record) { return static_cast<image_data *>(const_cast<void *>(record)); }

// The themed icon of picture codes 1 to 5, else nullptr.
const char *icon_of(int code)
{
    static const char *const icons[] = {"object-select", "window-close", "list-add", "process-stop", "document-print"};
    return code >= 1 && code <= 5 ? icons[code - 1] : nullptr;
}

std::string place_holder() { return std::string(PPATH ? PPATH : PPATH_ROOT) + "/graphics/place_Image.png"; }

// A picture bigger than the application area cannot show whole in any window, so a picture
// without a size of its own is loaded at most this big; before the area is known, at the area's
// launch size.
constexpr int DEFAULT_AREA_WIDTH = 1010, DEFAULT_AREA_HEIGHT = 630;

struct Bounds {
    int width, height;
};

// The most a picture of the field may take: its size request when it has one, else the area.
Bounds picture_bounds(int width, int height)
{
    if (width > 0 && height > 0) return {width, height};
    if (global_data && global_data->oae_app_width > 0 && global_data->oae_app_height > 0)
        return {global_data->oae_app_width, global_data->oae_app_height};
    return {DEFAULT_AREA_WIDTH, DEFAULT_AREA_HEIGHT};
}

// Scales a picture larger than the bounds down into them, keeping its proportions, as the loader
// tells its size.
void fit_into(GdkPixbufLoader *loader, int width, int height, gpointer data)
{
    const Bounds most = *static_cast<const Bounds *>(data);
    if (width <= 0 || height <= 0 || (width <= most.width && height <= most.height)) return;
    const double w = width, h = height;
    if (h * most.width > w * most.height) {
        width = static_cast<int>(0.5 + w * most.height / h);
        height = most.height;
    } else {
        height = static_cast<int>(0.5 + h * most.width / w);
        width = most.width;
    }
    gdk_pixbuf_loader_set_size(loader, std::max(width, 1), std::max(height, 1));
}

// A picture file, or nullptr when it cannot be read. A picture larger than the bounds is loaded
// scaled down into them: a huge file must not stay in memory whole. The file is read through a
// descriptor of ours, so below a shared directory only a picture of our own (or root's) shows.
GdkPixbuf *load(const std::string &file, Bounds most)
{
    const int fd = open_to_read(file.c_str());
    if (fd < 0) return nullptr;
    GdkPixbufLoader *loader = gdk_pixbuf_loader_new();
    g_signal_connect(loader, "size-prepared", G_CALLBACK(fit_into), &most);
    std::vector<guchar> block(64 * 1024);
    bool written = true;  // a loader that refuses what it is given has closed itself
    ssize_t n;
    do {
        n = read(fd, block.data(), block.size());
        if (n > 0) written = gdk_pixbuf_loader_write(loader, block.data(), static_cast<gsize>(n), nullptr);
    } while (written && (n > 0 || (n < 0 && interrupted(errno))));
    close(fd);
    const bool ok = written && gdk_pixbuf_loader_close(loader, nullptr) && n == 0;
    GdkPixbuf *pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf) g_object_ref(pixbuf);
    g_object_unref(loader);
    return pixbuf;
}

// A GtkImage draws every picture at its icon size; a GtkPicture shows it at its own size. It
// does not shrink below it: a picture is loaded no larger than the application area.
GtkWidget *picture_widget()
{
    GtkWidget *picture = gtk_picture_new();
    gtk_picture_set_can_shrink(GTK_PICTURE(picture), FALSE);
    gtk_picture_set_content_fit(GTK_PICTURE(picture), GTK_CONTENT_FIT_CONTAIN);
    return picture;
}

// Shows the picture, or nothing for none.
void show_pixbuf(GtkWidget *picture, GdkPixbuf *pixbuf)
{
    gtk_picture_set_pixbuf(GTK_PICTURE(picture), pixbuf);
}

// Shows the themed icon at the normal icon size; a theme that has only its symbolic form gives that.
void show_icon(GtkWidget *picture, const char *icon)
{
    GtkIconTheme *theme = gtk_icon_theme_get_for_display(gtk_widget_get_display(picture));
    const std::string symbolic = std::string(icon) + "-symbolic";
    const char *fallbacks[] = {symbolic.c_str(), nullptr};
    GtkIconPaintable *paintable =
        gtk_icon_theme_lookup_icon(theme, icon, fallbacks, 16, 1, GTK_TEXT_DIR_NONE, GtkIconLookupFlags(0));
    gtk_picture_set_paintable(GTK_PICTURE(picture), GDK_PAINTABLE(paintable));
    g_object_unref(paintable);
}

// A picture argument: a number is a code, a text longer than 4 characters a file, a shorter text
// the place-holder (code 0).
struct Picture {
    int code = 0;
    std::string file;
};
Picture picture_argument(const Stack &entry, const char *wrong_type)
{
    if (intr::is_number(entry)) return {intr::integer(entry), {}};
    if (!intr::is_text(entry)) Abort("%s", wrong_type);
    // Program texts come padded with blanks; no file name ends in one.
    std::string text(intr::text(entry));
    text.resize(text.find_last_not_of(' ') + 1);
    if (text.size() > 4) return {0, text};
    return {};
}

// The field an argument names: its index, or the row of that name.
int field_index(ControlMatrix_t *cm, const Stack &entry)
{
    if (intr::is_number(entry)) return intr::integer(entry);
    if (!intr::is_text(entry)) Abort("Invalid data type to second parameter");
    std::string name(intr::text(entry));
    name.resize(name.find_last_not_of(' ') + 1);
    return cset_cm_get_index(cm, CM_NAME, name, 1);
}

image_data *checked_record(void *entry, int line)
{
    if (!entry || handle_kind(entry) != CM_FIELD_TYPE_GIMAGE)
        assertion_failed(__FILE__, line, "image_data->type == CM_FIELD_TYPE_GIMAGE");
    return image_of(entry);
}

void apply_size(const image_data *r)
{
    if (r->width > 0 && r->height > 0) gtk_widget_set_size_request(r->image, r->width, r->height);
}

// Shows the picture (taking over the reference passed in) or the icon; the record keeps a reference
// to the picture in place of the one it had.
void show_picture(image_data *r, GdkPixbuf *picture, const char *icon)
{
    if (icon)
        show_icon(r->image, icon);
    else
        show_pixbuf(r->image, picture);
    if (r->picture) g_object_unref(r->picture);
    r->picture = picture;
}

// ---- The rows of the image kind ---------------------------------------------------------------------------

void free_image(void *record)
{
    image_data *r = image_of(record);
    if (r->picture) g_object_unref(r->picture);
    r->picture = nullptr;
}
int owns_image(const void *record, const GtkWidget *widget)
{
    const image_data *r = image_of(record);
    return widget && (widget == r->button || widget == r->image || widget == r->frame);
}
GtkWidget *placed(const void *record)
{
    const image_data *r = image_of(record);
    return r->frame ? r->frame : r->button;
}
GtkWidget *button_of(const void *record) { return image_of(record)->button; }
int *index_of(void *record) { return &image_of(record)->index; }
void set_sensitive_image(ControlMatrix_t *, int, void *record, int, int enabled)
{
    gtk_widget_set_sensitive(image_of(record)->button, enabled != 0);
}
void destroy_image(void *record)
{
    image_data *r = image_of(record);
    oska_widget_destroy(r->button);
    if (r->frame) oska_widget_destroy(r->frame);
}
void set_name_image(void *record, const char *name)
{
    image_data *r = image_of(record);
    if (r->frame) gtk_widget_set_name(r->frame, name);
    gtk_widget_set_name(r->image, name);
}

char *value_image(ControlMatrix_t *, int, void *, int *, char **, int *) { return nullptr; }
int validate_image(ControlMatrix_t *, int, void *) { return 1; }
void pre_display_image(ControlMatrix_t *, int, void *entry)
{
    gtk_widget_grab_focus(checked_record(entry, __LINE__)->button);
}
void no_display_change(ControlMatrix_t *, int, void *) {}
GtkWidget *focus_image(ControlMatrix_t *, int, void *entry) { return checked_record(entry, __LINE__)->button; }
void clear_image(ControlMatrix_t *cm, int index, void *) { gimage_update(cm, index, 0, nullptr); }

} // namespace

void gimage_update(ControlMatrix_t *cm, int index, int code, const char *file)
{
    image_data *r = checked_record(cset_cm_get_ptr(cm, CM_ENTRY_PTR, index), __LINE__);
    const Bounds most = picture_bounds(r->width, r->height);
    if (file) {
        mlog(3, "%s: image update from file: %s", "gimage_update", file);
        show_picture(r, load(file, most), nullptr);
    } else if (const char *icon = icon_of(code)) {
        show_picture(r, nullptr, icon);
    } else {
        show_picture(r, load(place_holder(), most), nullptr);
    }
    apply_size(r);
    oska_widget_show(r->button);
}

void igimage_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 4 && nargs != 7) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("No Process Control Matrix found");
    const int index = field_index(cm, arg(nargs, last, 1));
    const int field = intr::integer(arg(nargs, last, 2));
    if (field != 0 && field != 1) Abort("Invalid value %d to third parameter", field);
    const Picture picture = picture_argument(arg(nargs, last, 3), "Invalid data type to fourth parameter");
    int width = 0, height = 0;
    if (nargs == 7) {
        width = intr::integer(arg(nargs, last, 4));
        height = intr::integer(arg(nargs, last, 5));
    }
    const char *icon = picture.file.empty() ? icon_of(picture.code) : nullptr;
    GdkPixbuf *pixbuf =
        icon ? nullptr : load(picture.file.empty() ? place_holder() : picture.file, picture_bounds(width, height));

    if (!field) {
        GtkWidget *image = icon ? gtk_image_new_from_icon_name(icon) : picture_widget();
        if (icon)
            gtk_image_set_icon_size(GTK_IMAGE(image), GTK_ICON_SIZE_NORMAL);
        else
            show_pixbuf(image, pixbuf);
        if (pixbuf) g_object_unref(pixbuf);
        oska_widget_show(image);
        gwidget_give(result, image);
        return;
    }
    SubControlMatrix_t *scm = cutil_cp_stack(cm, nullptr, 0, index, AC_IMAGE_SETUP, nullptr, nullptr, 1);
    image_data *r = image_of(cutil_new_setup(scm, CM_FIELD_TYPE_GIMAGE, sizeof(image_data)));
    r->cm = cm;
    r->index = index;
    r->image = picture_widget();
    r->picture = pixbuf;
    r->button = gtk_button_new();
    gtk_button_set_child(GTK_BUTTON(r->button), r->image);
    r->width = width;
    r->height = height;
    gfield_connect(r->button, "gimage-button", "gimage");
    apply_size(r);
    oska_widget_show(r->button);
    gwidget_give_record(result, r);
}

void igimage_print(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 3) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("No Process Control Matrix found");
    const int index = field_index(cm, arg(nargs, last, 1));
    const Picture picture = picture_argument(arg(nargs, last, 2), "Invalid data type to third parameter");
    if (picture.file.empty()) {
        gimage_update(cm, index, picture.code, nullptr);
        return;
    }
    checked_record(cset_cm_get_ptr(cm, CM_ENTRY_PTR, index), __LINE__);
    std::string shown;
    gimagechooser_get_thumbnail(picture.file.c_str(), &shown);
    gimage_update(cm, index, 0, shown.c_str());
}

void gimage_register_kind()
{
    register_field_kind({
        .kind = CM_FIELD_TYPE_GIMAGE,
        .type = WIDGET_IMAGE,
        .record = {
            .free = free_image,
            .owns = owns_image,
            .principal = placed,
            .own_index = index_of,
            .set_sensitive = set_sensitive_image,
        },
        .behaviour = {
            .value = value_image,
            .validate = validate_image,
            .pre_display = pre_display_image,
            .post_display = no_display_change,
            .display_init = no_display_change,
            .focus_widget = focus_image,
            .clear = clear_image,
        },
        .intrinsics = {
            .packed = placed,
            .tooltip = button_of,
            .destroy = destroy_image,
            .set_name = set_name_image,
        },
    });
}
