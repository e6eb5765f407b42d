// Showing and hiding the parts of form fields and other widgets, writing text into them, window
// titles and tooltips.
#pragma once

struct Stack;

// Cuts a program text in place after its last character that is not a space (code 32 only; tabs
// stay); a text of spaces becomes empty.
void gprint_strip(char *text);

// ---- Intrinsics ------------------------------------------------------------------------------------
void igwshow(int nargs, int last);              // IGWSHOW
void igwhide(int nargs, int last);              // IGWHIDE
void igwsimpleshow(int nargs, int last);        // IGWSIMPLESHOW
void igshow(int nargs, int last);               // IGSHOW
void ighide(int nargs, int last);               // IGHIDE
void igprint(int nargs, int last);              // IGPRINT
void igprint_not_escaped(int nargs, int last);  // IGPRINT_NOT_ESCAPED
void igprint_title(int nargs, int last);        // IGPRINT_TITLE
void igtooltip_set(int nargs, int last);        // IGTOOLTIP_SET
