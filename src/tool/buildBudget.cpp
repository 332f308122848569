#include "tool/buildBudget.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "adpFile.h"
#include "tool/buildSetup.h"
#include "tool/commands.h"
#include "tool/pack.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

void say(const std::string& line) {
    std::fprintf(messages(), "%s: %s\n", kTool, line.c_str());
}

// Encodes the items through the cache, at once as -j allows; false when any failed.
bool runItems(const BuildArgs& a, const std::vector<BuildItem*>& items,
              std::vector<uint64_t>* used) {
    Common batch;
    batch.jobs = a.jobs;
    batch.quiet = a.quiet;
    for (const BuildItem* item : items) batch.inputs.push_back(item->shown());
    Progress progress;
    std::vector<char> cached(items.size(), 0);
    auto results = runBatch(
        batch, &progress,
        [&](std::size_t k) {
            bool hit = false;
            FileResult r = encodeItem(a, items[k], &progress, &hit);
            cached[k] = hit;
            r.output = a.folder + "/" + items[k]->lang + ".bin";
            return r;
        },
        [&](const FileResult& r) {
            if (r.rate != 0) printEncodeSummary(r, levelName(items[0]->settings), r.output);
        });
    const bool ok = exitStatus(results) == 0;
    std::vector<FileResult> encoded;
    for (std::size_t k = 0; k < items.size(); ++k) {
        if (!cached[k]) encoded.push_back(std::move(results[k]));
        used->push_back(encodingKey(*items[k]));
    }
    printBatchEnd(encoded, a.quiet, "encoded", {});
    if (!a.quiet && encoded.size() < items.size()) {
        say(std::to_string(items.size() - encoded.size()) + " of " + std::to_string(items.size()) +
            " encodings unchanged, taken from " + tool::quoted(cacheFolder(a)));
    }
    return ok;
}

// The SNR (dB) of a choice against the sound its recording deserves (see the header).
double quality(double deservedPower, const Json& result) {
    const Json& snr = result["snr_db"];
    const double power = result.value("source_power", 0.0);
    if (!snr.is_number() || deservedPower <= 0 || power <= 0) return 200;
    const double noise =
        power * std::pow(10, -snr.get<double>() / 10) + std::max(0.0, deservedPower - power);
    return 10 * std::log10(deservedPower / std::max(noise, deservedPower * 1e-20));
}

uint64_t rounded(uint64_t bytes, unsigned align) {
    return (bytes + align - 1) / align * align;
}

// The naive plan beside the chosen one: every prompt at one rate (its own when lower) and
// one code width, the highest that fits, 4 bits before 2. Told as the plan's line is.
void tellNaive(const std::vector<std::vector<BudgetChoice>>& prompts,
               const std::vector<std::vector<BuildItem*>>& candidates,
               const std::vector<std::size_t>& which, uint64_t capacity, unsigned align) {
    for (const int bits : {4, 2}) {
        for (auto rate = kAcceptedRates.rbegin(); rate != kAcceptedRates.rend(); ++rate) {
            uint64_t used = 0;
            double worst = 0, total = 0;
            for (std::size_t p = 0; p < prompts.size(); ++p) {
                // Its choice at this width and the highest rate up to this one.
                const BudgetChoice* at = nullptr;
                uint32_t best = 0;
                for (const BudgetChoice& c : prompts[p]) {
                    const EncodeSettings& s = candidates[which[p]][c.candidate]->settings;
                    if (s.bits == bits && s.rate <= *rate && s.rate > best) at = &c, best = s.rate;
                }
                if (at == nullptr) {
                    used = capacity + 1;
                    break;
                }
                used += rounded(at->bytes, align);
                worst = std::max(worst, at->lossDb);
                total += at->lossDb;
            }
            if (used > capacity) continue;
            char line[200];
            std::snprintf(line, sizeof line,
                          "one rate for all (%u Hz, %d-bit) would lose %.2f dB at worst, %.2f dB "
                          "on average",
                          *rate, bits, worst, total / static_cast<double>(prompts.size()));
            say(line);
            return;
        }
    }
}

