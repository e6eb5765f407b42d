#include "zasm_run.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <glib.h>

namespace lumba_test {

namespace {

std::string run(std::vector<std::string> argv)
{
    std::vector<char *> cargv;
    for (auto &a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    char *out = nullptr, *err = nullptr;
    int status = 0;
    GError *error = nullptr;
    if (!g_spawn_sync(nullptr, cargv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err, &status,
                      &error)) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot run " + argv[0] + ": " + message);
    }
    std::string o = out ? out : "", e = err ? err : "";
    g_free(out);
    g_free(err);
    if (!g_spawn_check_wait_status(status, nullptr)) throw std::runtime_error(argv[0] + " failed: " + e);
    return o;
}

} // namespace

void zasm(const std::string &text, const std::string &path)
{
    std::string source = path + ".zasm";
    write_bytes(source, text);
    run({LUMBA_ZASM, "-o", path, source});
}

std::string zdis(const std::string &path)
{
    return run({LUMBA_ZDIS, path});
}

std::string read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_bytes(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace lumba_test
