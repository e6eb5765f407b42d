// A locale whose decimal point is a comma, made for the test with localedef into a temporary
// LOCPATH and set for the whole process as gtk_init sets the user's locale in windows mode.
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace lumba_test {

class CommaLocale {
public:
    CommaLocale()
    {
        char dir[] = "/tmp/comma-locale.XXXXXX";
        if (!mkdtemp(dir)) return;
        dir_ = dir;
        const std::string command = "localedef -i de_DE -f UTF-8 " + dir_ + "/de_DE.UTF-8 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        setenv("LOCPATH", dir_.c_str(), 1);
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
    ~CommaLocale()
    {
        std::setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    CommaLocale(const CommaLocale &) = delete;
    CommaLocale &operator=(const CommaLocale &) = delete;

    // True once the locale is in effect with its decimal comma.
    bool active() const { return active_ && std::localeconv()->decimal_point[0] == ','; }

private:
    std::string dir_;
    bool active_ = false;
};

} // namespace lumba_test
