#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "../platform/platform_fixture.h"
#include "disk/FloppyAccess.h"
#include "platform/device_hooks.h"
#include "platform/winapi.h"

namespace {

using platform::DeviceKind;
using platformtest::patternBytes;
using platformtest::readBytes;
using platformtest::writeBytes;
namespace fs = std::filesystem;

// Stand-ins for both devices: every call is logged in order, and each answer can be set.
// With passThrough the real devices answer and the log only watches.
class FakeDevices : public platform::DeviceHooks {
  public:
    struct BiosAnswer {
        BOOL returned;
        bool carry;
    };

    bool passThrough = false;
    bool volumeOpens = true;
    bool vwin32Opens = true;
    BOOL lockResult = TRUE;
    BOOL dismountResult = TRUE;
    BOOL unlockResult = TRUE;
    BOOL readResult = TRUE;
    DWORD readCount = 512;
    BOOL writeResult = TRUE;
    DWORD writeCount = 512;
    std::deque<BiosAnswer> biosAnswers;  // one per BIOS call; then carried out without error

    std::vector<std::string> log;
    std::vector<DIOC_REGISTERS> registers;  // as each BIOS call received them
    std::vector<void*> biosBuffers;         // what EBX resolved to during each call
    std::vector<std::uint8_t> written;

    std::optional<bool> onOpen(DeviceKind kind) override {
        log.push_back(kind == DeviceKind::RawVolume ? "open volume" : "open vwin32");
        if (passThrough) return std::nullopt;
        return kind == DeviceKind::RawVolume ? volumeOpens : vwin32Opens;
    }

    std::optional<BOOL> onControl(DeviceKind kind, DWORD code, DIOC_REGISTERS* r) override {
        if (kind == DeviceKind::RawVolume) {
            BOOL answer = FALSE;
            switch (code) {
                case FSCTL_LOCK_VOLUME:
                    log.push_back("lock");
                    answer = lockResult;
                    break;
                case FSCTL_DISMOUNT_VOLUME:
                    log.push_back("dismount");
                    answer = dismountResult;
                    break;
                case FSCTL_UNLOCK_VOLUME:
                    log.push_back("unlock");
                    answer = unlockResult;
                    break;
                default:
                    log.push_back("volume control " + std::to_string(code));
                    break;
            }
            if (passThrough) return std::nullopt;
            return answer;
        }
        EXPECT_EQ(code, VWIN32_DIOC_DOS_INT13);
        EXPECT_NE(r, nullptr);
        const DWORD function = (r->reg_EAX >> 8) & 0xFF;
        log.push_back(function == 0 ? "bios reset" : function == 2 ? "bios read" : "bios write");
        registers.push_back(*r);
        platform::BufferView buffer = platform::resolveBufferHandle(r->reg_EBX);
        biosBuffers.push_back(buffer.data);
        if (passThrough) return std::nullopt;
        BiosAnswer answer{TRUE, false};
        if (!biosAnswers.empty()) {
            answer = biosAnswers.front();
            biosAnswers.pop_front();
        }
        if (answer.carry) r->reg_Flags |= 1;
        if (function == 2 && buffer.data != nullptr && buffer.size >= 512) {
            std::memset(buffer.data, 0xC3, 512);
        }
        return answer.returned;
    }

    std::optional<BOOL> onRead(LPVOID buffer, DWORD requested, DWORD* done) override {
        log.push_back("read " + std::to_string(requested));
        if (passThrough) return std::nullopt;
        std::memset(buffer, 0xA5, requested);
        *done = readCount;
        return readResult;
    }

    std::optional<BOOL> onWrite(LPCVOID buffer, DWORD requested, DWORD* done) override {
        log.push_back("write " + std::to_string(requested));
        if (passThrough) return std::nullopt;
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        written.assign(bytes, bytes + requested);
        *done = writeCount;
        return writeResult;
    }

