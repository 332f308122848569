// kestrune-adpcm build MANIFEST -d OUT: a prompt set, per language an image, its JSON
// manifest and one C header of IDs, incrementally; --check says what a build would change.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>

#include "tool/buildSet.h"
#include "tool/options.h"

namespace kestrune::tool {

struct BuildCli {
    CLI::App* app = nullptr;
    BuildArgs args;
    EncodeOptions encode;
};

// Adds the options to the subcommand (the encode options among them, set-wide).
void defineBuild(CLI::App* c, BuildCli* build);
int runBuild(BuildCli& build);

}  // namespace kestrune::tool
