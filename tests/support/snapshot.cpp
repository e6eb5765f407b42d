#include "snapshot.h"

#include <algorithm>
#include <cstdlib>

#include "gui_env.h"

namespace lumba_test {

Rgba Snapshot::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {0, 0, 0, 0};
    return pixels_[std::size_t(y) * width_ + x];
}

void Snapshot::set_pixel(int x, int y, Rgba c)
{
    if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[std::size_t(y) * width_ + x] = c;
}

int Snapshot::count(Rgba colour, int tolerance) const
{
    const auto near = [tolerance](int a, int b) { return std::abs(a - b) <= tolerance; };
    return static_cast<int>(std::count_if(pixels_.begin(), pixels_.end(), [&](const Rgba &p) {
        return near(p.r, colour.r) && near(p.g, colour.g) && near(p.b, colour.b) && near(p.a, colour.a);
    }));
}

int Snapshot::dark_pixels() const
{
    return static_cast<int>(std::count_if(pixels_.begin(), pixels_.end(), [](const Rgba &p) {
        return p.a > 0 && p.r < 96 && p.g < 96 && p.b < 96;
    }));
}

Snapshot Snapshot::side_by_side(const std::vector<Snapshot> &pictures)
{
    int width = 0, height = 0;
    for (const Snapshot &p : pictures) {
        width += p.width();
        height = std::max(height, p.height());
    }
    Snapshot all(width, height);
    std::fill(all.pixels_.begin(), all.pixels_.end(), Rgba{255, 255, 255, 255});
    int left = 0;
    for (const Snapshot &p : pictures) {
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x) all.set_pixel(left + x, y, p.pixel(x, y));
        left += p.width();
    }
    return all;
}

bool Snapshot::save_png(const std::string &path) const
{
    if (empty()) return false;
    GBytes *bytes = g_bytes_new(pixels_.data(), pixels_.size() * sizeof(Rgba));
    GdkTexture *texture = gdk_memory_texture_new(width_, height_, GDK_MEMORY_R8G8B8A8, bytes, std::size_t(width_) * 4);
    const bool ok = gdk_texture_save_to_png(texture, path.c_str());
    g_object_unref(texture);
    g_bytes_unref(bytes);
    return ok;
}

namespace {

// What the widget's paintable draws: the frame last painted for it, nothing while a change waits
// for the next frame.
GskRenderNode *last_frame(GtkWidget *widget, int width, int height)
{
    GdkPaintable *paintable = gtk_widget_paintable_new(widget);
    GtkSnapshot *s = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, GDK_SNAPSHOT(s), width, height);
    g_object_unref(paintable);
    return gtk_snapshot_free_to_node(s);
}

Snapshot from_texture(GdkTexture *texture)
{
    const int tw = gdk_texture_get_width(texture), th = gdk_texture_get_height(texture);
    // Downloads come as premultiplied B, G, R, A bytes (cairo's format).
    std::vector<std::uint8_t> data(std::size_t(tw) * th * 4);
    gdk_texture_download(texture, data.data(), std::size_t(tw) * 4);
    Snapshot picture(tw, th);
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            const std::uint8_t *p = &data[(std::size_t(y) * tw + x) * 4];
            const int a = p[3];
            const auto straight = [a](int v) { return std::uint8_t(a ? std::min(255, v * 255 / a) : 0); };
            picture.set_pixel(x, y, {straight(p[2]), straight(p[1]), straight(p[0]), std::uint8_t(a)});
        }
    return picture;
}

} // namespace

Snapshot snapshot(GtkWidget *widget)
{
    GtkNative *native = gtk_widget_get_native(widget);
    if (!native || !gtk_widget_get_mapped(widget)) return {};
    GskRenderNode *node = last_frame(widget, gtk_widget_get_width(widget), gtk_widget_get_height(widget));
    if (!node) {
        // Changed since the last frame: take the next one.
        if (!wait_drawn(widget)) return {};
        node = last_frame(widget, gtk_widget_get_width(widget), gtk_widget_get_height(widget));
    }
    const int width = gtk_widget_get_width(widget), height = gtk_widget_get_height(widget);
    if (!node || width <= 0 || height <= 0) {
        if (node) gsk_render_node_unref(node);
        return {};
    }
    const graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
    GdkTexture *texture = gsk_renderer_render_texture(gtk_native_get_renderer(native), node, &viewport);
    gsk_render_node_unref(node);
    Snapshot picture = from_texture(texture);
    g_object_unref(texture);
    return picture;
}

Snapshot load_png(const std::string &path)
{
    GdkTexture *texture = gdk_texture_new_from_filename(path.c_str(), nullptr);
    if (!texture) return {};
    Snapshot picture = from_texture(texture);
    g_object_unref(texture);
    return picture;
}

bool wait_drawn(GtkWidget *widget, int timeout_ms)
{
    const bool laid_out = wait_until(
        [widget] {
            return gtk_widget_get_mapped(widget) && gtk_widget_get_width(widget) > 0 &&
                   gtk_widget_get_height(widget) > 0;
        },
        timeout_ms);
    if (!laid_out) return false;
    // One frame more: the frame clock lays out and paints after the widget is mapped.
    GdkFrameClock *clock = gtk_widget_get_frame_clock(widget);
    if (!clock) return true;
    const gint64 frame = gdk_frame_clock_get_frame_counter(clock);
    gtk_widget_queue_draw(widget);
    return wait_until([clock, frame] { return gdk_frame_clock_get_frame_counter(clock) > frame; }, timeout_ms);
}

} // namespace lumba_test
