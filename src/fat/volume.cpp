// The mounted volume: files in the root directory, staged and committed in an order no crash
// can tear, and the time stamps of their entries.
#include <algorithm>
#include <cstring>

#include "fat/endian.h"
#include "fat/fat12.h"
#include "fat/fat12_common.h"
#include "fat/fat_table.h"
#include "fat/layout.h"

namespace fat {

using base::Failure;
using base::Result;
using base::Status;

namespace {

struct DosStamp {
    std::uint16_t date;
    std::uint16_t time;
    std::uint8_t tenths;  // 10 ms units: the odd second that the 2-second time drops
};

// Local time in the DOS encoding; years the encoding cannot hold are clamped to its ends.
DosStamp toDosStamp(std::time_t when, const LocalClock& clock) {
    const std::optional<LocalTime> local = clock.localTime(when);
    const LocalTime tm = local.value_or(LocalTime{});
    const long long year = local ? tm.year : (when < 0 ? 1979 : 2108);
    if (year < 1980) return {static_cast<std::uint16_t>((1 << 5) | 1), 0, 0};
    if (year > 2107) {
        return {static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31),
                static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29), 100};
    }
    const int second = std::min(tm.second, 59);  // a leap second has no encoding
    DosStamp stamp{};
    stamp.date = static_cast<std::uint16_t>(((year - 1980) << 9) | (tm.month << 5) | tm.day);
    stamp.time = static_cast<std::uint16_t>((tm.hour << 11) | (tm.minute << 5) | (second / 2));
    stamp.tenths = static_cast<std::uint8_t>((second % 2) * 100);
    return stamp;
}

// Entries a name lookup or the file list may see: not free, not a label, not a long-name piece.
bool isVisibleEntry(const std::uint8_t* entry) {
    const std::uint8_t attributes = entry[dirent::kAttributes];
    return entry[0] != dirent::kDeletedMark && (attributes & dirent::kAttrVolumeLabel) == 0;
}

}  // namespace

void stampEntry(std::uint8_t* entry, std::time_t when, const LocalClock& clock) {
    const DosStamp stamp = toDosStamp(when, clock);
    entry[dirent::kCreateTenths] = stamp.tenths;
    store16(entry + dirent::kCreateTime, stamp.time);
    store16(entry + dirent::kCreateDate, stamp.date);
    store16(entry + dirent::kAccessDate, stamp.date);
    store16(entry + dirent::kWriteTime, stamp.time);
    store16(entry + dirent::kWriteDate, stamp.date);
}

namespace {

// Reads sector 0 into `sector` and the layout it describes, checked against the medium.
Result<Geometry> readVolumeLayout(SectorDevice& device, std::vector<std::uint8_t>& sector) {
    const std::uint32_t deviceSectors = device.sectorCount();
    if (deviceSectors == 0) return Status::failure("mount: the medium has no sectors");
    sector.assign(kSectorSize, 0);
    if (Status st = device.read(0, 1, sector.data()); !st) {
        return within("mount: reading the boot sector: ", st);
    }
    return readBootSectorLayout(sector, deviceSectors);
}

}  // namespace

Result<Volume> Volume::mount(SectorDevice& device, const LocalClock& clock) {
    std::vector<std::uint8_t> bootSector;
    Result<Geometry> layout = readVolumeLayout(device, bootSector);
    if (!layout) return layout.error();
    const Geometry& g = *layout;
    Volume volume(device, clock);
    volume.m_geometry = g;
    volume.m_firstRootSector = firstRootSector(g);
    volume.m_firstDataSector = firstDataSector(g);
    volume.m_clusterCount = clusterCount(g);
    volume.m_bootSector = std::move(bootSector);
    if (Status st = volume.loadTables(); !st) return st.error();
    return volume;
}

