// The menu screen's widgets: the window's default size, the header (code, title, version and
// site, the logo and the thought of the day of the site program PPATH/bin/crumb), the grid of
// three columns by twenty rows, the footer (button groups, the selection entry and the short-cut
// label), and the redraw that turns the tree and its selected path into cell texts and styles.
#include "gmenu.h"

#include <cstring>
#include <ctime>
#include <string>

#include "child_signals.h"
#include "cmatrix.h"
#include "cutil.h"
#include "gmisc.h"
#include "misc.h"
#include "message.h"
#include "run_time.h"

namespace {

constexpr int MENU_WIDTH = 1014, MENU_HEIGHT = 680;
constexpr int LOGO_WIDTH = 175, LOGO_HEIGHT = 50;
constexpr int PATH_LIMIT = 256;  // thought commands and logo paths are shorter
// The fixed part of a selected cell's mark-up with its two-digit number, and the description.
constexpr int CELL_MARKUP_SIZE = 30 + GMENU_ESCAPED_SIZE;

const char *ppath() { return PPATH ? PPATH : PPATH_ROOT; }

int round_half(float x) { return static_cast<int>(x + 0.5f); }

// The text up to its first white-space character.
std::string first_word(const char *text)
{
    std::string t = text ? text : "";
    const std::size_t end = t.find_first_of(" \t\n\r\f\v");
    return end == std::string::npos ? t : t.substr(0, end);
}

GtkWidget *named_label(const char *text, const char *name)
{
    GtkWidget *label = gtk_label_new(text);
    gtk_widget_set_name(label, name);
    return label;
}

void add_click(GtkWidget *widget, const char *name, GCallback handler, GlobalData_t *gd)
{
    GtkGesture *click = gtk_gesture_click_new();
    gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(click), name);
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
    gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(click), TRUE);
    g_signal_connect(click, "pressed", handler, gd);
    gtk_widget_add_controller(widget, GTK_EVENT_CONTROLLER(click));
}

GtkWidget *logo_picture(const std::string &path)
{
    GtkWidget *picture = gtk_picture_new_for_filename(path.c_str());
    GdkPaintable *p = gtk_picture_get_paintable(GTK_PICTURE(picture));
    int w = p ? gdk_paintable_get_intrinsic_width(p) : 0, h = p ? gdk_paintable_get_intrinsic_height(p) : 0;
    gmenu_logo_size(&w, &h);
    gtk_picture_set_content_fit(GTK_PICTURE(picture), GTK_CONTENT_FIT_CONTAIN);
    gtk_picture_set_can_shrink(GTK_PICTURE(picture), TRUE);
    gtk_widget_set_size_request(picture, w, h);
    gtk_widget_set_halign(picture, GTK_ALIGN_END);
    gtk_widget_set_valign(picture, GTK_ALIGN_CENTER);
    return picture;
}

// The count of a group button, at most nine characters, right-aligned in three.
GtkWidget *count_label(const char *count)
{
    const std::string cut = std::string(count).substr(0, 9);
    char markup[32];
    cutil_sprintf(markup, sizeof markup, "<tt>%3s</tt>", cut.c_str());
    GtkWidget *label = gtk_label_new(nullptr);
    oska_label_set_markup(label, markup);
    gtk_label_set_xalign(GTK_LABEL(label), 1);
    gtk_label_set_yalign(GTK_LABEL(label), 0.5);
    return label;
}

GtkWidget *hbox(int spacing = 0)
{
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, spacing);
    gtk_box_set_homogeneous(GTK_BOX(box), FALSE);
    return box;
}

struct Drawing {
    menu_data *v = nullptr;
    bool filled[GMENU_COLUMNS][GMENU_ROWS] = {};
    std::string path;
    std::string short_cut = "   ";
    const char *last_style = "";
};

void style_cell(const menu_cell &cell, int column, const char *style)
{
    gtk_widget_set_name(cell.box, style);
    gtk_widget_set_name(cell.label, style);
    if (column == 0) gtk_widget_set_name(cell.arrow, style);
}

