// The few operating-system services the tools, the pyramid writer and the
// tests need beyond the C++ standard library, on Linux and on Windows. The
// reader library has its own (reader/Platform.h); this is for the programs
// around it. One implementation per platform sits beside this header
// (SystemPosix.cpp, SystemWin32.cpp), chosen by the build; the programs hold
// no platform switches of their own.
#ifndef VELTRANE_TOOLS_SYSTEM_H
#define VELTRANE_TOOLS_SYSTEM_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vt {
namespace sys {

// Renames `from` to `to`, replacing a file of that name if there is one, in
// one step: readers of `to` see the old file or the new, never a part. (On
// Windows rename() refuses an existing target; MoveFileEx replaces it.) On
// failure errno says why.
bool RenameReplacing(const std::string& from, const std::string& to);

// What a path names. Sizes are 64-bit everywhere (a `long` is 32 bits on
// Windows).
struct PathStatus {
    bool directory = false;
    uint64_t size = 0;  // of a file
};
// False, with errno set, when the path names nothing that can be looked at.
bool StatusOf(const std::string& path, PathStatus& status);

// Creates a folder; false with errno set (EEXIST when the name is taken).
bool MakeFolder(const std::string& path);

// The characters that separate a path's folders: '/', and on Windows '\' too.
const char* PathSeparators();

// Whether `stream` is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// The folder this program's executable is in, ending in a separator; empty
// when it cannot be learnt.
std::string ProgramFolder();

// The folder a shared library loaded into this process (named by its file
// name: "libOrvanel.so.0", "Orvanel.dll") came from, ending in a separator;
// empty when no library of that name is loaded.
std::string LoadedLibraryFolder(const std::string& fileName);

// Loads the shared library at `path` for this caller alone (its symbols do
// not stand in for those of libraries already loaded) and returns the
// address of `symbol` in it; null with `error` set when either fails.
void* LoadSymbol(const std::string& path, const char* symbol, std::string& error);

// Runs `program` with `args` (args[0] is its name) in this process's place
// and with its standard streams. On Linux the program replaces this one, so
// the call returns only on failure (-1, errno set). Windows has no such
// replacement: the program runs as a child, and the call returns its exit
// status once it ends (-1, errno set, when it cannot be started).
int RunInstead(const std::string& program, const std::vector<std::string>& args);

}  // namespace sys
}  // namespace vt

#endif  // VELTRANE_TOOLS_SYSTEM_H