// One language's plan: sets each item's device file from its candidates. False, told,
// when none fits.
bool planLanguage(const BuildArgs& a, const BuildLanguage& l, uint64_t budget,
                  std::vector<std::vector<BuildItem*>>& candidates,
                  std::vector<BuildItem*>& owners) {
    // What the image takes besides the prompts: its index and the retired IDs' entries.
    uint64_t fixed = rounded(kPackHeaderSize + 8 * l.byId.size() + kIdHashSize, a.align);
    std::vector<std::vector<BudgetChoice>> prompts;
    std::vector<std::size_t> which;
    for (std::size_t i = 0; i < l.byId.size(); ++i) {
        if (l.byId[i] == nullptr) {
            fixed += rounded(kAdpHeaderSize, a.align);
            continue;
        }
        const std::size_t o = static_cast<std::size_t>(
            std::find(owners.begin(), owners.end(), l.byId[i]) - owners.begin());
        which.push_back(o);
        double deserved = 0, best = -1e9;
        for (const BuildItem* c : candidates[o])
            deserved = std::max(deserved, c->result.value("source_power", 0.0));
        for (const BuildItem* c : candidates[o])
            best = std::max(best, quality(deserved, c->result));
        std::vector<BudgetChoice> choices;
        for (std::size_t k = 0; k < candidates[o].size(); ++k) {
            const BuildItem* c = candidates[o][k];
            choices.push_back({c->device.size(), best - quality(deserved, c->result), k});
        }
        prompts.push_back(std::move(choices));
    }
    uint64_t smallest = 0;
    const std::vector<std::size_t> plan =
        planBudget(prompts, budget > fixed ? budget - fixed : 0, a.align, &smallest);
    const std::string image = tool::quoted(a.folder + "/" + l.lang + ".bin");
    if (plan.empty() && !prompts.empty()) {
        say(image + ": no plan fits the budget of " + std::to_string(budget) +
            " bytes; the smallest that fits is " + std::to_string(fixed + smallest) + " bytes");
        return false;
    }
    double worst = 0, total = 0;
    for (std::size_t p = 0; p < plan.size(); ++p) {
        BuildItem* item = owners[which[p]];
        const BuildItem* chosen = candidates[which[p]][prompts[p][plan[p]].candidate];
        item->device = chosen->device;
        item->result = chosen->result;
        item->lossDb = prompts[p][plan[p]].lossDb;
        worst = std::max(worst, item->lossDb);
        total += item->lossDb;
        if (!a.quiet) {
            char line[160];
            std::snprintf(line, sizeof line,
                          "plan %s: %d Hz, %d-bit, %zu bytes, %.2f dB under its best",
                          item->shown().c_str(), chosen->result.value("rate", 0),
                          chosen->result.value("bits", 0), chosen->device.size(), item->lossDb);
            say(line);
        }
    }
    if (!a.quiet && !plan.empty()) {
        char line[200];
        std::snprintf(line, sizeof line, "plan %s: loss %.2f dB at worst, %.2f dB on average",
                      l.lang.c_str(), worst, total / static_cast<double>(plan.size()));
        say(line);
        tellNaive(prompts, candidates, which, budget > fixed ? budget - fixed : 0, a.align);
    }
    return true;
}

}  // namespace

bool parseSize(const std::string& text, uint64_t* bytes) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    std::string unit(end);
    unit.erase(0, unit.find_first_not_of(' '));
    const double scale = unit.empty() || unit == "B" ? 1
                         : unit == "KiB"             ? 1024
                         : unit == "MiB"             ? 1048576
                                                     : 0;
    if (end == text.c_str() || !std::isfinite(v) || v <= 0 || scale == 0 || v * scale >= 0x1p32) {
        return false;
    }
    *bytes = static_cast<uint64_t>(v * scale);
    return *bytes > 0 && static_cast<double>(*bytes) == v * scale;
}

