// Placeholder audio for prompts not recorded yet: their text spoken by a text-to-speech
// command, run without a shell, so that no text can become a command of its own.
#pragma once

#include <string>
#include <vector>

namespace kestrune::tool {

// espeak-ng with the language's voice; "--" keeps a text that starts with '-' a text.
inline constexpr const char* kDefaultSpeech = "espeak-ng -v {lang} -w {out} -- {text}";

// The words of a command template: split at spaces and tabs, with '...' or "..." keeping
// a word's spaces. False, with *problem, for a quote not closed, no words, or a template
// without {out}.
bool splitSpeechCommand(const std::string& command, std::vector<std::string>* words,
                        std::string* problem);

// Runs the command's words with {text}, {lang} and {out} put in, searching PATH for the
// program, its output on the tool's standard error. False, with *problem, when it cannot be
// run, fails, or writes nothing to out.
bool speak(const std::vector<std::string>& words, const std::string& text, const std::string& lang,
           const std::string& out, std::string* problem);

}  // namespace kestrune::tool
