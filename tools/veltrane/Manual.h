// Help text in the shape of a manual page (NAME, SYNOPSIS, DESCRIPTION,
// ARGUMENTS, OPTIONS, EXIT STATUS, EXAMPLES), built from what each command
// declares to the command-line parser plus the prose it hands to Describe().
#ifndef VELTRANE_TOOLS_VELTRANE_MANUAL_H
#define VELTRANE_TOOLS_VELTRANE_MANUAL_H

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vt {
namespace cli {

// Makes `app` and every command added to it afterwards print manual pages.
void UseManualPages(CLI::App& app);

// The DESCRIPTION paragraphs (separated by blank lines) and EXAMPLES lines of
// a command's manual page.
void Describe(CLI::App* command, const std::string& description, const std::vector<std::string>& examples);

}  // namespace cli
}  // namespace vt

#endif  // VELTRANE_TOOLS_VELTRANE_MANUAL_H
