// The containers, one row each. A new one is a file that defines its Container and a make
// function, and a row here.
#include <array>

#include "io/status.h"
#include "tool/container.h"

namespace kestrune::tool {

namespace {

// The device file itself, straight onto the output.
class DeviceFile : public Container {
public:
    explicit DeviceFile(FILE* output) : output_(output) {}
    FILE* stream() override { return output_; }
    bool direct() const override { return true; }
    int finish(const FileResult&) override { return kStatusFinished; }

private:
    FILE* output_;
};

std::unique_ptr<Container> makeDeviceFile(FILE* output, const ContainerOptions&,
                                          const std::string&) {
    return std::make_unique<DeviceFile>(output);
}

std::vector<std::string> definesNothing(const std::string&) {
    return {};
}

}  // namespace

std::unique_ptr<Container> makeCSource(FILE* output, const ContainerOptions& options,
                                       const std::string& stem);
std::vector<std::string> cSourceDefines(const std::string& stem);

std::span<const ContainerRow> containers() {
    static constexpr std::array rows = {
        ContainerRow{"adp", "adp (default)", ".adp", "", makeDeviceFile, definesNothing},
        ContainerRow{"c", "c: a C header holding the bytes", ".h", "C name", makeCSource,
                     cSourceDefines},
    };
    return rows;
}

const ContainerRow& containerNamed(const std::string& name) {
    for (const ContainerRow& row : containers()) {
        if (name == row.name) return row;
    }
    return containers().front();
}

}  // namespace kestrune::tool
