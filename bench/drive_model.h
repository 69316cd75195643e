// A 1.44 MB diskette drive as a clock: 80 cylinders, 2 heads, 18 sectors a track, 300 rpm,
// 3 ms a cylinder stepped and 15 ms for the head to settle after a step, 500 ms for the motor
// to spin up at the first access. Sectors pass under the head as the disk turns. Transfers
// are served one after another in the order asked, and a transfer track by track in order; on
// a track the drive takes the transfer's sectors as they come round under the head, so each
// track's part of a transfer takes at most one turn, from wherever the head is when it gets
// there. A flush waits until every write before it is on the medium, which in-order service
// has done already.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "transfer_log.h"

namespace bench {

struct DriveTimes {
    std::uint32_t cylinders = 80;
    std::uint32_t heads = 2;
    std::uint32_t sectorsPerTrack = 18;
    double revolutionMs = 200;  // 300 rpm
    double stepMs = 3;          // a cylinder
    double settleMs = 15;       // after any step
    double spinUpMs = 500;      // before the first access
};

struct Modelled {
    double ms = 0;
    std::uint64_t sectorsWritten = 0;  // transfers of a sector to the medium
    std::uint64_t sectorsRead = 0;     // from the medium, not from the host's cache
    std::uint32_t seeks = 0;
    std::set<std::uint32_t> written;  // the sectors written, each once
};

// Replays a run's transfers. The host keeps what was read or written in its cache for the
// whole run, until it is dropped: a read that the cache holds costs nothing, unless it went
// past the cache.
Modelled replay(const std::vector<Transfer>& transfers, const DriveTimes& drive = {});

// The least time for writing `sectors` (each track's needed sectors in one pass, from wherever
// the head arrives, tracks in order, steps between them, the spin-up first) and then reading
// `readBack` (the sectors a run reads back from the medium) in the same way, after a step back
// to the first of their tracks.
double leastMs(const std::set<std::uint32_t>& sectors, const std::set<std::uint32_t>& readBack,
               const DriveTimes& drive = {});

// The sectors a run reads from the medium, past the cache, once it has begun writing: what it
// reads back.
std::set<std::uint32_t> readBackOf(const std::vector<Transfer>& transfers);

}  // namespace bench
