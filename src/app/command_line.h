// The program's arguments, split the way the program reads them: blanks and control characters
// separate, double quotes group characters (blanks included) and are removed.
#ifndef KORVALE_APP_COMMAND_LINE_H
#define KORVALE_APP_COMMAND_LINE_H

#include <string>
#include <vector>

// Every argument, the program's own name first.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

#endif
