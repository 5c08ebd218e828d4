#pragma once
// One line of text for whoever started the program from a console or a
// script. The program is a GUI program and has no console of its own: the
// line goes to a redirected standard output (a pipe or a file, so that
// "upgrade_tool.exe --check | findstr" and a detection script read it), else
// to the console of the parent process when there is one, else nowhere.
#include <string>

namespace ParentConsole {

// Gives true when the line reached an output.
bool WriteLine(const std::wstring& line);

}  // namespace ParentConsole
