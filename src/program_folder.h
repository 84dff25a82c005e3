#pragma once

#include <string>

// The base folder of a program started as `program_path`: its folder part
// ("./quarn" gives ".", "/quarn" gives ""). For a bare name it is the folder
// of the file the shell ran: the first match on the search path, when it is
// this program (through a link, the link's folder, as when started by the
// link's path); otherwise the running program's own folder.
// Main thread (reads the environment).
std::string base_folder_for(const std::string& program_path);
