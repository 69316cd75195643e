#include "support/crash_states.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "fat/fat12.h"
#include "support/memory_device.h"

namespace crash {
namespace {

constexpr std::size_t kSector = 512;

// How many sectors of each write of an epoch land: 0 to all of them.
using Choice = std::vector<std::uint32_t>;

void apply(Bytes& image, const std::vector<Write>& writes, const Choice& landed) {
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const std::size_t at = std::size_t{writes[i].firstSector} * kSector;
        const std::size_t bytes = std::size_t{landed[i]} * kSector;
        if (at + bytes <= image.size()) {
            std::copy_n(writes[i].data.begin(), bytes, image.begin() + static_cast<long>(at));
        }
    }
}

std::string describe(std::size_t epoch, const std::vector<Write>& writes, const Choice& landed) {
    std::string text = "after flush " + std::to_string(epoch) + ", of the pending writes:";
    for (std::size_t i = 0; i < writes.size(); ++i) {
        text += " [" + std::to_string(writes[i].firstSector) + "+" +
                std::to_string(writes[i].sectors()) + ": " + std::to_string(landed[i]) + "]";
    }
    return text;
}

// Every choice for the epoch, or the prefixes, each write missing or alone, and a sample.
std::vector<Choice> choicesFor(const std::vector<Write>& writes, const Options& options,
                               std::mt19937& random) {
    const std::size_t n = writes.size();
    std::vector<Choice> choices;
    std::uint64_t total = 1;
    for (const Write& w : writes) {
        total *= w.sectors() + 1u;
        if (total > options.exhaustiveUpTo) break;
    }
    if (total <= options.exhaustiveUpTo) {
        Choice c(n, 0);
        while (true) {
            choices.push_back(c);
            std::size_t i = 0;
            while (i < n && c[i] == writes[i].sectors()) c[i++] = 0;
            if (i == n) return choices;
            ++c[i];
        }
    }
    Choice full(n);
    for (std::size_t i = 0; i < n; ++i) full[i] = writes[i].sectors();
    for (std::size_t i = 0; i < n; ++i) {
        for (std::uint32_t cut = 0; cut <= writes[i].sectors(); ++cut) {
            Choice prefix(full.begin(), full.begin() + static_cast<long>(i));
            prefix.resize(n, 0);
            prefix[i] = cut;
            choices.push_back(prefix);
        }
        Choice missing = full;
        missing[i] = 0;
        choices.push_back(missing);
        Choice alone(n, 0);
        alone[i] = writes[i].sectors();
        choices.push_back(alone);
    }
    for (std::size_t s = 0; s < options.samplesPerEpoch; ++s) {
        Choice c(n);
        for (std::size_t i = 0; i < n; ++i) {
            switch (random() % 4) {
                case 0:
                    c[i] = 0;
                    break;
                case 3:
                    c[i] = static_cast<std::uint32_t>(random() % (writes[i].sectors() + 1));
                    break;
                default:
                    c[i] = writes[i].sectors();
                    break;
            }
        }
        choices.push_back(std::move(c));
    }
    return choices;
}

}  // namespace

void Recorder::written(std::uint64_t offset, const void* data, std::size_t bytes) {
    Write w;
    w.firstSector = static_cast<std::uint32_t>(offset / kSector);
    const auto* p = static_cast<const std::uint8_t*>(data);
    w.data.assign(p, p + bytes / kSector * kSector);
    if (!w.data.empty()) m_epochs.back().writes.push_back(std::move(w));
}

void Recorder::flushed() {
    if (m_epochs.back().writes.empty()) return;
    m_epochs.back().flushed = true;
    m_epochs.emplace_back();
}

std::size_t forEachState(const Bytes& before, const std::vector<Epoch>& epochs,
                         const Options& options,
                         const std::function<void(const Bytes&, const std::string&)>& visit) {
    std::mt19937 random(options.seed);
    Bytes durable = before;
    std::size_t visited = 0;
    Bytes image;
    for (std::size_t e = 0; e < epochs.size(); ++e) {
        const std::vector<Write>& writes = epochs[e].writes;
        for (const Choice& landed : choicesFor(writes, options, random)) {
            image = durable;
            apply(image, writes, landed);
            visit(image, describe(e, writes, landed));
            ++visited;
        }
        Choice all(writes.size());
        for (std::size_t i = 0; i < writes.size(); ++i) all[i] = writes[i].sectors();
        apply(durable, writes, all);
    }
    return visited;
}

Allowed allowedContents(const Bytes& before, const std::map<std::string, Bytes>& sources) {
    Allowed allowed;
    for (const auto& [name, bytes] : sources) allowed.contents[name].push_back(bytes);
    fat::MemoryDevice device(before);
    auto volume = fat::Volume::mount(device);
    if (!volume) return allowed;
    for (const fat::FileInfo& info : volume->list()) {
        if (info.attributes & 0x18) continue;  // labels and folders
        if (auto bytes = volume->readFile(info.name)) {
            allowed.contents[info.name].push_back(std::move(*bytes));
        }
    }
    return allowed;
}

std::vector<std::string> checkFiles(const Bytes& image, const Allowed& allowed) {
    std::vector<std::string> faults;
    fat::MemoryDevice device(image);
    auto volume = fat::Volume::mount(device);
    if (!volume) {
        // Without a volume nothing is named, unless the root directory's place holds entries.
        auto g = fat::geometryForSize(image.size());
        if (!g) return {"the image has no diskette size"};
        const std::size_t root =
            (g->reservedSectors + std::size_t{g->fatCount} * g->sectorsPerFat) * kSector;
        for (std::size_t at = root; at < root + std::size_t{g->rootEntries} * 32; at += 32) {
            if (image[at] == 0) break;
            if (image[at] != 0xE5 && (image[at + 11] & 0x08) == 0) {
                return {"does not mount (" + volume.message() + ") but names files"};
            }
        }
        return faults;
    }
    for (const fat::FileInfo& info : volume->list()) {
        if (info.attributes & 0x18) continue;
        if (info.size == 0) continue;
        auto bytes = volume->readFile(info.name);
        if (!bytes) {
            faults.push_back(info.name + " cannot be read: " + bytes.message());
            continue;
        }
        const auto found = allowed.contents.find(info.name);
        const bool known =
            found != allowed.contents.end() &&
            std::find(found->second.begin(), found->second.end(), *bytes) != found->second.end();
        if (!known) {
            faults.push_back(info.name + " holds " + std::to_string(bytes->size()) +
                             " bytes that are neither its old nor its new content");
        }
    }
    return faults;
}

}  // namespace crash