std::vector<std::size_t> planBudget(const std::vector<std::vector<BudgetChoice>>& prompts,
                                    uint64_t capacity, unsigned align, uint64_t* smallest) {
    const auto cost = [align](const BudgetChoice& c) { return rounded(c.bytes, align); };
    // Each prompt's cheapest choice whose loss is at most `worst`, and what they take.
    const auto cheapest = [&](double worst, std::vector<std::size_t>* plan) {
        uint64_t used = 0;
        plan->assign(prompts.size(), 0);
        for (std::size_t p = 0; p < prompts.size(); ++p) {
            uint64_t least = std::numeric_limits<uint64_t>::max() / (prompts.size() + 1);
            for (std::size_t k = 0; k < prompts[p].size(); ++k) {
                if (prompts[p][k].lossDb <= worst && cost(prompts[p][k]) < least) {
                    least = cost(prompts[p][k]), (*plan)[p] = k;
                }
            }
            used += least;
        }
        return used;
    };
    std::vector<double> losses;
    for (const auto& choices : prompts) {
        for (const BudgetChoice& c : choices) losses.push_back(c.lossDb);
    }
    std::sort(losses.begin(), losses.end());
    std::vector<std::size_t> plan;
    *smallest = cheapest(std::numeric_limits<double>::infinity(), &plan);
    if (*smallest > capacity) return {};
    // The least worst loss that fits: the cheapest choices under it fit as losses grow.
    std::size_t lo = 0, hi = losses.size() - 1;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (cheapest(losses[mid], &plan) <= capacity)
            hi = mid;
        else
            lo = mid + 1;
    }
    uint64_t used = cheapest(losses[lo], &plan);
    // What is left goes, step by step, where it lowers a prompt's loss most per byte.
    for (;;) {
        double bestGain = 0;
        std::size_t bp = 0, bk = 0;
        for (std::size_t p = 0; p < prompts.size(); ++p) {
            const BudgetChoice& now = prompts[p][plan[p]];
            for (std::size_t k = 0; k < prompts[p].size(); ++k) {
                const BudgetChoice& c = prompts[p][k];
                const uint64_t more = cost(c) > cost(now) ? cost(c) - cost(now) : 0;
                if (c.lossDb >= now.lossDb ||
                    used + more > capacity + (cost(now) > cost(c) ? cost(now) - cost(c) : 0))
                    continue;
                const double gain =
                    (now.lossDb - c.lossDb) / static_cast<double>(std::max<uint64_t>(more, 1));
                if (gain > bestGain) bestGain = gain, bp = p, bk = k;
            }
        }
        if (bestGain <= 0) break;
        used = used - cost(prompts[bp][plan[bp]]) + cost(prompts[bp][bk]);
        plan[bp] = bk;
    }
    return plan;
}

bool encodeSet(const BuildArgs& a, BuildSetup* s, uint64_t budget, std::vector<uint64_t>* used) {
    std::vector<BuildItem*> items;
    for (BuildItem& item : s->items) {
        item.measurePower = budget > 0;
        items.push_back(&item);
    }
    if (!runItems(a, items, used)) return false;
    if (budget == 0) return true;
    // Each prompt's candidates: the rates up to the one it came out at, 4 and 2 bits,
    // unless its own columns pin them.
    std::vector<std::vector<BuildItem*>> candidates(items.size());
    std::vector<std::unique_ptr<BuildItem>> held;
    std::vector<BuildItem*> work;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const uint32_t deserved = items[i]->result.value("rate", 0u);
        for (const uint32_t rate : kAcceptedRates) {
            if (rate > deserved || (items[i]->pinnedRate && rate != deserved)) continue;
            for (const int bits : {4, 2}) {
                if (items[i]->pinnedBits && bits != items[i]->settings.bits) continue;
                held.push_back(std::make_unique<BuildItem>(*items[i]));
                held.back()->settings.rate = rate;
                held.back()->settings.bits = bits;
                candidates[i].push_back(held.back().get());
                work.push_back(held.back().get());
            }
        }
    }
    if (!runItems(a, work, used)) return false;
    bool ok = true;
    for (const BuildLanguage& l : s->languages)
        ok = planLanguage(a, l, budget, candidates, items) && ok;
    return ok;
}

}  // namespace kestrune::tool
