// The C container (--format c): the device file held in memory, then written as a C
// header holding its bytes, named by a C identifier made from the output's name.
#include <cstdlib>

#include "io/status.h"
#include "tool/cSource.h"
#include "tool/container.h"
#include "tool/jobs.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

class CSource : public Container {
public:
    CSource(FILE* output, const ContainerOptions& options, const std::string& stem)
        : output_(output), options_(options), symbol_(cIdentifier(stem)) {}
    CSource(const CSource&) = delete;
    CSource& operator=(const CSource&) = delete;
    ~CSource() override {
        if (held_ != nullptr) std::fclose(held_);
        std::free(data_);
    }
    FILE* stream() override { return held_; }
    bool direct() const override { return false; }
    int finish(const FileResult& r) override {
        if (std::fflush(held_) != 0) return kStatusMemory;
        const auto* bytes = reinterpret_cast<const uint8_t*>(data_);
        const std::string comment = "Made by kestrune-adpcm from " + nameOf(r.input) + ": " +
                                    std::to_string(r.rate) + " Hz, " + std::to_string(r.bits) +
                                    "-bit, " + std::to_string(size_) + " bytes.";
        const std::string text =
            cArrayHeader(symbol_, {bytes, size_}, comment, options_.section, options_.align);
        return std::fwrite(text.data(), 1, text.size(), output_) == text.size() ? kStatusFinished
                                                                                : kStatusWrite;
    }

private:
    FILE* output_;
    ContainerOptions options_;
    std::string symbol_;
    char* data_ = nullptr;
    std::size_t size_ = 0;
    FILE* held_ = open_memstream(&data_, &size_);  // null when out of memory
};

}  // namespace

std::unique_ptr<Container> makeCSource(FILE* output, const ContainerOptions& options,
                                       const std::string& stem) {
    return std::make_unique<CSource>(output, options, stem);
}

std::vector<std::string> cSourceDefines(const std::string& stem) {
    const std::string symbol = cIdentifier(stem);
    return {symbol, symbol + "_length"};
}

}  // namespace kestrune::tool
