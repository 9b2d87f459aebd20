#pragma once

#include <string>

// Where the running program lies. Each platform has its own file (ProgramFolder_linux.cpp,
// ProgramFolder_win.cpp). Paths are UTF-8 on Windows, the file system's bytes on Linux.

// The folder of the running program, ending with the platform's separator; "" on any error.
std::string ProgramFolder() noexcept;
// The platform's path separator: '\\' on Windows, '/' elsewhere.
char PathSeparator() noexcept;
