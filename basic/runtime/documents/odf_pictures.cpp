// Pictures in filled documents: the image goes into the package's Pictures folder and its
// manifest, a graphic style is added for its frame, and a draw:frame holding a draw:image opens
// the token's paragraph, sized from the image's pixels. Frames, graphics names and z-indexes are
// numbered after the document's own, so new names never clash with the template's pictures.
#include <array>
#include <cerrno>
#include <charconv>
#include <optional>

#include "message.h"
#include "misc.h"
#include "odf_insert.h"
#include "odf_package.h"
#include "read_error.h"

namespace {

struct ImageType {
    const char *extension;
    const char *media;
};

const ImageType *image_type(std::int32_t type)
{
    static const std::array<ImageType, 4> types{{
        {".gif", "image/gif"}, {".jpeg", "image/jpeg"}, {".png", "image/png"}, {".bmp", "image/bmp"}}};
    return type >= IMAGE_GIF && type <= IMAGE_BMP ? &types[static_cast<std::size_t>(type - 1)] : nullptr;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Text for an attribute value: the names made here hold only safe characters, but a name must
// never be able to break the mark-up it enters.
std::string escaped(std::string_view text)
{
    std::string out;
    for (char c : text) switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    return out;
}

// The file's own name, every character a package reader might take amiss replaced by '_'.
std::string base_name(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    for (char &c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-'))
            c = '_';
    return name;
}

bool named_style(const IooNode_t *node, std::string_view quoted_name)
{
    return node->name == "style:style" && node->attributes && node->attributes->name == "style:name" &&
           node->attributes->value == quoted_name;
}

bool style_exists(const IooNode_t *styles, std::string_view quoted_name)
{
    for (const IooNode_t *s = styles; s; s = s->next)
        if (named_style(s, quoted_name)) return true;
    return false;
}

IooNode_t *new_node(std::string_view name)
{
    return insert_oo_create_tag(insert_oo_set_tag_type(name), name, 0);
}

std::string centimetres(std::int64_t pixels)
{
    std::array<char, 32> text;
    const auto end = std::to_chars(text.data(), text.data() + text.size(),
                                   static_cast<double>(pixels) * 0.0082387 + 0.0005, std::chars_format::fixed, 3)
                         .ptr;
    return std::string(text.data(), end) + "cm";
}

// The package path of a picture: unique to the file it comes from, so that two files of the same
// name from different folders both keep their picture.
std::string package_path(OdfPackage &package, const std::string &file, const std::string &name,
                         const ImageType &type, std::uint32_t frame)
{
    const std::string path = "Pictures/" + name + type.extension;
    const OdfEntry *entry = odf_entry(package, path.c_str());
    if (!entry || entry->file == file) return path;
    return "Pictures/" + name + "-" + std::to_string(frame) + type.extension;
}

// Takes the token out of its text node, removing the node when nothing else was in it.
void take_token(IooNode_t *node, std::string_view token)
{
    std::optional<std::string> before, after;
    insert_oo_do_split(&before, &after, *node->text, token);
    if (before || after) {
        *node->text = before.value_or("") + after.value_or("");
        return;
    }
    if (node->parent && node->prior) assertion_failed(__FILE__, __LINE__, "!tag->prior");
    if (node->prior) node->prior->next = node->next;
    if (node->next) {
        node->next->prior = node->prior;
        if (!node->prior) {
            node->next->parent = node->parent;
            if (node->parent) node->parent->content = node->next;
        }
    } else if (!node->prior && node->parent) {
        node->parent->content = nullptr;
    }
    node->next = node->prior = node->parent = nullptr;
    insert_oo_free_xml(node);
}

} // namespace

void insert_oo_do_graphic_get_name(InsertOoMeta_t *meta, std::string_view token, std::string *frame_name,
                                   std::string *graphics_name, std::string *z_index, std::string *path,
                                   std::int32_t type, const InsertOoValue_t &value)
{
    const ImageType *kind = image_type(type);
    if (!kind) Abort("Unknown type of Graphic image %s %s", std::string(token).c_str(), value.text.c_str());
    *frame_name = "fr" + std::to_string(value.picture);
    meta->frame = std::max(meta->frame, value.picture);
    *graphics_name = "graphics" + std::to_string(++meta->graphics);
    *z_index = std::to_string(++meta->z_index);
    *path = package_path(*meta->package, value.text, base_name(value.text), *kind, value.picture);
    if (path->size() + 2 > 50) Abort("insert_oo_do_graphic_get_name: Buffer overflow 1");
}

int insert_oo_do_graphic_content(InsertOoMeta_t *meta, IooNode_t *node, std::string_view token,
                                 const InsertOoValue_t &value, std::string *frame_name, std::string *path,
                                 std::int32_t *type)
{
    std::int64_t height = 0, width = 0;
    std::int32_t bits = 0;
    misc_get_image_stats(&height, &width, &bits, type, value.text.c_str());
    std::string graphics_name, z_index;
    insert_oo_do_graphic_get_name(meta, token, frame_name, &graphics_name, &z_index, path, *type, value);
    const bool placed = style_exists(meta->styles, quoted(*frame_name));

    OdfPackage &package = *meta->package;
    if (const OdfEntry *folder = odf_entry(package, "Pictures"); folder && !folder->directory)
        Abort("Error %s when searching for Pictures subdirecoty in the OpenOffice Document",
              misc_error_text(ENOTDIR).c_str());
    if (!placed) {
        // The file is copied when the package is written; it must be readable now.
        if (const int kind = ufexists1(value.text.c_str()); kind != 1)
            Abort("Error %s when attempting to open %s", misc_error_text(kind < 0 ? -kind : kind == 0 ? ENOENT : EISDIR).c_str(),
                  value.text.c_str());
        OdfEntry *entry = odf_entry(package, path->c_str());
        if (entry && entry->directory) Abort("Error %d; when attempting to write graphic into the OpenOffice Document", 2);
        if (!entry) entry = &package.entries.emplace_back(OdfEntry{*path, {}, false, {}});
        entry->file = value.text;
    }

    IooNode_t *paragraph = ioo_parent(node);
    if (!paragraph) assertion_failed(__FILE__, __LINE__, "tag3->parent");
    if (paragraph->type == IOO_TAG_TEXT) {
        paragraph = ioo_parent(paragraph);
        if (!paragraph) assertion_failed(__FILE__, __LINE__, "tag3->parent");
    }
    if (paragraph->type != IOO_TAG_PAR)
        mmessage(1, "Unexpected parent tag type %d when inserting Graphic image", static_cast<int>(paragraph->type));
    take_token(node, token);

    IooNode_t *frame = new_node("draw:frame");
    insert_oo_add_link_attr(frame, "draw:style-name", quoted(escaped(*frame_name)));
    insert_oo_add_link_attr(frame, "draw:name", quoted(escaped(graphics_name)));
    insert_oo_add_link_attr(frame, "text:anchor-type", "\"paragraph\"");
    insert_oo_add_link_attr(frame, "svg:width", quoted(centimetres(width)));
    insert_oo_add_link_attr(frame, "svg:height", quoted(centimetres(height)));
    insert_oo_add_link_attr(frame, "draw:z-index", quoted(z_index));
    IooNode_t *image = insert_oo_add_child_tag(frame, "draw:image");
    insert_oo_add_link_attr(image, "xlink:href", quoted(escaped(*path)));
    insert_oo_add_link_attr(image, "xlink:type", "\"simple\"");
    insert_oo_add_link_attr(image, "xlink:show", "\"embed\"");
    insert_oo_add_link_attr(image, "xlink:actuate", "\"onLoad\"");
    if (IooNode_t *first = paragraph->content) {
        first->parent = nullptr;
        first->prior = frame;
        frame->next = first;
    }
    paragraph->content = frame;
    frame->parent = paragraph;
    return 1;
}

int insert_oo_do_graphic_style(InsertOoMeta_t *meta, const std::string &frame_name, std::uint32_t justify)
{
    // An empty list of automatic styles, or one of a single style, takes the frame's style as well.
    if (!meta->styles && !meta->automatic) assertion_failed(__FILE__, __LINE__, "styles->next");
    const std::string name = quoted(escaped(frame_name));
    for (IooNode_t *s = meta->styles; s; s = s->next)
        if (named_style(s, name)) return 1;
    IooNode_t *style = insert_oo_add_style(meta, "style:style");
    insert_oo_add_link_attr(style, "style:name", name);
    insert_oo_add_link_attr(style, "style:family", "\"graphic\"");
    insert_oo_add_link_attr(style, "style:parent-style-name", "\"Graphics\"");
    IooNode_t *props = insert_oo_add_child_tag(style, "style:graphic-properties");
    static const char *const positions[] = {"\"center\"", "\"left\"", "\"right\""};
    if (justify < 3) {
        insert_oo_add_link_attr(props, "style:horizontal-pos", positions[justify]);
        insert_oo_add_link_attr(props, "style:horizontal-rel", "\"paragraph\"");
    }
    static const std::pair<const char *, const char *> fixed[] = {
        {"style:mirror", "\"none\""},        {"fo:clip", "\"rect(0cm 0cm 0cm 0cm)\""},
        {"draw:luminance", "\"0%\""},        {"draw:contrast", "\"0%\""},
        {"draw:red", "\"0%\""},              {"draw:green", "\"0%\""},
        {"draw:blue", "\"0%\""},             {"draw:gamma", "\"100%\""},
        {"draw:color-inversion", "\"false\""}, {"draw:image-opacity", "\"100%\""},
        {"draw:color-mode", "\"standard\""}};
    for (const auto &[attr, value] : fixed) insert_oo_add_link_attr(props, attr, value);
    return 1;
}

void insert_oo_do_manifest_add(IooNode_t *tree, const std::string &path, std::int32_t type)
{
    IooNode_t *manifest = nullptr;
    for (IooNode_t *n = tree; n && !manifest; n = n->next)
        if (n->type == IOO_TAG_MANIFEST) manifest = n;
    if (!manifest || !manifest->content || !manifest->content->next)
        Abort("Manifest entries not found in the manifest file");
    const std::string media = quoted(image_type(type)->media);
    const std::string full_path = quoted(escaped(path));
    IooNode_t *last = manifest->content;
    for (; last->next; last = last->next) {
        const IooAttr_t *m = ioo_find_attr(last, "manifest:media-type");
        const IooAttr_t *p = ioo_find_attr(last, "manifest:full-path");
        if (m && p && m->value == media && p->value == full_path) return;
    }
    IooNode_t *entry = insert_oo_add_link_tag(last, "manifest:file-entry");
    insert_oo_add_link_attr(entry, "manifest:media-type", media);
    insert_oo_add_link_attr(entry, "manifest:full-path", full_path);
    IooNode_t *line = insert_oo_add_link_tag(entry, std::nullopt);
    line->text = "\n";
}

int insert_oo_do_graphic_manifest(OdfPackage &package, const std::string &path, std::int32_t type)
{
    OdfEntry *entry = odf_entry(package, "META-INF/manifest.xml");
    if (!entry)
        Abort("Error %s when attempting to open OpenOffice manifest.xml file", misc_error_text(ENOENT).c_str());
    IooTree tree;
    stop_on(insert_oo_parse_xml(entry->data, tree));
    insert_oo_do_manifest_add(tree.get(), path, type);
    std::string written;
    stop_on(insert_oo_write_xml(tree.get(), written));
    entry->data = std::move(written);
    return 1;
}

int insert_oo_do_graphic_ins(IooNode_t *node, const InsertOoValue_t &value, std::string_view token,
                             InsertOoMeta_t *meta)
{
    std::string frame_name, path;
    std::int32_t type = IMAGE_UNKNOWN;
    return insert_oo_do_graphic_content(meta, node, token, value, &frame_name, &path, &type) &&
           insert_oo_do_graphic_style(meta, frame_name, value.justify) &&
           insert_oo_do_graphic_manifest(*meta->package, path, type);
}
