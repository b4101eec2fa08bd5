#include <CLI/CLI.hpp>
#include "Common.h"
namespace vt { namespace cli {
Command AddBuild(CLI::App& app) {
    CLI::App* sub = app.add_subcommand("build", "Build a pyramid from a PNG or JPEG image");
    return {sub, [] { return 2; }};
}
}}
