// zasm: assembles readable text into a ZEMA object file (see README.md in this directory).
//
//   zasm [-o OUT] [-n NAME] [IN]     IN "-" or absent: standard input; OUT absent: standard output
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "mem_mgt.h"
#include "objfile.h"
#include "zasm_assembler.h"

int main(int argc, char **argv)
{
    std::string out_path, name, in_path = "-";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-o" && i + 1 < argc)
            out_path = argv[++i];
        else if (a == "-n" && i + 1 < argc)
            name = argv[++i];
        else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "usage: zasm [-o OUT] [-n NAME] [IN]\n");
            return 2;
        } else
            in_path = a;
    }
    if (name.empty()) {
        if (out_path.empty()) {
            std::fprintf(stderr, "zasm: give -n NAME when writing to standard output\n");
            return 2;
        }
        char *n = basic_obj_fname(out_path.c_str());
        name = n;
        sfree(n);
    }
    std::string object;
    try {
        if (in_path == "-") {
            object = ztools::assemble_text(std::cin, in_path, name);
        } else {
            std::ifstream in(in_path, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "zasm: cannot read %s\n", in_path.c_str());
                return 1;
            }
            object = ztools::assemble_text(in, in_path, name);
        }
    } catch (const ztools::AssemblyError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    if (out_path.empty()) {
        std::fwrite(object.data(), 1, object.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
    out.write(object.data(), static_cast<std::streamsize>(object.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "zasm: cannot write %s\n", out_path.c_str());
        return 1;
    }
    return 0;
}
