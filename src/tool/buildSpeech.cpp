#include "tool/buildSpeech.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool/paths.h"
#include "tool/report.h"

extern char** environ;

namespace kestrune::tool {

detail::Outcome<std::vector<std::string>> splitSpeechCommand(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (const char c : command) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c, inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(word);
            word.clear(), inWord = false;
        } else {
            word += c, inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    const auto fault = [](const char* why) { return detail::Failure{kStatusUsage, why}; };
    if (quote != 0) return fault("a quote in the command is not closed");
    if (words.empty()) return fault("the command is empty");
    if (command.find("{out}") == std::string::npos) return fault("the command has no {out}");
    return words;
}

detail::Done speak(const std::vector<std::string>& words, const std::string& text,
                   const std::string& lang, const std::string& out) {
    std::vector<std::string> args;
    for (std::string w : words) {
        for (const auto& [key, value] : {std::pair<std::string, const std::string&>{"{text}", text},
                                         {"{lang}", lang},
                                         {"{out}", out}}) {
            // Put in once each, left to right: what is put in is never searched again.
            for (std::size_t at = 0; (at = w.find(key, at)) != std::string::npos;) {
                w.replace(at, key.size(), value);
                at += value.size();
            }
        }
        args.push_back(std::move(w));
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fileno(messages()), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(messages()), STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return detail::Failure{kStatusInputOpen,
                               "cannot run " + args[0] + ": " + std::strerror(spawned)};
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    struct stat st {};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return detail::Failure{
            kStatusRead,
            args[0] + (WIFEXITED(status)
                           ? " failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                           : " was killed")};
    }
    if (stat(out.c_str(), &st) != 0 || st.st_size == 0) {
        return detail::Failure{kStatusRead, args[0] + " wrote nothing"};
    }
    return {};
}

}  // namespace kestrune::tool
