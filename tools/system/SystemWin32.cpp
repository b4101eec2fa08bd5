// Windows implementation of the tools' operating-system services. File names
// are in the ANSI code page throughout, as the C runtime's fopen and the
// reader's CreateFileA take them.
#include "System.h"

#include <cerrno>
#include <cstdio>

#include <direct.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace vt {
namespace sys {

namespace {

// errno for the Win32 error of a failed call, so that callers report every
// failure the one way (strerror).
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EACCES;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        default: return EIO;
    }
}

std::string FolderOf(const std::string& path) {
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string ModulePath(HMODULE module) {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(module, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return "";
        if (n < path.size()) return path.substr(0, n);
        if (path.size() >= 32768) return "";  // longer than any Windows path
        path.resize(path.size() * 2);
    }
}

// One argument as the C runtime of the started program splits its command
// line back into arguments: quoted when it is empty or holds blanks or
// quotes, a quote escaped by a backslash, and the backslashes before a quote
// (or before the closing quote) doubled.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    out += '"';
    return out;
}

}  // namespace

bool RenameReplacing(const std::string& from, const std::string& to) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)
        return true;
    errno = ErrnoOf(::GetLastError());
    return false;
}

bool StatusOf(const std::string& path, PathStatus& status) {
    struct _stat64 st;
    if (::_stat64(path.c_str(), &st) != 0) return false;
    status.directory = (st.st_mode & _S_IFDIR) != 0;
    status.size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool MakeFolder(const std::string& path) { return ::_mkdir(path.c_str()) == 0; }

const char* PathSeparators() { return "/\\"; }

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

std::string ProgramFolder() { return FolderOf(ModulePath(nullptr)); }

std::string LoadedLibraryFolder(const std::string& fileName) {
    HMODULE module = ::GetModuleHandleA(fileName.c_str());
    return module != nullptr ? FolderOf(ModulePath(module)) : std::string();
}

void* LoadSymbol(const std::string& path, const char* symbol, std::string& error) {
    HMODULE library = ::LoadLibraryA(path.c_str());
    if (library == nullptr) {
        error = "cannot be loaded (Windows error " + std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    void* address = reinterpret_cast<void*>(::GetProcAddress(library, symbol));
    if (address == nullptr) error = std::string("no ") + symbol + " in it";
    return address;
}

int RunInstead(const std::string& program, const std::vector<std::string>& args) {
    // _spawnv joins the arguments with blanks into one command line: each is
    // quoted so that the program gets them back as they were.
    std::vector<std::string> quoted;
    for (const std::string& a : args) quoted.push_back(Quoted(a));
    std::vector<const char*> argv;
    for (const std::string& a : quoted) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    const intptr_t status = ::_spawnv(_P_WAIT, program.c_str(), argv.data());
    return status < 0 ? -1 : static_cast<int>(status);
}

}  // namespace sys
}  // namespace vt
