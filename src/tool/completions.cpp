#include "tool/completions.h"

#include <cstdio>
#include <vector>

#include "tool/subcommand.h"

namespace kestrune::tool {

namespace {

struct Flag {
    std::vector<std::string> names;  // "-o", "--output"
    std::string help;
    bool takesValue = false;
    std::vector<std::string> values;  // a set of values, when the option has one
};

struct Command {
    std::string name, help;
    std::vector<Flag> flags;
};

// The set in a type such as "TEXT:{perceptual,snr}", or the whole numbers of a short range
// such as "INT in [0 - 9]"; empty when there is none.
std::vector<std::string> valueSet(const std::string& type) {
    std::vector<std::string> values;
    int low = 0, high = 0;
    const std::size_t range = type.find(" in [");
    if (range != std::string::npos &&
        std::sscanf(type.c_str() + range, " in [%d - %d]", &low, &high) == 2 && high - low < 20) {
        for (int v = low; v <= high; ++v) values.push_back(std::to_string(v));
        return values;
    }
    const std::size_t open = type.find('{'), close = type.find('}', open);
    if (open == std::string::npos || close == std::string::npos) return values;
    std::string item;
    for (const char c : type.substr(open + 1, close - open - 1)) {
        if (c == ',') {
            values.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    values.push_back(item);
    return values;
}

std::vector<Flag> flagsOf(const CLI::App& app) {
    std::vector<Flag> flags;
    for (const CLI::Option* o : app.get_options(
             [](const CLI::Option* o) { return o->nonpositional() && !o->get_group().empty(); })) {
        Flag f;
        for (const std::string& s : o->get_snames()) f.names.push_back("-" + s);
        for (const std::string& l : o->get_lnames()) f.names.push_back("--" + l);
        f.help = o->get_description();
        f.takesValue = o->get_expected_max() > 0;
        f.values = valueSet(o->get_type_name());
        flags.push_back(std::move(f));
    }
    return flags;
}

std::vector<Command> commandsOf(const CLI::App& app) {
    std::vector<Command> commands;
    for (const CLI::App* sub :
         app.get_subcommands([](const CLI::App* a) { return !a->get_group().empty(); })) {
        commands.push_back({sub->get_name(), sub->get_description(), flagsOf(*sub)});
    }
    return commands;
}

std::string joined(const std::vector<std::string>& words, const char* between = " ") {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : between) + w;
    return out;
}

// Text inside zsh's single quotes and _arguments' brackets.
std::string zshText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else if (c == '[' || c == ']' || c == ':' || c == '\\') {
            out += std::string("\\") + c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string bash(const std::string& tool, const std::vector<Command>& commands,
                 const std::vector<Flag>& top) {
    std::vector<std::string> names;
    for (const Command& c : commands) names.push_back(c.name);
    std::vector<std::string> topNames;
    for (const Flag& f : top) topNames.insert(topNames.end(), f.names.begin(), f.names.end());
    std::string s = "# bash completion for " + tool + "\n_kestrune_adpcm() {\n" +
                    "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n" +
                    "    COMPREPLY=()\n    if ((COMP_CWORD == 1)); then\n" +
                    "        COMPREPLY=($(compgen -W '" + joined(names) + " " + joined(topNames) +
                    "' -- \"$cur\"))\n        return\n    fi\n" + "    case ${COMP_WORDS[1]} in\n";
    for (const Command& c : commands) {
        std::vector<std::string> all;
        std::string values;
        for (const Flag& f : c.flags) {
            all.insert(all.end(), f.names.begin(), f.names.end());
            if (!f.values.empty()) {
                values += "        " + joined(f.names, "|") + ") COMPREPLY=($(compgen -W '" +
                          joined(f.values) + "' -- \"$cur\")); return ;;\n";
            } else if (f.takesValue) {
                values += "        " + joined(f.names, "|") + ") return ;;\n";
            }
        }
        s += "    " + c.name + ")\n        case $prev in\n" + values + "        esac\n" +
             "        [[ $cur == -* ]] && COMPREPLY=($(compgen -W '" + joined(all) +
             "' -- \"$cur\")) ;;\n";
    }
    return s + "    esac\n}\ncomplete -o default -F _kestrune_adpcm " + tool + "\n";
}

std::string zsh(const std::string& tool, const std::vector<Command>& commands) {
    std::string s =
        "#compdef " + tool + "\n_kestrune_adpcm() {\n    local -a commands\n" + "    commands=(\n";
    for (const Command& c : commands) s += "        '" + c.name + ":" + zshText(c.help) + "'\n";
    s += "    )\n    if (( CURRENT == 2 )); then\n        _describe command commands\n" +
         std::string("        return\n    fi\n    case $words[2] in\n");
    for (const Command& c : commands) {
        s += "    " + c.name + ")\n        _arguments -s \\\n";
        for (const Flag& f : c.flags) {
            const std::string described = "[" + zshText(f.help) + "]";
            const std::string value = !f.values.empty() ? ":value:(" + joined(f.values) + ")"
                                      : f.takesValue    ? ":value:_files"
                                                        : "";
            for (const std::string& n : f.names)
                s += "            '" + n + described + value + "' \\\n";
        }
        s += "            '*:file:_files' ;;\n";
    }
    return s + "    esac\n}\n_kestrune_adpcm \"$@\"\n";
}

}  // namespace

std::string completionScript(const CLI::App& app, const std::string& shell) {
    const std::vector<Command> commands = commandsOf(app);
    if (shell == "bash") return bash(app.get_name(), commands, flagsOf(app));
    if (shell == "zsh") return zsh(app.get_name(), commands);
    return "";
}

namespace {

// Hidden from the help: the scripts the install puts in place.
class Completions : public Subcommand {
public:
    void define(CLI::App& app) override {
        app.group("");
        app.add_option("SHELL", shell_, "bash or zsh")
            ->required()
            ->check(CLI::IsMember({"bash", "zsh"}));
    }
    int run(CLI::App& app) override {
        std::fputs(completionScript(*app.get_parent(), shell_).c_str(), stdout);
        return 0;
    }

private:
    std::string shell_;
};

}  // namespace

std::unique_ptr<Subcommand> makeCompletions() {
    return std::make_unique<Completions>();
}

}  // namespace kestrune::tool
