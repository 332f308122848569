// What an encoded device file is written as, chosen by --format: the device file itself
// (adp), or C source holding its bytes (c). Each container is one row of the table in
// containers.cpp; encodeJob writes the device file onto the container's stream and knows
// none of them.
#pragma once

#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kestrune::tool {

struct FileResult;

// What the containers' own options say (--c-section, --c-align).
struct ContainerOptions {
    std::string section;  // a linker section for the C array, when given
    unsigned align = 0;   // its alignment in bytes, when given
};

class Container {
public:
    virtual ~Container() = default;
    // The stream the device file is written onto: the output itself, or one that holds it.
    virtual FILE* stream() = 0;
    // Whether stream() is the output itself, whose header may then be rewritten in place.
    virtual bool direct() const = 0;
    // Once the device file is whole: what the container makes of it, onto the output. A
    // status.
    virtual int finish(const FileResult& r) = 0;
};

struct ContainerRow {
    const char* name;       // --format NAME
    const char* help;       // for --format's help
    const char* extension;  // of the outputs it names: ".adp"
    const char* defined;    // what defines() returns, as a message names it ("C name")
    // The container for one output, named from `stem` (the output's name without extension).
    std::unique_ptr<Container> (*make)(FILE* output, const ContainerOptions& options,
                                       const std::string& stem);
    // The names an output defines that no other output of a batch may also define.
    std::vector<std::string> (*defines)(const std::string& stem);
};

// In the order --format's help lists them; the first is the default.
std::span<const ContainerRow> containers();
// The row of that name; the default's for an unknown one (the options allow none).
const ContainerRow& containerNamed(const std::string& name);

}  // namespace kestrune::tool
