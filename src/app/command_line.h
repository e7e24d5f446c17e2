// The program's arguments, split the way the program reads them: blanks and control characters
// separate, double quotes group characters (blanks included) and are removed.
#ifndef KORVALE_APP_COMMAND_LINE_H
#define KORVALE_APP_COMMAND_LINE_H

#include <string>
#include <vector>

// Every argument, the program's own name first.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The process's command line, read wide and put together again with every argument quoted in the
// form the core opens: the name itself when the code page writes it, else its short form, else
// the name with "?" for the letters the code page lacks (which the open then reports).
std::string ProcessCommandLine();

#endif
