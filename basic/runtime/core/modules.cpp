#include "modules.h"

#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "message.h"

namespace {

// The directories a module is looked for in, in order.
std::vector<std::string> module_directories()
{
    std::vector<std::string> directories;
    std::string program(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", program.data(), program.size());
    if (n > 0 && static_cast<std::size_t>(n) < program.size()) {
        program.resize(static_cast<std::size_t>(n));
        const std::string bin = program.substr(0, program.rfind('/'));
        directories.push_back(bin.substr(0, bin.rfind('/')) + "/" LUMBA_INSTALL_MODULE_DIR);
    }
    directories.push_back(LUMBA_BUILD_MODULE_DIR);
    return directories;
}

} // namespace

const void *load_module(const char *file, const char *entry, const char *what)
{
    std::string tried;
    for (const std::string &directory : module_directories()) {
        const std::string path = directory + "/" + file;
        if (access(path.c_str(), F_OK) != 0) {
            tried += (tried.empty() ? "" : ", ") + path;
            continue;
        }
        // Every symbol bound now: a module that does not fit its libraries fails here, with the
        // loader's reason, rather than in the middle of a call.
        void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) Abort("%s not available: %s", what, dlerror());
        const void *table = dlsym(module, entry);
        if (!table) Abort("%s not available: %s", what, dlerror());
        return table;
    }
    Abort("%s not available: %s not found (looked for %s)", what, file, tried.c_str());
}
