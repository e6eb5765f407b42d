// In-process snapshots of widgets: the widget as it shows now, drawn through its window's own
// renderer into a texture (widget paintable -> render node -> renderer -> texture), read pixel by
// pixel or saved as PNG. Side by side, several windows make one picture to look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "test_time.h"

namespace lumba_test {

struct Rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const Rgba &) const = default;
};

class Snapshot {
public:
    Snapshot() = default;
    Snapshot(int width, int height) : width_(width), height_(height), pixels_(std::size_t(width) * height) {}

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return pixels_.empty(); }
    // The colour at (x, y), (0, 0) the top left; outside the picture: transparent black.
    Rgba pixel(int x, int y) const;
    void set_pixel(int x, int y, Rgba c);
    // How many pixels are within tolerance of colour in each channel.
    int count(Rgba colour, int tolerance = 0) const;
    // How many pixels are dark (every channel below 96): the ink of text on a light ground.
    int dark_pixels() const;
    // The pictures next to each other, left to right, on white.
    static Snapshot side_by_side(const std::vector<Snapshot> &pictures);
    // Writes the picture as PNG; false when it cannot.
    bool save_png(const std::string &path) const;
    bool operator==(const Snapshot &) const = default;

private:
    int width_ = 0, height_ = 0;
    std::vector<Rgba> pixels_;
};

// The widget (realised, mapped and laid out) as it shows on screen now: the frame last painted for
// it, or, when a change waits to be painted, the next frame (the main loop turns until then). An
// empty snapshot when it is not on screen.
Snapshot snapshot(GtkWidget *widget);
// A PNG file (a screenshot another process took), empty when it cannot be read.
Snapshot load_png(const std::string &path);
// Runs the main loop until the widget is mapped with a size, then until its window has drawn a
// frame; answers whether it got there within timeout_ms.
bool wait_drawn(GtkWidget *widget, int timeout_ms = WAIT_MS);

} // namespace lumba_test
