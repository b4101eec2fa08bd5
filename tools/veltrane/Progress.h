// The progress bar of the long-running commands (mosaic, build, verify,
// bench): one line on stderr, redrawn in place, shown only when stderr is a
// terminal and --quiet was not given, so that logs and pipes get only the
// messages themselves.
#ifndef VELTRANE_TOOLS_VELTRANE_PROGRESS_H
#define VELTRANE_TOOLS_VELTRANE_PROGRESS_H

#include <cstdint>
#include <string>

namespace CLI {
class App;
}

namespace vt {
namespace cli {

class Progress {
public:
    // A bar for `total` steps, labelled with what is being done.
    Progress(std::string label, uint64_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Counts `steps` more steps done; redraws when the percentage changes,
    // and takes the bar away when all are done.
    void Advance(uint64_t steps = 1);

    // Takes the bar off the screen so that a message line can be printed; the
    // next Advance() draws it again. Say() calls it for the bar on screen.
    static void Interrupt();

    // Adds -q/--quiet to a command that shows progress.
    static void AddQuietOption(CLI::App* command);

private:
    void Draw(int percent);
    void Erase();

    std::string label_;
    uint64_t total_, done_ = 0;
    bool shown_;
    int drawn_ = -1;  // the percentage on screen, -1 when nothing is
};

}  // namespace cli
}  // namespace vt

#endif  // VELTRANE_TOOLS_VELTRANE_PROGRESS_H
