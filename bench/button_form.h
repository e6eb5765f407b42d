// The program the forms benchmarks run to build a form of button fields, as a program builds it:
// main (locals CM, R, IP and a 40-character IP$) makes a CM for a window and adds one button
// field per button, then the caller's attachments follow; `trivial` (cm, ind, ip, ip$) answers 1.
// The program is written, loaded and run here.
#pragma once

#include <string>
#include <vector>

#include <glib/gstdio.h>
#include <gtk/gtk.h>

#include "forms.h"
#include "intrinsics.h"
#include "object_writer.h"

namespace button_form {

inline long handle_of(const void *p) { return static_cast<long>(reinterpret_cast<std::uintptr_t>(p)); }

// main's start: CM := a CM for the window (ICATTACH_WINDOW), then ICADD of a button field Fk per
// button.
inline void write_fields(ObjectWriter &o, GtkWidget *window, const std::vector<GtkWidget *> &buttons)
{
    o.routine("main", 3, 40, 0);
    o.constant("0"), o.record(o_storrd, {0, 1, 0, 0, 0});
    o.record(o_loadrad, {0, 1, 0, 0, 0});
    o.constant(std::to_string(handle_of(window)).c_str());
    o.record(o_ipcall, {in_ICATTACH_WINDOW, 2});
    for (std::size_t k = 0; k < buttons.size(); ++k) {
        o.record(o_loadrvd, {0, 1, 0, 0, 0});
        o.constant("-1");
        o.text(("F" + std::to_string(k + 1)).c_str());
        o.constant("0"), o.constant("0");
        o.constant(std::to_string(handle_of(buttons[k])).c_str());
        for (const char *v : {"0", "3", "1", "3", "0"}) o.constant(v);
        o.record(o_ifcallr, {in_ICADD, 11});
        o.record(o_storrd, {1, 1, 0, 0, 0});
    }
}

// ICATTACH_FUN(code, trivial, CM, index, IP, IP$).
inline void write_attach(ObjectWriter &o, const char *code, int index)
{
    o.text(code);
    o.constant("1");
    o.record(o_loadrvd, {0, 1, 0, 0, 0});
    o.constant(std::to_string(index).c_str());
    o.record(o_loadrad, {2, 1, 0, 0, 0});
    o.record(o_loadsad, {0, 1, 40, 0, 0, 0, 0, 0});
    o.record(o_ipcall, {in_ICATTACH_FUN, 6});
}

// Ends main, adds `trivial` and the symbols, writes the program, loads and runs it; answers the
// newest CM.
inline ControlMatrix_t *run(ObjectWriter &o, const char *name)
{
    o.record(o_exit, {});
    o.routine("trivial", 0, 0, 4, o__nfunc);
    o.constant("1");
    o.record(o_exitv, {});
    o.section(o_symtab, "__ROUTINE__ main 4\nCM 0 0 0x12 0 1 -\nR 0 0 0x12 1 2 -\nIP 0 0 0x12 2 3 -\n"
                        "IP$ 40 0 0x14 0 4 -\n__END_ROUTINE__\n");
    o.section(o_symtab, "__ROUTINE__ trivial 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
                        "IP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n");
    char *dir = g_dir_make_tmp("forms-bench-XXXXXX", nullptr);
    const std::string path = std::string(dir) + "/" + name;
    o.save(path, name, 3, 40);
    Interp_t *context = load_object(path);
    g_unlink(path.c_str());
    g_rmdir(dir);
    g_free(dir);
    sp = -1;
    depth = 0;
    push_interpreter(context, nullptr, "");
    Execute(context->code[0]);
    return global_data->last_cm;
}

} // namespace button_form
