// What build writes of a prompt set: per language the image and its JSON manifest, and
// the C header of IDs.
#include <cstdio>
#include <cstring>

#include "adpFile.h"
#include "tool/buildSet.h"
#include "tool/pack.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

constexpr const char* kPrefix = "prompt";

// A retired ID's entry: a device file with no payload, so that every reader still finds
// a whole device file at every ID.
std::vector<uint8_t> emptyDeviceFile() {
    std::vector<uint8_t> file(kAdpHeaderSize);
    makeAdpHeader(0, static_cast<uint16_t>(kAcceptedRates[0]), adpVariant(4), file.data());
    return file;
}

std::string constantOf(const std::string& name) {
    std::string c = promptConstant(kPrefix, name);
    return c == "PROMPT_ID_HASH" ? c + "_" : c;
}

}  // namespace

detail::Outcome<std::vector<uint8_t>> buildImage(const BuildLanguage& l, unsigned align,
                                                 uint32_t hash) {
    const std::vector<uint8_t> empty = emptyDeviceFile();
    std::vector<uint64_t> lengths;
    for (const BuildItem* item : l.byId)
        lengths.push_back(item ? item->device.size() : empty.size());
    const detail::Outcome<ImageLayout> planned = planImage(lengths, align, hash);
    if (!planned) return planned.failure();
    const ImageLayout& layout = *planned;
    std::vector<uint8_t> image = imageIndex(layout);
    image.resize(layout.length, 0);
    for (std::size_t i = 0; i < l.byId.size(); ++i) {
        const std::vector<uint8_t>& file = l.byId[i] ? l.byId[i]->device : empty;
        std::memcpy(&image[layout.offsets[i]], file.data(), file.size());
    }
    return image;
}

std::string buildJson(const BuildLanguage& l, const std::string& image, unsigned align,
                      uint32_t hash) {
    const std::vector<uint8_t> empty = emptyDeviceFile();
    std::vector<uint64_t> lengths;
    for (const BuildItem* item : l.byId)
        lengths.push_back(item ? item->device.size() : empty.size());
    // buildImage laid out the same lengths first: the plan fits.
    const ImageLayout layout = *planImage(lengths, align, hash);
    Json prompts = Json::array(), retired = Json::array();
    for (std::size_t i = 0; i < l.byId.size(); ++i) {
        const BuildItem* item = l.byId[i];
        if (item == nullptr) {
            retired.push_back(i);
            continue;
        }
        Json o = {{"id", i},
                  {"name", item->name},
                  {"input", item->placeholder() ? Json(nullptr) : Json(item->recording)},
                  {"offset", layout.offsets[i]},
                  {"length", layout.lengths[i]}};
        o.update(item->result);
        o.erase("source_power");
        o["placeholder"] = item->placeholder();
        o["text"] = item->text;
        o["key"] = keyText(item->key);
        if (item->lossDb != 0) o["loss_db"] = rounded(item->lossDb, 2);
        prompts.push_back(std::move(o));
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", hash);
    const Json manifest = {
        {"image", image}, {"count", l.byId.size()},  {"align", align},     {"language", l.lang},
        {"id_hash", hex}, {"length", layout.length}, {"retired", retired}, {"prompts", prompts}};
    return manifest.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string buildHeader(const PromptLock& lock, const std::vector<BuildLanguage>& languages,
                        uint32_t hash) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08xu", hash);
    std::string text =
        "/* The prompt IDs, made by kestrune-adpcm build: the same in every language's image\n"
        "   (LANG.bin), whose index is followed by \"KIDH\" and PROMPT_ID_HASH. */\n"
        "#ifndef KESTRUNE_BUILD_PROMPTS_H\n#define KESTRUNE_BUILD_PROMPTS_H\n\nenum prompt_id {\n";
    for (const LockEntry& e : lock.entries) {
        if (e.retired) {
            text += "    /* " + std::to_string(e.id) + ": " + e.name + ", retired */\n";
            continue;
        }
        std::string placeholders;
        for (const BuildLanguage& l : languages) {
            if (l.byId[e.id] != nullptr && l.byId[e.id]->placeholder()) {
                placeholders += (placeholders.empty() ? "" : ", ") + l.lang;
            }
        }
        text += "    " + constantOf(e.name) + " = " + std::to_string(e.id) + "," +
                (placeholders.empty() ? "" : " /* placeholder: " + placeholders + " */") + "\n";
    }
    text += "    PROMPT_COUNT = " + std::to_string(lock.count()) +
            "\n};\n\n/* The hash of this ID table, which each image records. */\n"
            "#define PROMPT_ID_HASH " +
            hex + "\n\n#endif\n";
    return text;
}

}  // namespace kestrune::tool
