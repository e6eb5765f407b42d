// What a fatal report reads of the run: the program's data path, whether a program is loaded and
// a context runs, its error trap and exit status, and the program trace ring's lines.
#pragma once

#include <string>
#include <vector>

std::string ProgramDataPath();
bool ProgramLoaded();
void ProgramTraceLines(std::vector<std::string> &lines);
bool ContextRunning();
bool ErrorTrapArmed();
int ContextExitStatus();
void SetContextExitStatus(int status);
