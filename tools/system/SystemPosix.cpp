// Linux implementation of the tools' operating-system services.
#include "System.h"

#include <cerrno>
#include <cstdio>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vt {
namespace sys {

bool RenameReplacing(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool StatusOf(const std::string& path, PathStatus& status) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    status.directory = S_ISDIR(st.st_mode);
    status.size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

const char* PathSeparators() { return "/"; }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

std::string ProgramFolder() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    const std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/') + 1);
}

std::string LoadedLibraryFolder(const std::string& fileName) {
    struct Search {
        const std::string& fileName;
        std::string folder;
    } search{fileName, ""};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            Search& s = *static_cast<Search*>(data);
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            const size_t slash = name.rfind('/');
            if (slash == std::string::npos || name.compare(slash + 1, std::string::npos, s.fileName) != 0) return 0;
            s.folder = name.substr(0, slash + 1);
            return 1;
        },
        &search);
    return search.folder;
}

void* LoadSymbol(const std::string& path, const char* symbol, std::string& error) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "cannot be loaded";
        return nullptr;
    }
    void* address = ::dlsym(library, symbol);
    if (address == nullptr) error = std::string("no ") + symbol + " in it";
    return address;
}

int RunInstead(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    ::execv(program.c_str(), argv.data());
    return -1;
}

}  // namespace sys
}  // namespace vt