// Reads the first FAT and the root directory of the layout the boot sector gave.
Status Volume::loadTables() {
    const Geometry& g = m_geometry;
    m_fat.resize(std::size_t{g.sectorsPerFat} * kSectorSize);
    if (Status st = m_device->read(g.reservedSectors, g.sectorsPerFat, m_fat.data()); !st) {
        return within("mount: reading the FAT: ", st);
    }
    if (m_fat[0] != g.media) {
        return Status::failure(Failure::BadData, "FAT: first byte " + hex(m_fat[0], 2) +
                                                     " does not match the media descriptor " +
                                                     hex(g.media, 2));
    }
    m_root.resize(std::size_t{g.rootEntries} * dirent::kSize);
    if (Status st = m_device->read(m_firstRootSector, rootSectors(g), m_root.data()); !st) {
        return within("mount: reading the root directory: ", st);
    }
    m_fatOnMedium = m_fat;
    m_rootOnMedium = m_root;
    return Status::success();
}

std::uint32_t Volume::clusterBytes() const {
    return std::uint32_t{m_geometry.sectorsPerCluster} * kSectorSize;
}

std::optional<std::size_t> Volume::findEntry(const std::string& shortName) const {
    for (std::size_t i = 0; i < m_root.size() / dirent::kSize; ++i) {
        const std::uint8_t* entry = &m_root[i * dirent::kSize];
        if (entry[0] == dirent::kEndMark) break;
        if (!isVisibleEntry(entry)) continue;
        const char first =
            entry[0] == dirent::kEscapedE5 ? static_cast<char>(0xE5) : static_cast<char>(entry[0]);
        if (first == shortName[0] && std::memcmp(entry + 1, shortName.data() + 1, 10) == 0) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> Volume::findFreeEntry() const {
    for (std::size_t i = 0; i < m_root.size() / dirent::kSize; ++i) {
        const std::uint8_t first = m_root[i * dirent::kSize];
        if (first == dirent::kEndMark || first == dirent::kDeletedMark) return i;
    }
    return std::nullopt;
}

// The clusters of a chain in order, checked: each one a data cluster, none twice, ending in
// an end-of-chain mark.
Result<std::vector<std::uint16_t>> Volume::chainOf(std::uint16_t first,
                                                   std::string_view name) const {
    std::vector<std::uint16_t> chain;
    if (first == cluster::kFree) return chain;
    std::vector<bool> seen(m_clusterCount + cluster::kFirstData, false);
    std::uint16_t n = first;
    while (true) {
        if (n < cluster::kFirstData || n >= m_clusterCount + cluster::kFirstData || seen[n]) {
            return Status::failure(Failure::BadData, "the cluster chain of " + std::string(name) +
                                                         " is broken at cluster " +
                                                         std::to_string(n));
        }
        seen[n] = true;
        chain.push_back(n);
        const std::uint16_t next = fatEntry(m_fat, n);
        if (next >= cluster::kMinEndOfChain) return chain;
        n = next;
    }
}

std::vector<std::uint16_t> Volume::allocate(const std::vector<std::uint8_t>& fat,
                                            std::uint32_t count) const {
    std::vector<std::uint16_t> chain;
    for (std::uint32_t n = cluster::kFirstData;
         n < m_clusterCount + cluster::kFirstData && chain.size() < count; ++n) {
        if (fatEntry(fat, n) == cluster::kFree) chain.push_back(static_cast<std::uint16_t>(n));
    }
    return chain;
}

// One device call per run of consecutive clusters.
Status Volume::writeClusters(const std::vector<std::uint16_t>& chain, const std::uint8_t* data) {
    const std::uint32_t perCluster = m_geometry.sectorsPerCluster;
    for (std::size_t i = 0; i < chain.size();) {
        std::size_t j = i + 1;
        while (j < chain.size() && chain[j] == chain[j - 1] + 1) ++j;
        const std::uint32_t first =
            m_firstDataSector + (chain[i] - cluster::kFirstData) * perCluster;
        const auto count = static_cast<std::uint32_t>((j - i) * perCluster);
        if (Status s = m_device->write(first, count, data + i * clusterBytes()); !s) {
            return within("writing the data: ", s);
        }
        i = j;
    }
    return Status::success();
}

// Writes the FAT sectors that differ, each run of them in one call per FAT copy.
Status Volume::writeFatChanges(const std::vector<std::uint8_t>& before,
                               const std::vector<std::uint8_t>& after) {
    auto differs = [&](std::uint32_t sector) {
        const std::size_t at = std::size_t{sector} * kSectorSize;
        return std::memcmp(&before[at], &after[at], kSectorSize) != 0;
    };
    for (std::uint32_t copy = 0; copy < m_geometry.fatCount; ++copy) {
        const std::uint32_t base = m_geometry.reservedSectors + copy * m_geometry.sectorsPerFat;
        for (std::uint32_t i = 0; i < m_geometry.sectorsPerFat;) {
            if (!differs(i)) {
                ++i;
                continue;
            }
            std::uint32_t j = i + 1;
            while (j < m_geometry.sectorsPerFat && differs(j)) ++j;
            if (Status s = m_device->write(base + i, j - i, &after[std::size_t{i} * kSectorSize]);
                !s) {
                return within("writing FAT " + std::to_string(copy + 1) + ": ", s);
            }
            i = j;
        }
    }
    return Status::success();
}

// Writes the root directory sectors that differ, one call for each sector.
Status Volume::writeRootChanges(const std::vector<std::uint8_t>& before,
                                const std::vector<std::uint8_t>& after) {
    for (std::size_t sector = 0; sector < after.size() / kSectorSize; ++sector) {
        const std::size_t at = sector * kSectorSize;
        if (std::memcmp(&before[at], &after[at], kSectorSize) == 0) continue;
        if (Status s = m_device->write(m_firstRootSector + static_cast<std::uint32_t>(sector), 1,
                                       &after[at]);
            !s) {
            return within("writing the root directory: ", s);
        }
    }
    return Status::success();
}

// After a failed write the medium may hold part of a change: take the tables from it again so
// that later calls work on what is really there. What was staged is given up.
Status Volume::failAndReload(Status failure) {
    std::vector<std::uint8_t> fat(m_fat.size());
    std::vector<std::uint8_t> root(m_root.size());
    if (m_device->read(m_geometry.reservedSectors, m_geometry.sectorsPerFat, fat.data()) &&
        m_device->read(m_firstRootSector, rootSectors(m_geometry), root.data())) {
        m_fat = std::move(fat);
        m_root = std::move(root);
    }
    m_fatOnMedium = m_fat;
    m_rootOnMedium = m_root;
    m_pendingFree.clear();
    return failure;
}

bool Volume::hasStaged() const {
    return m_fat != m_fatOnMedium || m_root != m_rootOnMedium || !m_pendingFree.empty();
}

bool Volume::isStagedEntry(std::size_t index) const {
    return std::memcmp(&m_root[index * dirent::kSize], &m_rootOnMedium[index * dirent::kSize],
                       dirent::kSize) != 0;
}

Status Volume::checkMedium() const {
    std::vector<std::uint8_t> boot(kSectorSize);
    std::vector<std::uint8_t> fat(m_fat.size());
    std::vector<std::uint8_t> root(m_root.size());
    if (Status s = m_device->read(0, 1, boot.data()); !s) return s;
    if (Status s = m_device->read(m_geometry.reservedSectors, m_geometry.sectorsPerFat, fat.data());
        !s) {
        return s;
    }
    if (Status s = m_device->read(m_firstRootSector, rootSectors(m_geometry), root.data()); !s) {
        return s;
    }
    if (boot != m_bootSector || fat != m_fatOnMedium || root != m_rootOnMedium) {
        return Status::failure("the diskette no longer holds the volume that was being written");
    }
    return Status::success();
}

// Takes a file off the medium in an order that no crash can tear: its entry, a flush, then
// its clusters, left unflushed. Whatever was staged has been committed before.
Status Volume::removeEntry(std::size_t index, const std::vector<std::uint16_t>& chain) {
    m_root[index * dirent::kSize] = dirent::kDeletedMark;
    if (Status s = writeRootChanges(m_rootOnMedium, m_root); !s) return s;
    m_rootOnMedium = m_root;
    if (chain.empty()) return Status::success();
    if (Status s = m_device->flush(); !s) return s;
    for (std::uint16_t n : chain) setFatEntry(m_fat, n, cluster::kFree);
    if (Status s = writeFatChanges(m_fatOnMedium, m_fat); !s) return s;
    m_fatOnMedium = m_fat;
    return Status::success();
}

Status Volume::stageFile(std::string_view name, std::span<const std::uint8_t> data,
                         std::time_t when) {
    Result<std::string> shortName = toShortName(name);
    if (!shortName) return shortName.error();
    const std::string what = "cannot write \"" + std::string(name) + "\": ";
    Result<Placement> place = placeFile(*shortName, name, data.size());
    if (!place) return place.error();
    if (Status s = freeOldIfNeeded(*place, what); !s) return s;
    // The data goes to clusters that nothing on the medium names; the chain and the entry stay
    // in memory until commit().
    Result<std::vector<std::uint16_t>> chain = writeChain(place->clusters, data);
    if (!chain) return within(what, chain.status());
    const std::uint16_t first = chain->empty() ? cluster::kFree : chain->front();
    if (Status s = stageEntry(place->slot, *shortName, first, data.size(), when, what); !s) {
        return s;
    }
    m_pendingFree.insert(m_pendingFree.end(), place->oldChain.begin(), place->oldChain.end());
    return Status::success();
}

// Where a file goes: the slot of the file it replaces or a free one, and whether there is room
// for it. Refuses before anything is written: a directory of that name, a full root
// directory, too little room even with the old file's clusters.
Result<Volume::Placement> Volume::placeFile(const std::string& shortName, std::string_view name,
                                            std::size_t bytes) {
    const std::string quoted = "\"" + std::string(name) + "\"";
    std::optional<std::size_t> existing = findEntry(shortName);
    // Staged twice: the first version goes onto the medium before it is replaced.
    if (existing && isStagedEntry(*existing)) {
        if (Status s = commit(); !s) return within("cannot write " + quoted + ": ", s);
    }
    Placement place;
    if (existing) {
        const std::uint8_t* entry = &m_root[*existing * dirent::kSize];
        if (entry[dirent::kAttributes] & dirent::kAttrDirectory) {
            return Status::failure("cannot write " + quoted + ": a directory of that name exists");
        }
        Result<std::vector<std::uint16_t>> chain =
            chainOf(load16(entry + dirent::kFirstCluster), name);
        if (!chain) return within("cannot replace " + quoted + ": ", chain.status());
        place.oldChain = std::move(*chain);
    }
    const std::optional<std::size_t> slot = existing ? existing : findFreeEntry();
    if (!slot) {
        return Status::failure(Failure::NoRoom,
                               "cannot write " + quoted + ": the root directory is full");
    }
    const std::uint64_t needed = (bytes + clusterBytes() - 1) / clusterBytes();
    const std::uint64_t freeClusters = freeBytes() / clusterBytes();
    const std::uint64_t room = freeClusters + m_pendingFree.size() + place.oldChain.size();
    if (needed > room || bytes > 0xFFFFFFFFu) {
        return Status::failure(Failure::NoRoom,
                               "cannot write " + quoted + ": it needs " +
                                   std::to_string(needed * clusterBytes()) + " bytes, " +
                                   std::to_string(room * clusterBytes()) + " are free");
    }
    place.slot = *slot;
    place.replaces = existing.has_value();
    place.clusters = static_cast<std::uint32_t>(needed);
    return place;
}

// Frees clusters for a file that does not fit beside what is there: the clusters of files
// replaced earlier come free once their new entries are durable; then, without room for old
// and new side by side, the old file goes first, durably, so that its clusters can take the
// new data.
Status Volume::freeOldIfNeeded(Placement& place, const std::string& what) {
    std::uint64_t freeClusters = freeBytes() / clusterBytes();
    if (place.clusters > freeClusters && !m_pendingFree.empty()) {
        if (Status s = commit(); !s) return within(what, s);
        freeClusters = freeBytes() / clusterBytes();
    }
    if (place.replaces && place.clusters > freeClusters) {
        if (Status s = commit(); !s) return within(what, s);
        if (Status s = removeEntry(place.slot, place.oldChain); !s) {
            return failAndReload(within(what, s));
        }
        place.oldChain.clear();
    }
    return Status::success();
}

// Writes `data` into `clusters` free clusters and chains them in the FAT held in memory.
Result<std::vector<std::uint16_t>> Volume::writeChain(std::uint32_t clusters,
                                                      std::span<const std::uint8_t> data) {
    const std::vector<std::uint16_t> chain = allocate(m_fat, clusters);
    if (!chain.empty()) {
        std::vector<std::uint8_t> padded(std::size_t{clusters} * clusterBytes(), 0);
        std::copy(data.begin(), data.end(), padded.begin());
        if (Status s = writeClusters(chain, padded.data()); !s) return s.error();
    }
    for (std::size_t i = 0; i < chain.size(); ++i) {
        setFatEntry(m_fat, chain[i], i + 1 < chain.size() ? chain[i + 1] : cluster::kEndOfChain);
    }
    return chain;
}

// Fills the file's directory entry in memory; the medium sees it at the commit.
Status Volume::stageEntry(std::size_t slot, const std::string& shortName,
                          std::uint16_t firstCluster, std::size_t bytes, std::time_t when,
                          const std::string& what) {
    // Taking the slot of the end-of-directory mark moves the mark on by one: whatever stale
    // entries lie beyond it must stay out of sight rather than come back as files. Marking a
    // slot past the end changes nothing visible, so a mark in another sector goes out at once.
    const std::size_t next = slot + 1;
    if (m_root[slot * dirent::kSize] == dirent::kEndMark && next < m_root.size() / dirent::kSize &&
        m_root[next * dirent::kSize] != dirent::kEndMark) {
        m_root[next * dirent::kSize] = dirent::kEndMark;
        if (next * dirent::kSize / kSectorSize != slot * dirent::kSize / kSectorSize) {
            std::vector<std::uint8_t> marked = m_rootOnMedium;
            marked[next * dirent::kSize] = dirent::kEndMark;
            if (Status s = writeRootChanges(m_rootOnMedium, marked); !s) {
                return failAndReload(within(what, s));
            }
            m_rootOnMedium = std::move(marked);
        }
    }
    std::uint8_t* entry = &m_root[slot * dirent::kSize];
    std::fill(entry, entry + dirent::kSize, 0);
    std::memcpy(entry + dirent::kName, shortName.data(), 11);
    if (entry[0] == dirent::kDeletedMark) entry[0] = dirent::kEscapedE5;
    entry[dirent::kAttributes] = dirent::kAttrArchive;
    stampEntry(entry, when, *m_clock);
    store16(entry + dirent::kFirstCluster, firstCluster);
    store32(entry + dirent::kFileSize, static_cast<std::uint32_t>(bytes));
    return Status::success();
}

Status Volume::commit() {
    if (!hasStaged()) return Status::success();
    auto fail = [&](const Status& s) {
        return failAndReload(within("putting the staged files on the medium: ", s));
    };
    // The new chains name no file yet: they go out with the data, and both become durable
    // before any entry points at them.
    if (m_fat != m_fatOnMedium) {
        if (Status s = writeFatChanges(m_fatOnMedium, m_fat); !s) return fail(s);
        m_fatOnMedium = m_fat;
        if (Status s = m_device->flush(); !s) return fail(s);
    }
    if (Status s = writeRootChanges(m_rootOnMedium, m_root); !s) return fail(s);
    m_rootOnMedium = m_root;
    // A replaced file's clusters are freed only once no durable entry names them.
    if (!m_pendingFree.empty()) {
        if (Status s = m_device->flush(); !s) return fail(s);
        for (std::uint16_t n : m_pendingFree) setFatEntry(m_fat, n, cluster::kFree);
        if (Status s = writeFatChanges(m_fatOnMedium, m_fat); !s) return fail(s);
        m_fatOnMedium = m_fat;
        m_pendingFree.clear();
    }
    return Status::success();
}

Status Volume::writeFile(std::string_view name, std::span<const std::uint8_t> data,
                         std::time_t when) {
    if (Status s = stageFile(name, data, when); !s) return s;
    const std::string what = "cannot write \"" + std::string(name) + "\": ";
    if (Status s = commit(); !s) return within(what, s);
    if (Status s = m_device->flush(); !s) return failAndReload(within(what, s));
    return Status::success();
}

Result<std::vector<std::uint8_t>> Volume::readFile(std::string_view name) const {
    Result<std::string> shortName = toShortName(name);
    if (!shortName) return shortName.error();
    const std::string quoted = "\"" + std::string(name) + "\"";
    const std::optional<std::size_t> index = findEntry(*shortName);
    if (!index) return Status::failure("file " + quoted + " not found");
    const std::uint8_t* entry = &m_root[*index * dirent::kSize];
    if (entry[dirent::kAttributes] & dirent::kAttrDirectory) {
        return Status::failure(quoted + " is a directory");
    }
    const std::uint32_t size = load32(entry + dirent::kFileSize);
    if (size == 0) return std::vector<std::uint8_t>();
    Result<std::vector<std::uint16_t>> chain = chainOf(load16(entry + dirent::kFirstCluster), name);
    if (!chain) return chain.error();
    const std::uint64_t needed = (std::uint64_t{size} + clusterBytes() - 1) / clusterBytes();
    if (chain->size() < needed) {
        return Status::failure(Failure::BadData,
                               "file " + quoted + " is " + std::to_string(size) +
                                   " bytes, but its cluster chain holds " +
                                   std::to_string(chain->size() * clusterBytes()));
    }
    chain->resize(needed);
    std::vector<std::uint8_t> bytes(needed * clusterBytes());
    const std::uint32_t perCluster = m_geometry.sectorsPerCluster;
    for (std::size_t i = 0; i < chain->size();) {
        std::size_t j = i + 1;
        while (j < chain->size() && (*chain)[j] == (*chain)[j - 1] + 1) ++j;
        const std::uint32_t first =
            m_firstDataSector + ((*chain)[i] - cluster::kFirstData) * perCluster;
        if (Status s = m_device->read(first, static_cast<std::uint32_t>((j - i) * perCluster),
                                      &bytes[i * clusterBytes()]);
            !s) {
            return within("reading " + quoted + ": ", s);
        }
        i = j;
    }
    bytes.resize(size);
    return bytes;
}

Status Volume::removeFile(std::string_view name) {
    Result<std::string> shortName = toShortName(name);
    if (!shortName) return shortName.error();
    const std::string quoted = "\"" + std::string(name) + "\"";
    auto fail = [&](const Status& s) {
        return failAndReload(within("cannot remove " + quoted + ": ", s));
    };
    if (!findEntry(*shortName)) return Status::failure("cannot remove " + quoted + ": not found");
    // The root sector written below would carry staged entries along.
    if (Status s = commit(); !s) return within("cannot remove " + quoted + ": ", s);
    const std::optional<std::size_t> index = findEntry(*shortName);
    const std::uint8_t* entry = &m_root[*index * dirent::kSize];
    if (entry[dirent::kAttributes] & dirent::kAttrDirectory) {
        return Status::failure("cannot remove " + quoted + ": it is a directory");
    }
    Result<std::vector<std::uint16_t>> chain = chainOf(load16(entry + dirent::kFirstCluster), name);
    if (!chain) return within("cannot remove " + quoted + ": ", chain.status());
    if (Status s = removeEntry(*index, *chain); !s) return fail(s);
    if (Status s = m_device->flush(); !s) return fail(s);
    return Status::success();
}

std::vector<FileInfo> Volume::list() const {
    std::vector<FileInfo> files;
    for (std::size_t i = 0; i < m_root.size() / dirent::kSize; ++i) {
        const std::uint8_t* entry = &m_root[i * dirent::kSize];
        if (entry[0] == dirent::kEndMark) break;
        if (!isVisibleEntry(entry)) continue;
        FileInfo info;
        info.name = displayName(entry);
        info.size = load32(entry + dirent::kFileSize);
        info.attributes = entry[dirent::kAttributes];
        info.firstCluster = load16(entry + dirent::kFirstCluster);
        files.push_back(std::move(info));
    }
    return files;
}

std::optional<FileInfo> Volume::find(std::string_view name) const {
    Result<std::string> shortName = toShortName(name);
    if (!shortName) return std::nullopt;
    const std::optional<std::size_t> index = findEntry(*shortName);
    if (!index) return std::nullopt;
    const std::uint8_t* entry = &m_root[*index * dirent::kSize];
    return FileInfo{displayName(entry), load32(entry + dirent::kFileSize),
                    entry[dirent::kAttributes], load16(entry + dirent::kFirstCluster)};
}

std::uint64_t Volume::freeBytes() const {
    std::uint64_t freeClusters = 0;
    for (std::uint32_t n = cluster::kFirstData; n < m_clusterCount + cluster::kFirstData; ++n) {
        if (fatEntry(m_fat, n) == cluster::kFree) ++freeClusters;
    }
    return freeClusters * clusterBytes();
}

}  // namespace fat