    void onClose(DeviceKind kind) override {
        log.push_back(kind == DeviceKind::RawVolume ? "close volume" : "close vwin32");
    }
};

using Log = std::vector<std::string>;

class FloppyAccessTest : public platformtest::PlatformTest {
  protected:
    FakeDevices fake;
    BYTE buffer[512] = {};
};

// --- the BIOS back-end -------------------------------------------------------------------

TEST_F(FloppyAccessTest, SectorNumbersMapToCylinderHeadAndSector) {
    selectPlatform("1");
    platform::ScopedDeviceHooks hooks(fake);
    struct Row {
        int sector;
        DWORD ecx;
        DWORD edx;
    };
    const Row table[] = {
        {0, 0x0001, 0x0000},    {17, 0x0012, 0x0000},   {18, 0x0001, 0x0100},
        {35, 0x0012, 0x0100},   {36, 0x0101, 0x0000},   {2879, 0x4F12, 0x0100},
        {9215, 0xFF12, 0x0100}, {9216, 0x0001, 0x0000},
    };
    for (const Row& row : table) {
        fake.registers.clear();
        fake.biosBuffers.clear();
        CFloppyAccess floppy;
        EXPECT_EQ(floppy.ReadSector(row.sector, buffer), 1) << row.sector;
        ASSERT_EQ(fake.registers.size(), 2u) << row.sector;
        const DIOC_REGISTERS& read = fake.registers[1];
        EXPECT_EQ(read.reg_ECX, row.ecx) << "sector " << row.sector;
        EXPECT_EQ(read.reg_EDX, row.edx) << "sector " << row.sector;
    }
}

TEST_F(FloppyAccessTest, BiosRegisterRecordsForResetReadAndWrite) {
    selectPlatform("1");
    platform::ScopedDeviceHooks hooks(fake);
    CFloppyAccess floppy;
    ASSERT_EQ(floppy.ReadSector(37, buffer), 1);
    ASSERT_EQ(floppy.WriteSector(37, buffer), 1);
    ASSERT_EQ(fake.registers.size(), 4u);

    for (int reset : {0, 2}) {
        const DIOC_REGISTERS& r = fake.registers[reset];
        EXPECT_EQ(r.reg_EAX, 0u);
        EXPECT_EQ(r.reg_EBX, 0u);
        EXPECT_EQ(r.reg_ECX, 0u);
        EXPECT_EQ(r.reg_EDX, 0u);
        EXPECT_EQ(r.reg_EDI, 0u);
        EXPECT_EQ(r.reg_ESI, 0u);
        EXPECT_EQ(r.reg_Flags, 0u);
    }
    const DWORD functions[] = {0x0201, 0x0301};
    for (int i = 0; i < 2; ++i) {
        const DIOC_REGISTERS& r = fake.registers[1 + 2 * i];
        EXPECT_EQ(r.reg_EAX, functions[i]);
        EXPECT_EQ(r.reg_ECX, 0x0102u) << "cylinder 1, sector 2";
        EXPECT_EQ(r.reg_EDX, 0x0000u) << "head 0, drive 0";
        EXPECT_EQ(r.reg_EDI, 0u);
        EXPECT_EQ(r.reg_ESI, 0u);
        EXPECT_EQ(r.reg_Flags, 0u);
        EXPECT_NE(r.reg_EBX, 0u);
        EXPECT_EQ(fake.biosBuffers[1 + 2 * i], static_cast<void*>(buffer))
            << "EBX resolves to the caller's buffer";
    }
    // The filled-in read landed in the caller's buffer; the handle is gone afterwards.
    EXPECT_EQ(buffer[0], 0xC3);
    EXPECT_EQ(platform::resolveBufferHandle(fake.registers[1].reg_EBX).data, nullptr);
}

TEST_F(FloppyAccessTest, BiosBackEndOpensTheServiceTwicePerTransfer) {
    selectPlatform("1");
    platform::ScopedDeviceHooks hooks(fake);
    CFloppyAccess floppy;
    ASSERT_EQ(floppy.WriteSector(0, buffer), 1);
    EXPECT_EQ(fake.log, (Log{"open vwin32", "bios reset", "close vwin32", "open vwin32",
                             "bios write", "close vwin32"}));
}

TEST_F(FloppyAccessTest, BiosResultsDecideSuccess) {
    selectPlatform("1");
    platform::ScopedDeviceHooks hooks(fake);
    CFloppyAccess floppy;
    struct Case {
        const char* what;
        FakeDevices::BiosAnswer reset;
        FakeDevices::BiosAnswer transfer;
        BOOL expected;
    };
    const Case cases[] = {
        {"both good", {TRUE, false}, {TRUE, false}, 1},
        {"carry set with a nonzero return", {TRUE, false}, {TRUE, true}, 0},
        {"call returned 0, carry clear", {TRUE, false}, {FALSE, false}, 0},
        {"call returned 0, carry set", {TRUE, false}, {FALSE, true}, 0},
        {"failed reset, good transfer", {FALSE, true}, {TRUE, false}, 1},
        {"reset with carry, good transfer", {TRUE, true}, {TRUE, false}, 1},
        {"nonzero other than 1", {TRUE, false}, {7, false}, 1},
    };
    for (const Case& c : cases) {
        fake.biosAnswers = {c.reset, c.transfer};
        EXPECT_EQ(floppy.ReadSector(0, buffer), c.expected) << c.what;
        fake.biosAnswers = {c.reset, c.transfer};
        EXPECT_EQ(floppy.WriteSector(0, buffer), c.expected) << c.what;
    }
}

TEST_F(FloppyAccessTest, BiosServiceThatCannotBeOpenedFailsTheTransfer) {
    selectPlatform("1");
    fake.vwin32Opens = false;
    platform::ScopedDeviceHooks hooks(fake);
    CFloppyAccess floppy;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 0);
    EXPECT_EQ(fake.log, (Log{"open vwin32", "open vwin32"})) << "nothing to call, nothing to close";
}

