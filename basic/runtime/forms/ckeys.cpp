// The function-key handlers of the key events, which the soft-key bar replays: they stop the run
// until key events are built, so a press never passes for handled.
#include "cevents.h"
#include "message.h"

void on_key_press_fn(GtkWidget *, guint, GlobalData_t *)
{
    Abort("Key events not available");
}

void on_key_press_f3(GtkWidget *, guint, GlobalData_t *)
{
    Abort("Key events not available");
}

void on_key_press_f5(GtkWidget *, GlobalData_t *)
{
    Abort("Key events not available");
}

int on_key_press_f8(GtkWidget *, GtkEventController *, GlobalData_t *, int, int)
{
    Abort("Key events not available");
}

void on_key_press_f9(GtkWidget *, GlobalData_t *, guint)
{
    Abort("Key events not available");
}

int on_key_press_f12(GtkWidget *, GtkEventController *, GlobalData_t *, int)
{
    Abort("Key events not available");
}
