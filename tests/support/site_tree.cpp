#include "site_tree.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace lumba_test {

namespace {

constexpr const char *SITE_MOUNT = "/usr/local/oska";
constexpr const char *DEBUGGER = "/usr/bin/gdb";

} // namespace

void lay_site_tree(const std::string &root)
{
    const fs::path oska = fs::path(root) / "oska";
    if (fs::is_directory(oska)) return;
    std::error_code error;
    fs::create_directories(fs::path(root) / "home/.oska", error);
    if (!error) fs::create_directories(fs::path(root) / "mail", error);
    if (!error) fs::copy(fs::path(LUMBA_SOURCE_DIR) / "site", oska, fs::copy_options::recursive, error);
    for (const char *dir : {"log", "temp", "crash", "scripts", "bin", "apps/unit0"})
        if (!error) fs::create_directories(oska / dir, error);
    // As on a real site, every user may write into temp.
    if (!error) fs::permissions(oska / "temp", fs::perms::all | fs::perms::sticky_bit, error);
    const fs::path mail = oska / "scripts/mailit-mutt-noatt.sh";
    if (!error)
        fs::copy_file(fs::path(LUMBA_SOURCE_DIR) / "tests/support/mail-stub.sh", mail,
                      fs::copy_options::overwrite_existing, error);
    if (!error) fs::permissions(mail, fs::perms(0755), error);
    if (error) throw std::runtime_error("cannot lay out the test site in " + root + ": " + error.message());
}

SiteEntry site_entry(const std::string &root, const char *debugger_wanted)
{
    SiteEntry::Debugger debugger = SiteEntry::Debugger::stub;
    if (debugger_wanted && std::string(debugger_wanted) == "gdb")
        debugger = SiteEntry::Debugger::real;
    else if (access(DEBUGGER, F_OK) != 0)
        debugger = SiteEntry::Debugger::none;
    return {root + "/oska", debugger};
}

const char *enter_site(const SiteEntry &entry)
{
    if (unshare(CLONE_NEWNS) != 0) return "cannot make a mount namespace";
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "cannot make the mounts private";
    if (mkdir(SITE_MOUNT, 0755) != 0 && errno != EEXIST) return "cannot make /usr/local/oska";
    if (mount(entry.oska.c_str(), SITE_MOUNT, nullptr, MS_BIND, nullptr) != 0) return "cannot mount the site";
    switch (entry.debugger) {
    case SiteEntry::Debugger::stub:
        if (mount("/bin/true", DEBUGGER, nullptr, MS_BIND, nullptr) != 0) return "cannot stand in for the debugger";
        break;
    case SiteEntry::Debugger::real:
        while (umount2(DEBUGGER, 0) == 0) {}
        break;
    case SiteEntry::Debugger::none:
        break;
    }
    return nullptr;
}

} // namespace lumba_test
