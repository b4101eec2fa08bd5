// veltrane: reads, checks and builds tile pyramid files from a shell.
//
// Exit status: 0 success, 1 a finding (a bad tile, an unreadable or damaged
// file), 2 bad usage (unknown options, tiles that do not exist, a payload kind
// the file does not hold).
#include <cstdio>
#include <exception>
#include <new>
#include <vector>

#include <CLI/CLI.hpp>

#include "Common.h"

int main(int argc, char** argv) {
    using namespace vt::cli;
    SetCommandLine(argc, argv);
    CLI::App app{
        "veltrane: read, check and build tile pyramid files (georeferenced rasters cut into tiles at several "
        "levels of detail)."};
    app.name("veltrane");
    app.require_subcommand(1, 1);
    app.footer("Run 'veltrane COMMAND --help' for the options of a command.");

    std::vector<Command> commands = {AddSample(app), AddBuild(app), AddInfo(app),      AddExtract(app),
                                     AddMosaic(app), AddVerify(app), AddElevation(app), AddBench(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    try {
        for (Command& command : commands)
            if (command.app->parsed()) return command.run();
    } catch (const Failure& failure) {
        Say(failure.message);
        return failure.code;
    } catch (const std::bad_alloc&) {
        Say("out of memory");
        return kExitFinding;
    } catch (const std::exception& e) {
        Say(e.what());
        return kExitFinding;
    }
    return kExitUsage;
}