TEST_F(FloppyAccessTest, PlatformIdChoosesTheBackEnd) {
    platform::ScopedDeviceHooks hooks(fake);
    const std::pair<const char*, const char*> choices[] = {
        {"1", "open vwin32"}, {"2", "open volume"}, {"0", "open volume"}};
    for (const auto& [id, device] : choices) {
        selectPlatform(id);
        fake.log.clear();
        CFloppyAccess floppy;
        EXPECT_EQ(floppy.ReadSector(0, buffer), 1);
        ASSERT_FALSE(fake.log.empty());
        EXPECT_EQ(fake.log.front(), device) << "platform id " << id;
    }
}

// --- the raw-volume back-end -------------------------------------------------------------

TEST_F(FloppyAccessTest, VolumeOrderIsLockTransferDismountUnlockClose) {
    platform::ScopedDeviceHooks hooks(fake);
    CFloppyAccess floppy;
    ASSERT_EQ(floppy.ReadSector(0, buffer), 1);
    EXPECT_EQ(fake.log,
              (Log{"open volume", "lock", "read 512", "dismount", "unlock", "close volume"}));
    fake.log.clear();
    ASSERT_EQ(floppy.WriteSector(0, buffer), 1);
    EXPECT_EQ(fake.log,
              (Log{"open volume", "lock", "write 512", "dismount", "unlock", "close volume"}));
}

