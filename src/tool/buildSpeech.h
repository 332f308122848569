// Placeholder audio for prompts not recorded yet: their text spoken by a text-to-speech
// command, run without a shell, so that no text can become a command of its own.
#pragma once

#include <string>
#include <vector>

#include "io/failure.h"

namespace kestrune::tool {

// espeak-ng with the language's voice; "--" keeps a text that starts with '-' a text.
inline constexpr const char* kDefaultSpeech = "espeak-ng -v {lang} -w {out} -- {text}";

// The words of a command template: split at spaces and tabs, with '...' or "..." keeping
// a word's spaces. Fails (kStatusUsage) for a quote not closed, no words, or a template
// without {out}.
detail::Outcome<std::vector<std::string>> splitSpeechCommand(const std::string& command);

// Runs the command's words with {text}, {lang} and {out} put in, searching PATH for the
// program, its output on the tool's standard error. Fails when it cannot be run
// (kStatusInputOpen), fails or writes nothing to out (kStatusRead).
detail::Done speak(const std::vector<std::string>& words, const std::string& text,
                   const std::string& lang, const std::string& out);

}  // namespace kestrune::tool
