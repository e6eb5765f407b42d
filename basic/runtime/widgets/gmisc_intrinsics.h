// The intrinsics of the widget handle (removing and naming widgets, separators, a widget's
// parent) and ISHOW_URI.
#pragma once

struct Stack;

void igdelete_widget(int nargs, int last);                   // IGDELETE_WIDGET
void igwidget_set_name(int nargs, int last);                 // IGWIDGET_SET_NAME
void ighseparator_new(int nargs, int last, Stack *result);  // IGHSEPARATOR_NEW
void igvseparator_new(int nargs, int last, Stack *result);  // IGVSEPARATOR_NEW
void igwget_parent(int nargs, int last, Stack *result);     // IGWGET_PARENT
void ishow_uri(int nargs, int last);                         // ISHOW_URI