void draw(Drawing &d, const menu_item *item, int column)
{
    if (item->selected) {
        const std::string n = std::to_string(item->number);
        d.path = column == 0 ? n : d.path + "." + n;
        if (d.v->show_short_cuts == 1) d.short_cut = item->short_cut;
    }
    if (item->row < 1 || item->row > GMENU_ROWS) return;  // row 0: reached by path or short cut only
    const menu_cell &cell = d.v->cells[column][item->row - 1];
    d.filled[column][item->row - 1] = true;
    d.last_style = item->style;
    style_cell(cell, column, item->style);
    const std::string markup = gmenu_cell_markup(item);
    // A cell that shows this mark-up already is left alone: most cells stay as they were.
    if (markup != gtk_label_get_label(GTK_LABEL(cell.label)) || !gtk_label_get_use_markup(GTK_LABEL(cell.label)))
        oska_label_set_markup(cell.label, markup.c_str());
    if (column == 0)
        gtk_widget_set_visible(cell.arrow, item->selected || (!item->program[0] && item->number > 0));
}

} // namespace

// ---- Window size -------------------------------------------------------------------------------------------

MenuSize gmenu_window_size(int area_width, int area_height)
{
    float s = 1.0f;
    if (area_width < MENU_WIDTH) s = static_cast<float>(area_width) / MENU_WIDTH;
    if (area_height < round_half(MENU_HEIGHT * s)) s = static_cast<float>(area_height) / MENU_HEIGHT;
    return {s, round_half(MENU_WIDTH * s), round_half(MENU_HEIGHT * s)};
}

MenuSize gmenu_window_size_logged(const char *who)
{
    GlobalData_t *gd = global_data;
    const MenuSize size = gmenu_window_size(gd->oae_app_width, gd->oae_app_height);
    if (gd->log_level_lumbas > 0) {
        _mlog(1, 1, "%s: scaling factor: %f", who, static_cast<double>(size.scale));
        _mlog(1, 1, "%s: geometry: %dx%d\n", who, size.width, size.height);
    }
    return size;
}

// ---- Header --------------------------------------------------------------------------------------------

int gmenu_get_time()
{
    return static_cast<int>(std::time(nullptr) / 3600);
}

void gmenu_get_tod(menu_data *v, int crumb)
{
    char command[PATH_LIMIT];
    if (cutil_sprintf(command, sizeof command, "%s/bin/crumb %d", ppath(), crumb) < 14)
        Abort("PPATH too long or too short for buffer in gmenu_thought_of_the_day");
    // Run by argument vector, its whole output read; one that cannot be run says nothing.
    const std::string program = std::string(ppath()) + "/bin/crumb", number = std::to_string(crumb);
    const char *argv[] = {program.c_str(), number.c_str(), nullptr};
    gchar *out = nullptr;
    if (!g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_STDERR_TO_DEV_NULL | G_SPAWN_CLOEXEC_PIPES), reset_child_signals_setup, nullptr,
                      &out, nullptr, nullptr, nullptr)) {
        g_free(out);
        out = nullptr;
    }
    gchar *text = g_utf8_make_valid(out ? out : "", -1);
    g_free(out);
    int lines = 0;
    for (const char *p = text; *p; ++p) lines += *p == '\n';
    GtkWidget *label = gtk_label_new(text);
    g_free(text);
    if (lines >= 6) {
        GtkWidget *scrolled = gtk_scrolled_window_new();
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), label);
        oska_box_append(v->thought_box, scrolled, 0, 1, 0);
        v->thought_widget = scrolled;
    } else {
        oska_box_append(v->thought_box, label, 0, 1, 2);
        v->thought_widget = label;
    }
    v->thought_hour = gmenu_get_time();
}

std::string gmenu_get_logo(const char *site, const char *logo)
{
    const std::string word = first_word(site), name = first_word(logo);
    std::string path;
    if (name.size() >= 4) {
        if (name[0] == '/') {
            path = name;
        } else {
            char composed[PATH_LIMIT];
            cutil_sprintf(composed, sizeof composed, "%sdata/%s/%ssite/%s", ppath(), word.c_str(), word.c_str(),
                          name.c_str());
            path = composed;
        }
    }
    // An absolute name too long for a path of this design is no logo either.
    if (path.empty() || path.size() >= PATH_LIMIT || ufexists1(path.c_str()) != 1)
        path = std::string(ppath()) + "/graphics/oska_menu_logo.png";
    return path;
}

void gmenu_logo_size(int *w, int *h)
{
    if (*w > LOGO_WIDTH) {
        *h = *h * LOGO_WIDTH / *w;
        *w = LOGO_WIDTH;
    }
    if (*h > LOGO_HEIGHT) {
        *w = *w * LOGO_HEIGHT / *h;
        *h = LOGO_HEIGHT;
    }
}

