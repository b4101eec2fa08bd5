// The few operating-system services the tools, the pyramid writer and the
// tests need beyond the C++ standard library, on Linux and on Windows. The
// reader library has its own (reader/Platform.h); this is for the programs
// around it.
#ifndef VELTRANE_TOOLS_SYSTEM_H
#define VELTRANE_TOOLS_SYSTEM_H

#include <string>

namespace vt {
namespace sys {

// Renames `from` to `to`, replacing a file of that name if there is one, in
// one step: readers of `to` see the old file or the new, never a part. (On
// Windows rename() refuses an existing target; MoveFileEx replaces it.)
bool RenameReplacing(const std::string& from, const std::string& to);

}  // namespace sys
}  // namespace vt

#endif  // VELTRANE_TOOLS_SYSTEM_H
