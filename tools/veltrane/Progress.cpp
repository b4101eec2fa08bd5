#include "Progress.h"

#include <cstdio>
#include <utility>

#include <CLI/CLI.hpp>

#include "System.h"

namespace vt {
namespace cli {

namespace {

bool g_quiet = false;
Progress* g_onScreen = nullptr;  // the bar drawn last, to erase before a message

constexpr int kBarWidth = 30;

}  // namespace

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), shown_(!g_quiet && total > 0 && sys::IsTerminal(stderr)) {}

Progress::~Progress() {
    Erase();
    if (g_onScreen == this) g_onScreen = nullptr;
}

void Progress::Advance(uint64_t steps) {
    if (!shown_) return;
    done_ += steps;
    if (done_ >= total_) {
        // Finished: off the screen before the command prints its result.
        Erase();
        shown_ = false;
        return;
    }
    const int percent = static_cast<int>(done_ * 100 / total_);
    if (percent != drawn_) Draw(percent);
}

void Progress::Draw(int percent) {
    if (g_onScreen != nullptr && g_onScreen != this) g_onScreen->Erase();
    const int bar = percent * kBarWidth / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), bar, "##############################",
                 kBarWidth - bar, "", percent);
    std::fflush(stderr);
    drawn_ = percent;
    g_onScreen = this;
}

void Progress::Erase() {
    if (drawn_ < 0) return;
    // Blank the line the bar took: label, brackets, bar, percentage.
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kBarWidth + 8, "");
    std::fflush(stderr);
    drawn_ = -1;
}

void Progress::Interrupt() {
    if (g_onScreen != nullptr) g_onScreen->Erase();
}

void Progress::AddQuietOption(CLI::App* command) {
    command->add_flag("-q,--quiet", g_quiet, "show no progress bar (one is shown only when stderr is a terminal)");
}

}  // namespace cli
}  // namespace vt