GtkWidget *gmenu_setup_Header(menu_data *v, const char *logo, const char *code, const char *title, const char *site)
{
    GtkWidget *header = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget *row_one = hbox(), *row_two = hbox();
    for (GtkWidget *box : {header, row_one, row_two}) gtk_widget_set_hexpand(box, TRUE);

    v->thought_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    oska_box_append(row_one, v->thought_box, 0, 1, 0);
    gmenu_get_tod(v, 0);
    oska_box_append(row_one, gtk_box_new(GTK_ORIENTATION_VERTICAL, 0), 1, 1, 0);
    // The stored site word and logo name keep only their first word.
    const std::string word = first_word(site), name = first_word(logo);
    if (v->site) std::strcpy(v->site, word.c_str());
    if (v->logo) std::strcpy(v->logo, name.c_str());
    gtk_box_append(GTK_BOX(row_one), logo_picture(gmenu_get_logo(word.c_str(), name.c_str())));

    gtk_widget_set_name(row_two, "dbMenuTitleM");
    oska_box_append(row_two, named_label(gmenu_trim(code ? code : "").c_str(), "dbMenuTitleM"), 0, 0, 5);
    GtkWidget *title_label = named_label(gmenu_trim(title ? title : "").c_str(), "dbMenuTitleM");
    oska_box_append(row_two, title_label, 1, 0, 0);
    gtk_widget_set_halign(title_label, GTK_ALIGN_CENTER);
    char version[PATH_LIMIT];
    cutil_sprintf(version, sizeof version, "G15.06.111/%s/%s", apps_version, gmenu_trim(word).c_str());
    oska_box_append(row_two, named_label(version, "dbMenuTitleM"), 0, 0, 5);

    oska_box_append(header, row_one, 0, 1, 0);
    oska_box_append(header, row_two, 0, 1, 0);
    v->header = header;
    return header;
}

// ---- Grid ------------------------------------------------------------------------------------------------

GtkWidget *gmenu_setup_Middle(GlobalData_t *gd)
{
    menu_data *v = gmenu_data(gmenu_cm());
    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_row_homogeneous(GTK_GRID(grid), TRUE);
    gtk_grid_set_column_homogeneous(GTK_GRID(grid), TRUE);
    v->grid = grid;
    for (int c = 0; c < GMENU_COLUMNS; ++c)
        for (int r = 0; r < GMENU_ROWS; ++r) {
            menu_cell &cell = v->cells[c][r];
            cell.box = hbox();
            gtk_widget_set_name(cell.box, "MenuBgM");
            gtk_widget_set_hexpand(cell.box, TRUE);
            gtk_widget_set_vexpand(cell.box, TRUE);
            cell.label = gtk_label_new(" ");
            gtk_label_set_xalign(GTK_LABEL(cell.label), 0);
            gtk_label_set_yalign(GTK_LABEL(cell.label), 0.5);
            gtk_label_set_use_markup(GTK_LABEL(cell.label), TRUE);
            // A long description ends in an ellipsis inside its column rather than widening the
            // grid, and with it the window, past the screen.
            gtk_label_set_ellipsize(GTK_LABEL(cell.label), PANGO_ELLIPSIZE_END);
            oska_box_prepend(cell.box, cell.label, 1, 1, 0);
            if (c == 0) {  // only the first column shows an arrow
                cell.arrow = gtk_image_new_from_icon_name("go-next");
                gtk_image_set_icon_size(GTK_IMAGE(cell.arrow), GTK_ICON_SIZE_NORMAL);
                gtk_box_append(GTK_BOX(cell.box), cell.arrow);
            }
            add_click(cell.box, "gmenu-setup--button", G_CALLBACK(gmenu_button_press_event), gd);
            gtk_grid_attach(GTK_GRID(grid), cell.box, c, r, 1, 1);
        }
    return grid;
}

// ---- Footer ----------------------------------------------------------------------------------------------

