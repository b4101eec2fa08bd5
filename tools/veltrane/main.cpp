// veltrane: reads, checks and builds tile pyramid files from a shell.
//
// Exit status: 0 success, 1 a finding (a bad tile, a damaged file, a file
// that cannot be read for any reason), 2 bad usage of the command line
// (unknown options, tiles that do not exist, a payload kind the edition
// does not read).
#include <cstdio>
#include <exception>
#include <new>
#include <vector>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "Manual.h"

int main(int argc, char** argv) {
    using namespace vt::cli;
    SetCommandLine(argc, argv);
    CLI::App app{"Read, check and build tile pyramid files"};
    app.name("veltrane");
    // Options start with '-' on every platform: on Windows CLI11 would also
    // take "/x" for an option, and every absolute path a user gives with
    // forward slashes looks like one. Set before the commands are added,
    // which take it over.
    app.allow_windows_style_options(false);
    UseManualPages(app);
    app.set_help_flag("-h,--help", "print this help and exit");
    app.require_subcommand(1, 1);
    app.set_version_flag("--version", "veltrane " VT_VERSION)->description("print the version and exit");
    app.footer("Run 'veltrane COMMAND --help' for the arguments and options of a command.");
    Describe(&app,
             "A tile pyramid file holds one georeferenced raster cut into square tiles at several levels of detail: "
             "level 0 is one tile for the whole area, each finer level has twice as many tiles along each side. "
             "veltrane shows what a file holds, decodes and checks its tiles through the library, writes tiles and "
             "whole levels as images and textures, measures decoding speed, and builds files from images.\n\n"
             "A file does not record which payload kind it holds; the commands that decode tiles take --kind and "
             "otherwise guess it from the first payloads and say so. Messages go to stderr, each line starting with "
             "'veltrane:'; mosaic, build, verify and bench draw a progress bar there when it is a terminal.",
             {"veltrane sample samples", "veltrane info samples/image.vtp", "veltrane verify samples/image.vtp",
              "veltrane mosaic samples/image.vtp 2 -o level2.png"});

    std::vector<Command> commands = {AddSample(app), AddBuild(app), AddInfo(app),      AddExtract(app),
                                     AddMosaic(app), AddVerify(app), AddElevation(app), AddBench(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // One line, like every other message, naming the command whose help tells more.
        std::string where = "veltrane";
        for (const CLI::App* sub = &app; !sub->get_subcommands().empty();) {
            sub = sub->get_subcommands().front();
            where += " " + sub->get_name();
        }
        std::string what = e.what();
        if (app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-')
            what = std::string("'") + argv[1] + "' is not a command";
        for (char& c : what)
            if (c == '\n') c = ' ';
        Say(what + " (see '" + where + " --help')");
        return kExitUsage;
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
