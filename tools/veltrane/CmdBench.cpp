#include <CLI/CLI.hpp>
#include "Common.h"
namespace vt { namespace cli {
Command AddBench(CLI::App& app) {
    CLI::App* sub = app.add_subcommand("bench", "Decode every tile repeatedly and report throughput");
    return {sub, [] { return 2; }};
}
}}
