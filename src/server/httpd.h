// httpd.h: the web viewer server and the script list of its viewer page.
#pragma once

#include <array>
#include <string>

inline constexpr int MAX_JSCRIPT = 10;

extern std::array<std::string, MAX_JSCRIPT> msg_jscript_srcp;  // script URLs from the command line
extern int n_jscript;  // entries in use; 0 = the built-in defaults

// Replaces the script list with the tokens of str (separated by runs of space, ';' and '"'),
// at most 10; writes "script: %s\n" for each. Null or empty: nothing. Start-up only.
void set_jscript_src(const char *str);
