#include "platform/drive_a_copies.h"

#include "platform/drive_a.h"
#include "platform/local_clock.h"

namespace platform {
namespace {

DriveACopies* g_current = nullptr;

}  // namespace

DriveACopies::DriveACopies() {
    if (g_current == nullptr) {
        g_current = this;
    } else {
        m_active = false;
    }
}

DriveACopies::~DriveACopies() {
    if (!m_active) return;
    (void)finish();
    g_current = nullptr;
}

DriveACopies* DriveACopies::current() {
    return g_current;
}

base::Result<fat::Volume*> DriveACopies::volume() {
    if (m_volume) {
        base::Status same = m_drive->checkStillAtPath();
        if (same) same = m_volume->checkMedium();
        if (!same) {
            m_volume.reset();
            m_drive.reset();
            return base::Status::failure("drive A: changed while files were copied to it: " +
                                         same.message());
        }
        return m_volume.get();
    }
    DriveOpenOptions options;
    options.access = DriveAccess::Write;
    auto drive = DriveA::open(options);
    if (!drive) return drive.error();
    auto volume = fat::Volume::mount(**drive, platform::localClock());
    if (!volume) {
        return base::Status::failure(
            volume.error().kind(),
            "the diskette in drive A: holds no usable FAT12 volume: " + volume.message());
    }
    m_drive = std::move(*drive);
    m_volume = std::make_unique<fat::Volume>(std::move(*volume));
    return m_volume.get();
}

base::Status DriveACopies::finish() {
    if (!m_active || !m_volume) return base::Status::success();
    base::Status done = m_volume->commit();
    if (done && DriveA::hasUnflushedWrites()) done = m_drive->flush();
    m_volume.reset();
    m_drive.reset();
    return done;
}

void DriveACopies::abandon() {
    if (!m_active) return;
    m_volume.reset();
    m_drive.reset();
}

base::Status flushDriveA() {
    if (!DriveA::hasUnflushedWrites()) return base::Status::success();
    DriveOpenOptions options;
    options.access = DriveAccess::Write;
    options.exclusive = false;
    auto drive = DriveA::open(options);
    if (!drive) return drive.error();
    return (*drive)->flush();
}

}  // namespace platform
