// The subcommands, one row each. A new one is a file that defines its Subcommand and a
// make function, and a row here.
#include <array>

#include "tool/subcommand.h"

namespace kestrune::tool {

std::unique_ptr<Subcommand> makeEncode();
std::unique_ptr<Subcommand> makeReport();
std::unique_ptr<Subcommand> makeDecode();
std::unique_ptr<Subcommand> makePack();
std::unique_ptr<Subcommand> makeBuild();
std::unique_ptr<Subcommand> makeUnpack();
std::unique_ptr<Subcommand> makeInfo();
std::unique_ptr<Subcommand> makeCompletions();

std::span<const SubcommandRow> subcommands() {
    static constexpr std::array rows = {
        SubcommandRow{"encode", "Recordings of any common format to device files", makeEncode},
        SubcommandRow{"report", "A listening report (HTML) of device files and sources",
                      makeReport},
        SubcommandRow{"decode", "Device files to mono 16-bit WAV", makeDecode},
        SubcommandRow{"pack", "Prompts into one image for the firmware", makePack},
        SubcommandRow{"unpack", "An image's device files back into a folder, as NAME-ID.adp",
                      makeUnpack},
        SubcommandRow{"info", "What device files hold", makeInfo},
        SubcommandRow{"build", "A prompt set from a CSV manifest: per language an image; IDs kept",
                      makeBuild},
        SubcommandRow{"completions", "A shell completion script", makeCompletions},
    };
    return rows;
}

}  // namespace kestrune::tool