TEST_F(FloppyAccessTest, VolumeResultsDecideSuccess) {
    platform::ScopedDeviceHooks hooks(fake);
    CFloppyAccess floppy;

    fake.lockResult = FALSE;
    fake.dismountResult = FALSE;
    fake.unlockResult = FALSE;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 1) << "refused lock, dismount and unlock";
    EXPECT_EQ(floppy.WriteSector(0, buffer), 1);
    EXPECT_EQ(fake.log[2], "read 512") << "the transfer follows a refused lock";

    fake.readCount = 0;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 0) << "0 bytes read";
    fake.readCount = 300;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 1) << "a short read still counts";
    fake.readResult = FALSE;
    fake.readCount = 512;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 0) << "ReadFile failed";
    fake.readResult = 42;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 1) << "exactly 1";

    fake.writeCount = 511;
    EXPECT_EQ(floppy.WriteSector(0, buffer), 0) << "511 bytes written";
    fake.writeCount = 512;
    fake.writeResult = FALSE;
    EXPECT_EQ(floppy.WriteSector(0, buffer), 0) << "WriteFile failed";
}

TEST_F(FloppyAccessTest, VolumeThatCannotBeOpenedFailsWithoutAClose) {
    fake.volumeOpens = false;
    platform::ScopedDeviceHooks hooks(fake);
    CFloppyAccess floppy;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 0);
    EXPECT_EQ(floppy.WriteSector(0, buffer), 0);
    EXPECT_EQ(fake.log, (Log{"open volume", "open volume"}));
}

TEST_F(FloppyAccessTest, WriteSendsTheCallersBytes) {
    platform::ScopedDeviceHooks hooks(fake);
    const auto bytes = patternBytes(512, 8);
    std::memcpy(buffer, bytes.data(), 512);
    CFloppyAccess floppy;
    ASSERT_EQ(floppy.WriteSector(0, buffer), 1);
    EXPECT_TRUE(fake.written == bytes);
}

// --- both back-ends on a real image ------------------------------------------------------

TEST_F(FloppyAccessTest, BothBackEndsShareSectorZeroOfTheSameImage) {
    makeImage();
    auto image = readBytes(driveImage());
    const auto first = patternBytes(512, 21);
    const auto second = patternBytes(512, 22);

    std::memcpy(buffer, first.data(), 512);
    selectPlatform("2");
    ASSERT_EQ(CFloppyAccess().WriteSector(0, buffer), 1) << platform::lastErrorMessage();
    std::memset(buffer, 0, 512);
    selectPlatform("1");
    ASSERT_EQ(CFloppyAccess().ReadSector(0, buffer), 1) << platform::lastErrorMessage();
    EXPECT_EQ(std::memcmp(buffer, first.data(), 512), 0);

    std::memcpy(buffer, second.data(), 512);
    ASSERT_EQ(CFloppyAccess().WriteSector(0, buffer), 1) << platform::lastErrorMessage();
    std::memset(buffer, 0, 512);
    selectPlatform("2");
    ASSERT_EQ(CFloppyAccess().ReadSector(0, buffer), 1);
    EXPECT_EQ(std::memcmp(buffer, second.data(), 512), 0);

    std::copy(second.begin(), second.end(), image.begin());
    EXPECT_TRUE(readBytes(driveImage()) == image) << "only sector 0 changed";
}

TEST_F(FloppyAccessTest, VolumeBackEndAlwaysTransfersSectorZero) {
    makeImage();
    const auto image = readBytes(driveImage());
    CFloppyAccess floppy;
    ASSERT_EQ(floppy.ReadSector(100, buffer), 1);
    EXPECT_EQ(std::memcmp(buffer, image.data(), 512), 0);
}

TEST_F(FloppyAccessTest, BiosBackEndReachesEverySectorAndNoFurther) {
    makeImage();
    const auto image = readBytes(driveImage());
    selectPlatform("1");
    CFloppyAccess floppy;
    ASSERT_EQ(floppy.ReadSector(2879, buffer), 1);
    EXPECT_EQ(std::memcmp(buffer, image.data() + 2879 * 512, 512), 0);
    ASSERT_EQ(floppy.ReadSector(37, buffer), 1);
    EXPECT_EQ(std::memcmp(buffer, image.data() + 37 * 512, 512), 0);
    EXPECT_EQ(floppy.ReadSector(2880, buffer), 0) << "cylinder 80 lies outside the medium";
    EXPECT_EQ(floppy.WriteSector(2880, buffer), 0);
    EXPECT_TRUE(readBytes(driveImage()) == image);
}

