// Constants of the run-time: the site tree, exit statuses and the version texts.
#pragma once

// Every site path derives from PPATH.
#define PPATH_ROOT "/usr/local/oska"
#define APPS_ROOT PPATH_ROOT "/apps"
#define CONF_DIR PPATH_ROOT "/conf"
#define LOG_DIR PPATH_ROOT "/log"
#define TEMP_DIR PPATH_ROOT "/temp"
#define SCRIPTS_DIR PPATH_ROOT "/scripts"

inline constexpr int EXIT_NEWRUN = -1;  // restart with the same arguments
inline constexpr int EXIT_NEWDB = -2;   // restart with a fresh database and session environment

inline constexpr const char *LUMBA_VERSION = "15.06.111";
inline constexpr const char *LUMBA_ISSUE = "V15";
inline constexpr const char *LUMBA_REVISION = "70";
