// The file and image choosers and the small picture store around the image chooser.
//
// A chooser is a modal open-file dialog confined to a top directory: the program goes on at once
// and meets the chosen path later, as IP$ of the routine attached to the field for
// Post_File_Chooser or Post_Image_Chooser. Every picture may have a thumbnail: a 125 x 125 copy
// on a white square, named "tmb_" and the picture's name, in the ".thumb" directory beside it
// (symbolic links resolved first). Thumbnails are made and turned by ImageMagick's convert, run
// with an argument vector: picture names never reach a shell.
#pragma once

#include <string>

#include <gtk/gtk.h>

#include "forms.h"

struct Stack;

// One open dialog, from its intrinsic to its answer (owned by the dialog, freed with it).
struct ChooserData {
    ControlMatrix_t *cm;  // the control matrix of the field
    int index;            // the field index
    GtkWidget *dialog;    // the GtkFileChooserDialog
    char *top;            // the top directory, as the program gave it (owned)
    std::string top_real; // the top directory with every link and "." or ".." resolved
    guint guard;          // the folder guard's timeout source
};

// ---- The picture store --------------------------------------------------------------------------------
// Names inside a thumbnail directory are refused: "Not permitted to reference the thumbnail of an
// image %s" (a name shorter than 3 characters: "Invalid file name %s").
void gimagechooser_thumbdir_check(const char *name);
// The thumbnail directory ("<dir>/.thumb/") and thumbnail path of a picture; false (both empty)
// when the picture, links followed, is no regular file.
bool gimagechooser_get_thumbnail_name(const char *image, std::string *directory, std::string *thumbnail);
// The picture's type by content must match its extension (png, bmp, gif, jpg); each mismatch ends
// the run with its own message.
void gimagechooser_thumbnail_val(const char *image);
// The name must end in ".png", ".jpg", ".gif" or ".bmp" (any case), or ".jpeg" when jpeg is set.
void gimagechooser_val_extension(const char *name, bool jpeg);
// Makes (or remakes) the picture's thumbnail, creating its thumbnail directory when needed. A
// convert that fails is logged and leaves no new thumbnail.
void gimagechooser_create_thumbnail(const char *image);
// The path to show for a picture: 1 and its thumbnail when that exists as a regular file (the
// picture's type checked against its extension on the way), else 0 and the picture's own path.
int gimagechooser_get_thumbnail(const char *image, std::string *path);

// ---- Intrinsics ---------------------------------------------------------------------------------------
void igfilechooser_new(int nargs, int last);      // IGFILECHOOSER_NEW
void igimagechooser_new(int nargs, int last);     // IGIMAGECHOOSER_NEW
void igimagechooser_copy(int nargs, int last);    // IGIMAGECHOOSER_COPY
void igimagechooser_rotate(int nargs, int last);  // IGIMAGECHOOSER_ROTATE

// ---- For tests ------------------------------------------------------------------------------------------
// Whether path lies in top (or is top), comparing whole components of both paths once every link
// and "." or ".." is resolved; a path that does not exist lies nowhere.
bool gchooser_inside(const std::string &top_real, const char *path);
