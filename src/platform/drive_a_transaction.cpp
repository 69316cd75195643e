#include "platform/drive_a_transaction.h"

#include "platform/local_clock.h"

namespace platform {
namespace {

DriveATransaction* g_current = nullptr;

}  // namespace

base::Result<MountedDriveA> mountDriveA(DriveAccess access) {
    DriveOpenOptions options;
    options.access = access;
    auto drive = DriveA::open(options);
    if (!drive) return drive.error();
    auto volume = fat::Volume::mount(**drive, platform::localClock());
    if (!volume) {
        return base::Status::failure(
            volume.error().kind(),
            "the diskette in drive A: holds no usable FAT12 volume: " + volume.message());
    }
    return MountedDriveA{std::move(*drive), std::make_unique<fat::Volume>(std::move(*volume))};
}

DriveATransaction::DriveATransaction() {
    if (g_current == nullptr) {
        g_current = this;
    } else {
        m_active = false;
    }
}

DriveATransaction::~DriveATransaction() {
    if (!m_active) return;
    (void)finish();
    g_current = nullptr;
}

DriveATransaction* DriveATransaction::current() {
    return g_current;
}

base::Result<fat::Volume*> DriveATransaction::volume() {
    if (m_mounted.volume) {
        base::Status same = m_mounted.drive->checkStillAtPath();
        if (same) same = m_mounted.volume->checkMedium();
        if (!same) {
            m_mounted.release();
            return base::Status::failure("drive A: changed while files were copied to it: " +
                                         same.message());
        }
        return m_mounted.volume.get();
    }
    auto mounted = mountDriveA(DriveAccess::Write);
    if (!mounted) return mounted.error();
    m_mounted = std::move(*mounted);
    return m_mounted.volume.get();
}

base::Status DriveATransaction::finish() {
    if (!m_active || !m_mounted.volume) return base::Status::success();
    base::Status done = m_mounted.volume->commit();
    if (done && DriveA::hasUnflushedWrites()) done = m_mounted.drive->flush();
    m_mounted.release();
    return done;
}

void DriveATransaction::abandon() {
    if (!m_active) return;
    m_mounted.release();
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
