#include "drive_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace bench {
namespace {

constexpr std::uint64_t kSector = 512;

class Drive {
  public:
    explicit Drive(const DriveTimes& times) : m_times(times) {}

    // Transfers `sectors` (ascending, all on one track) as they pass under the head.
    void serveTrack(std::uint32_t track, const std::vector<std::uint32_t>& sectors) {
        if (!m_spinning) {
            m_now += m_times.spinUpMs;
            m_spinning = true;
        }
        const std::uint32_t cylinder = track / m_times.heads;
        if (cylinder != m_cylinder) {
            m_now += std::abs(static_cast<int>(cylinder) - static_cast<int>(m_cylinder)) *
                         m_times.stepMs +
                     m_times.settleMs;
            m_cylinder = cylinder;
            ++m_seeks;
        }
        // The disk turns from sector 0 at time 0: sector k passes from k to k + 1 sector times
        // into each turn. The track's part is done when its last sector to come round has.
        const double sectorMs = m_times.revolutionMs / m_times.sectorsPerTrack;
        const double turn = std::fmod(m_now, m_times.revolutionMs);
        double done = 0;
        for (std::uint32_t sector : sectors) {
            double wait = (sector % m_times.sectorsPerTrack) * sectorMs - turn;
            if (wait < -1e-9) wait += m_times.revolutionMs;
            done = std::max(done, std::max(wait, 0.0) + sectorMs);
        }
        m_now += done;
    }
    double now() const { return m_now; }
    std::uint32_t seeks() const { return m_seeks; }

  private:
    DriveTimes m_times;
    double m_now = 0;
    bool m_spinning = false;
    std::uint32_t m_cylinder = 0;
    std::uint32_t m_seeks = 0;
};

// Serves the sectors of one transfer that reach the medium, track by track.
void serve(Drive& drive, const std::vector<std::uint32_t>& sectors, const DriveTimes& times) {
    std::vector<std::uint32_t> track;
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        track.push_back(sectors[i]);
        const bool last = i + 1 == sectors.size() || sectors[i + 1] / times.sectorsPerTrack !=
                                                         sectors[i] / times.sectorsPerTrack;
        if (last) {
            drive.serveTrack(sectors[i] / times.sectorsPerTrack, track);
            track.clear();
        }
    }
}

}  // namespace

Modelled replay(const std::vector<Transfer>& transfers, const DriveTimes& times) {
    Drive drive(times);
    Modelled result;
    std::set<std::uint32_t> cached;
    // What goes to the drive as one request: the host's block layer merges a transfer into the
    // one before when it goes the same way and carries on where that one ended. Nothing is
    // reordered, and nothing is merged across a flush.
    std::vector<std::uint32_t> request;
    Transfer::Kind requestKind = Transfer::Kind::Write;
    auto send = [&] {
        serve(drive, request, times);
        request.clear();
    };
    auto add = [&](Transfer::Kind kind, std::uint32_t sector) {
        if (!request.empty() && (kind != requestKind || sector != request.back() + 1)) send();
        requestKind = kind;
        request.push_back(sector);
    };
    for (const Transfer& t : transfers) {
        const auto first = static_cast<std::uint32_t>(t.offset / kSector);
        const auto count = static_cast<std::uint32_t>((t.bytes + kSector - 1) / kSector);
        switch (t.kind) {
            case Transfer::Kind::Write:
                for (std::uint32_t s = first; s < first + count; ++s) {
                    add(t.kind, s);
                    cached.insert(s);
                    result.written.insert(s);
                }
                result.sectorsWritten += count;
                break;
            case Transfer::Kind::Read:
                for (std::uint32_t s = first; s < first + count; ++s) {
                    if (!t.pastCache && cached.count(s) != 0) continue;
                    add(t.kind, s);
                    cached.insert(s);
                    ++result.sectorsRead;
                }
                break;
            case Transfer::Kind::DropCache:
                cached.clear();
                break;
            case Transfer::Kind::Flush:
                send();
                break;
        }
    }
    send();
    result.ms = drive.now();
    result.seeks = drive.seeks();
    return result;
}

std::set<std::uint32_t> readBackOf(const std::vector<Transfer>& transfers) {
    std::set<std::uint32_t> sectors;
    bool writing = false;
    for (const Transfer& t : transfers) {
        writing = writing || t.kind == Transfer::Kind::Write;
        if (!writing || t.kind != Transfer::Kind::Read || !t.pastCache) continue;
        const auto first = static_cast<std::uint32_t>(t.offset / kSector);
        const auto count = static_cast<std::uint32_t>((t.bytes + kSector - 1) / kSector);
        for (std::uint32_t s = first; s < first + count; ++s) sectors.insert(s);
    }
    return sectors;
}

double leastMs(const std::set<std::uint32_t>& sectors, const std::set<std::uint32_t>& readBack,
               const DriveTimes& times) {
    if (sectors.empty() && readBack.empty()) return 0;
    // Needed sectors by track, tracks in order.
    auto byTrack = [&](const std::set<std::uint32_t>& needed) {
        std::map<std::uint32_t, std::vector<std::uint32_t>> tracks;
        for (std::uint32_t s : needed) {
            tracks[s / times.sectorsPerTrack].push_back(s % times.sectorsPerTrack);
        }
        return tracks;
    };
    const double sectorMs = times.revolutionMs / times.sectorsPerTrack;
    // One pass over a track: the shortest arc that holds every needed sector.
    auto passMs = [&](const std::vector<std::uint32_t>& needed) {
        std::uint32_t widestGap = 0;
        for (std::size_t i = 0; i < needed.size(); ++i) {
            const std::uint32_t next =
                i + 1 < needed.size() ? needed[i + 1] : needed[0] + times.sectorsPerTrack;
            widestGap = std::max(widestGap, next - needed[i] - 1);
        }
        return (times.sectorsPerTrack - widestGap) * sectorMs;
    };
    double ms = times.spinUpMs;
    std::uint32_t cylinder = 0;
    auto goTo = [&](std::uint32_t track) {
        const std::uint32_t target = track / times.heads;
        if (target != cylinder) {
            ms += std::abs(static_cast<int>(target) - static_cast<int>(cylinder)) * times.stepMs +
                  times.settleMs;
            cylinder = target;
        }
    };
    for (const auto* pass : {&sectors, &readBack}) {
        for (const auto& [track, needed] : byTrack(*pass)) {
            goTo(track);
            ms += passMs(needed);
        }
    }
    return ms;
}

}  // namespace bench
