// The image field: a picture (a file, a small themed icon, or the site's place-holder picture)
// inside a button, so that it takes the focus and clicks like other fields; and plain images made
// without a field. IGIMAGE_PRINT prefers a picture's thumbnail (gchooser.h).
//
// Picture codes: 1 "object-select", 2 "window-close", 3 "list-add", 4 "process-stop",
// 5 "document-print" (icons at the normal icon size); any other code, and a picture text of 4
// characters or fewer, stands for the place-holder PPATH/graphics/place_Image.png. Pictures show
// at their own size; one larger than the field's size (or, without one, than the application
// area) is loaded scaled down into it.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

struct Stack;

// The field record (kind CM_FIELD_TYPE_GIMAGE, internal code 108), owned by its attachment.
struct image_data {
    int type;
    ControlMatrix_t *cm;
    int index;
    GtkWidget *frame;     // a container placed instead of the button when set; never set here
    GtkWidget *button;    // the GtkButton that is the field's widget
    GtkWidget *image;     // the GtkPicture inside the button: pictures at their size, icons at 16 px
    GdkPixbuf *picture;   // the picture shown, with a reference of its own; nullptr for icons or none
    int width, height;    // the image's size request, used only when both are above 0
};

// Shows a picture in field index: from file when given (a picture that cannot be read shows
// nothing), else the picture of code. Also clears the field (code 0, no file).
void gimage_update(ControlMatrix_t *cm, int index, int code, const char *file);

// The rows of the image kind in the forms engine's and the widgets' tables.
void gimage_register_kind();

// ---- Intrinsics -------------------------------------------------------------------------------------------
void igimage_new(int nargs, int last, Stack *result);  // IGIMAGE_NEW
void igimage_print(int nargs, int last);               // IGIMAGE_PRINT
