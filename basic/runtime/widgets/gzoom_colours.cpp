// The zoom pick-list's row colours: the screen-bg-colour of the style tag each row's format entry
// names, read from the site's style tags file. See gzoom.h.
#include "gzoom.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "ilist.h"
#include "mem_mgt.h"
#include "message.h"
#include "read_error.h"
#include "style_tags.h"

namespace {

constexpr std::size_t TAG_NAME_MAX = 30;   // characters of a tag name the zoom accepts
constexpr std::size_t VALUE_MAX = 30;      // characters of a colour value
constexpr int ATTRIBUTE_BUFFER = 56;

// The tags file while one lookup reads it: closed, its tag text freed and the tokeniser's
// carried-over text forgotten however the lookup ends.
class TagsReader {
public:
    TagsReader() { stop_on(postscript_print_tags_open_file(&file_)); }
    ~TagsReader()
    {
        if (file_) std::fclose(file_);
        postscript_print_tags_reset();
        DpsRealloc(text_, 0);
    }
    TagsReader(const TagsReader &) = delete;
    TagsReader &operator=(const TagsReader &) = delete;
    // The next tag's text, or nullptr at the end of the file; a fault of the file stops the run.
    const char *next()
    {
        int found = 0;
        stop_on(postscript_print_tags_get_tag(file_, &text_, &found));
        return found ? text_ : nullptr;
    }

private:
    std::FILE *file_ = nullptr;
    char *text_ = nullptr;
};

// The last screen-bg-colour value of a matching tag's attributes.
char *tag_value(const char *attributes, const std::string &name)
{
    if (!*attributes) Abort("Tag attributes not found");
    char attribute[ATTRIBUTE_BUFFER], value[ATTRIBUTE_BUFFER];
    value[0] = '\0';
    for (const char *p = attributes; *p;) {
        stop_on(postscript_get_style_tag_value(attribute, &p, ':', ATTRIBUTE_BUFFER, 0));
        if (std::strcmp(attribute, "screen-bg-colour") != 0)
            Abort("Invalid attribute %s for tag %s", attribute, name.c_str());
        stop_on(postscript_get_style_tag_value(value, &p, ';', ATTRIBUTE_BUFFER, 0));
        if (value[0] != '#') Abort("Colour value for %s must commence with '#'", name.c_str());
    }
    return g_strdup(value);
}

// The colour of a tag's value; a value the zoom cannot use ends the run.
GzoomColour parse_colour(const std::string &name, const char *value)
{
    if (name.size() > TAG_NAME_MAX) Abort("gzoom_get_row_colours tag name too long");
    if (std::strlen(value) > VALUE_MAX) Abort("gzoom_get_row_colours tag background colour attribute value too long");
    GdkRGBA rgba;
    if (!gdk_rgba_parse(&rgba, value)) Abort("Invalid background colour tag value");
    // The parser keeps single-precision components: 255 x c lands a hair below a whole byte, which
    // truncation alone would take one lower.
    const auto byte = [](float c) { return static_cast<int>(255.0 * c + 1e-3); };
    return {byte(rgba.red), byte(rgba.green), byte(rgba.blue)};
}

} // namespace

char *gzoom_get_tag_bg_colour(const char *name)
{
    TagsReader reader;
    while (const char *text = reader.next()) {
        if (std::strncmp(text, "mtag_", 5) != 0) Abort("Found tag '%s' not commencing with 'mtag_'", text);
        const char *brace = std::strchr(text, '{');
        if (!brace) Abort("Did not find '{' following a Style Tag '%s'", text);
        const std::string tag(text, brace);
        if (tag.size() > TAG_NAME_MAX) Abort("Tag name in tags file is too long: %s", tag.c_str());
        if (tag == name) return tag_value(brace + 1, tag);
    }
    return nullptr;
}

std::vector<GzoomColour> gzoom_get_row_colours(IList_t *format, int rows)
{
    std::vector<GzoomColour> colours(rows > 0 ? rows : 0);
    if (!format) return colours;
    // Each distinct name is looked up once in the call, found or not: the file does not change
    // while the list is built, and a name no tag has would otherwise cost a whole read per row.
    std::unordered_map<std::string, std::optional<GzoomColour>> cache;
    int row = 0;
    for (IListElt_t *e = format->head; e && row < rows; e = e->next, ++row) {
        const char *text = e->value.text ? e->value.text : "";
        if (!*text || *text == ' ' || *text == '\t') continue;
        auto [entry, added] = cache.try_emplace(text);
        if (added) {
            if (char *value = gzoom_get_tag_bg_colour(text)) {
                const std::unique_ptr<char, decltype(&g_free)> owned(value, g_free);
                entry->second = parse_colour(entry->first, value);
            }
        }
        if (entry->second) colours[row] = *entry->second;
    }
    return colours;
}
