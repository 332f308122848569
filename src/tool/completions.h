// Shell completions of kestrune-adpcm, made from the command line's own definitions: its
// subcommands, each one's options, and the values of an option whose values are a set
// ("{perceptual,snr}" in its type, as CLI11's IsMember and the rate check describe it).
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace kestrune::tool {

// The completion script for `shell` ("bash" or "zsh"); empty for another shell.
std::string completionScript(const CLI::App& app, const std::string& shell);

}  // namespace kestrune::tool