TEST_F(FloppyAccessTest, RealVolumeCallsKeepTheirOrder) {
    makeImage();
    fake.passThrough = true;
    platform::ScopedDeviceHooks hooks(fake);
    const auto bytes = patternBytes(512, 30);
    std::memcpy(buffer, bytes.data(), 512);
    ASSERT_EQ(CFloppyAccess().WriteSector(0, buffer), 1);
    EXPECT_EQ(fake.log,
              (Log{"open volume", "lock", "write 512", "dismount", "unlock", "close volume"}));
    auto image = readBytes(driveImage());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.begin()));
}

TEST_F(FloppyAccessTest, RealBiosCallsCarryTheirRegisters) {
    makeImage();
    selectPlatform("1");
    fake.passThrough = true;
    platform::ScopedDeviceHooks hooks(fake);
    ASSERT_EQ(CFloppyAccess().ReadSector(2879, buffer), 1);
    ASSERT_EQ(fake.registers.size(), 2u);
    EXPECT_EQ(fake.registers[1].reg_EAX, 0x0201u);
    EXPECT_EQ(fake.registers[1].reg_ECX, 0x4F12u);
    EXPECT_EQ(fake.registers[1].reg_EDX, 0x0100u);
    EXPECT_EQ(fake.biosBuffers[1], static_cast<void*>(buffer));
}

// --- what is no diskette is never written -------------------------------------------------

class FloppyRefusalTest : public FloppyAccessTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(FloppyRefusalTest, TenMegabyteFileIsRefusedAndUnchanged) {
    selectPlatform(GetParam());
    const auto big = patternBytes(10 * 1024 * 1024, 11);
    writeBytes(driveImage(), big);
    CFloppyAccess floppy;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 0);
    std::memset(buffer, 0x77, 512);
    EXPECT_EQ(floppy.WriteSector(0, buffer), 0);
    EXPECT_TRUE(readBytes(driveImage()) == big);
}

TEST_P(FloppyRefusalTest, ReadOnlyImageReadsButIsNotWritten) {
    selectPlatform(GetParam());
    makeImage();
    const auto image = readBytes(driveImage());
    fs::permissions(driveImage(), fs::perms::owner_read | fs::perms::group_read);
    CFloppyAccess floppy;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 1);
    EXPECT_EQ(std::memcmp(buffer, image.data(), 512), 0);
    std::memset(buffer, 0x77, 512);
    EXPECT_EQ(floppy.WriteSector(0, buffer), 0);
    EXPECT_TRUE(readBytes(driveImage()) == image);
}

TEST_P(FloppyRefusalTest, EmptyDriveFolderAndDeviceNodeGiveNoDiskette) {
    selectPlatform(GetParam());
    CFloppyAccess floppy;
    EXPECT_EQ(floppy.ReadSector(0, buffer), 0) << "missing path";
    EXPECT_EQ(floppy.WriteSector(0, buffer), 0);
    EXPECT_FALSE(fs::exists(driveImage()));
    fs::create_directory(driveImage());
    EXPECT_EQ(floppy.ReadSector(0, buffer), 0) << "a folder";
    EXPECT_EQ(floppy.WriteSector(0, buffer), 0);
    pointDriveAt("/dev/null");
    EXPECT_EQ(floppy.ReadSector(0, buffer), 0) << "/dev/null";
    EXPECT_EQ(floppy.WriteSector(0, buffer), 0);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, FloppyRefusalTest, ::testing::Values("1", "2"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param[0] == '1' ? "Bios" : "Volume");
                         });

}  // namespace
