// Soft-key slots of a CM: the buttons of its soft-key bar with the action code each stands for,
// made sensitive for exactly the keys that have something attached for the focused field.
#include "cfunctionkey.h"

#include "message.h"

namespace {

// The slot of the sensitivity vector a code follows, or -1.
int slot_of(std::uint32_t code)
{
    if (code == AC_ESCAPE) return 0;
    if (code == AC_SCREEN_CAPTURE) return 4;
    if (code >= 51 && code <= 53) return static_cast<int>(code) - 50;
    if (code >= 55 && code <= AC_F12) return static_cast<int>(code) - 50;
    return -1;
}

void unlink(ControlMatrix_t *cm, FunctionKey_t *k)
{
    if (k->prior)
        k->prior->next = k->next;
    else
        cm->function_keys = k->next;
    if (k->next) k->next->prior = k->prior;
}

} // namespace

void cfunctionkey_add(ControlMatrix_t *cm, GtkWidget *button, std::uint32_t action_code)
{
    FunctionKey_t *tail = nullptr;
    for (FunctionKey_t *k = cm->function_keys, *next; k; k = next) {
        next = k->next;
        if (k->button == button) {
            unlink(cm, k);
            g_free(k);
        } else {
            tail = k;
        }
    }
    auto *k = static_cast<FunctionKey_t *>(g_try_malloc0(sizeof(FunctionKey_t)));
    if (!k)
        Abort("icfunctionkey_add: No memory for widget entry on {0x%lX, %u}",
              static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(button)), action_code);
    k->button = button;
    k->action_code = action_code;
    k->prior = tail;
    if (tail)
        tail->next = k;
    else
        cm->function_keys = k;
}

void cfunctionkey_delete(ControlMatrix_t *cm)
{
    while (FunctionKey_t *k = cm->function_keys) {
        cm->function_keys = k->next;
        g_free(k);
    }
}

void cfunctionkey_set(ControlMatrix_t *cm, const int flags[CM_SOFT_KEYS])
{
    for (FunctionKey_t *k = cm->function_keys; k; k = k->next)
        if (const int slot = slot_of(k->action_code); slot >= 0)
            gtk_widget_set_sensitive(k->button, flags[slot] != 0);
}