GtkWidget *gmenu_setup_Footer(GlobalData_t *gd)
{
    menu_data *v = gmenu_data(gmenu_cm());
    GtkWidget *footer = hbox(2);
    gtk_widget_set_hexpand(footer, TRUE);
    v->footer = footer;

    GtkWidget *incoming = hbox(), *project = hbox(), *tarvel = hbox();
    bool has_incoming = false, has_tarvel = false;
    for (int i = 0; i < GMENU_BUTTONS && v->buttons[i].type; ++i) {
        menu_button &b = v->buttons[i];
        GtkWidget *button = gtk_button_new();
        GtkWidget *label = b.type == 1 ? gtk_label_new("Project View") : count_label(b.count ? b.count : "");
        gtk_button_set_child(GTK_BUTTON(button), label);
        gtk_widget_set_name(button, b.style);
        gtk_widget_set_name(label, b.style);
        add_click(button, "gmenu-add-button", G_CALLBACK(gmenu_button_key_event), gd);
        b.button = button;
        GtkWidget *group = b.type == 1 ? project : b.type == 2 ? incoming : tarvel;
        has_incoming |= b.type == 2;
        has_tarvel |= b.type == 3;
        gtk_box_append(GTK_BOX(group), button);
    }
    if (has_incoming) gtk_box_prepend(GTK_BOX(incoming), gtk_label_new("Incoming: "));
    if (has_tarvel) gtk_box_prepend(GTK_BOX(tarvel), gtk_label_new("Tarvel: "));

    v->short_cut = gtk_text_new();
    gtk_text_set_enable_emoji_completion(GTK_TEXT(v->short_cut), FALSE);
    gtk_text_set_activates_default(GTK_TEXT(v->short_cut), TRUE);
    gtk_text_set_max_length(GTK_TEXT(v->short_cut), GMENU_ENTRY_MAX);  // typed or pasted
    gtk_widget_add_css_class(v->short_cut, "gmenu");
    gtk_widget_set_hexpand(v->short_cut, TRUE);
    g_signal_connect(v->short_cut, "activate", G_CALLBACK(gmenu_Search), gd);
    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, "gmenu-setup");
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_TARGET);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(gmenu_key_press_event), gd);
    gtk_widget_add_controller(v->short_cut, keys);
    v->short_cut_label = gtk_label_new("   ");

    GtkWidget *selection = hbox();
    gtk_box_append(GTK_BOX(selection), gtk_label_new("Menu Selection: "));
    gtk_box_append(GTK_BOX(selection), v->short_cut);
    oska_box_append(selection, v->short_cut_label, 0, 0, 5);

    oska_box_append(footer, incoming, 0, 1, 2);
    oska_box_append(footer, gtk_label_new(" "), 1, 1, 0);
    oska_box_append(footer, selection, 1, 1, 0);
    oska_box_append(footer, gtk_label_new(" "), 1, 1, 0);
    oska_box_append(footer, project, 1, 1, 0);
    oska_box_append(footer, gtk_label_new(" "), 1, 1, 0);
    oska_box_append(footer, tarvel, 0, 1, 0);
    return footer;
}

// ---- Redraw ----------------------------------------------------------------------------------------------

std::string gmenu_cell_markup(const menu_item *item)
{
    char markup[CELL_MARKUP_SIZE];
    if (item->selected)
        cutil_sprintf(markup, sizeof markup, "<b><tt> %2d.</tt><i> %s</i></b>", item->number, item->description);
    else if (item->number != 0)
        cutil_sprintf(markup, sizeof markup, "<tt> %2d.</tt> %s", item->number, item->description);
    else
        cutil_sprintf(markup, sizeof markup, "<tt> </tt>%s", item->description);
    return markup;
}

void gmenu_display_menu(ControlMatrix_t *cm)
{
    menu_data *v = gmenu_data(cm);
    if (!v->root) Abort("Attempt to display menu, when no menu data found");
    Drawing d;
    d.v = v;
    for (const menu_item *top = v->root; top; top = top->next) {
        draw(d, top, 0);
        if (!top->selected) continue;
        for (const menu_item *child = top->children; child; child = child->next) {
            draw(d, child, 1);
            if (!child->selected) continue;
            for (const menu_item *grandchild = child->children; grandchild; grandchild = grandchild->next)
                draw(d, grandchild, 2);
        }
    }
    for (int c = 0; c < GMENU_COLUMNS; ++c)
        for (int r = 0; r < GMENU_ROWS; ++r) {
            if (d.filled[c][r]) continue;
            const menu_cell &cell = v->cells[c][r];
            style_cell(cell, c, d.last_style);
            gtk_label_set_text(GTK_LABEL(cell.label), " ");
            if (cell.arrow) gtk_widget_set_visible(cell.arrow, FALSE);
        }
    gtk_editable_set_text(GTK_EDITABLE(v->short_cut), d.path.c_str());
    gtk_label_set_text(GTK_LABEL(v->short_cut_label), d.short_cut.c_str());
    if (!cm->next) {
        // Focused without selecting its text: a selection would claim the X selection on every redraw.
        gtk_text_grab_focus_without_selecting(GTK_TEXT(v->short_cut));
        gtk_editable_set_position(GTK_EDITABLE(v->short_cut), -1);
    }
}
