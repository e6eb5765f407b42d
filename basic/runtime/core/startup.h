// Start-up of lumba_run (main calls it; it never returns).
#pragma once

[[noreturn]] int lumba_main(int argc, char **argv);

// The program arguments of the two-or-more parameter form: ARGC elements of ARGV_width bytes.
extern char *ARGV;
extern int ARGV_width;

// Once GTK has opened the display: a lost connection to the X server ends the run through
// display_lost.
void watch_display();
// Once GTK has opened the display: a window another X client destroys is closed as the user
// closes it, and an X error GDK would end the process for ends the run through finish.
void watch_x_errors();
