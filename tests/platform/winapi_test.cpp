#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform_fixture.h"

namespace {

using platformtest::patternBytes;
using platformtest::readBytes;
namespace fs = std::filesystem;

class WinApiTest : public platformtest::PlatformTest {};

DWORD platformId() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(GetVersionExA(&info));
    return info.dwPlatformId;
}

TEST_F(WinApiTest, VersionReportsTheNtFamilyUnlessTheEnvironmentSaysOtherwise) {
    EXPECT_EQ(platformId(), VER_PLATFORM_WIN32_NT);
    selectPlatform("1");
    EXPECT_EQ(platformId(), VER_PLATFORM_WIN32_WINDOWS);
    selectPlatform("0");
    EXPECT_EQ(platformId(), VER_PLATFORM_WIN32s);
    selectPlatform("seven");
    EXPECT_EQ(platformId(), VER_PLATFORM_WIN32_NT);

    OSVERSIONINFOA wrongSize{};
    wrongSize.dwOSVersionInfoSize = 156;
    EXPECT_FALSE(GetVersionExA(&wrongSize));
}

TEST_F(WinApiTest, MemoryBlocksAreZeroFilledAndReleasedOnce) {
    auto* block = static_cast<BYTE*>(VirtualAlloc(nullptr, 512, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(block[i], 0) << i;
    std::memset(block, 0xAB, 512);
    EXPECT_FALSE(VirtualFree(block, 512, MEM_RELEASE)) << "a release takes size 0";
    EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(block, 0, MEM_RELEASE));
    EXPECT_EQ(VirtualAlloc(nullptr, 512, MEM_COMMIT, 0x40 /* executable */), nullptr);
}

TEST_F(WinApiTest, UnknownHandlesAreRefused) {
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(std::uintptr_t{0x1004})));
    DWORD done = 99;
    BYTE buffer[512];
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, 512, &done, nullptr));
    EXPECT_EQ(done, 0u);

    HANDLE device =
        CreateFileA("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(device));
    EXPECT_FALSE(CloseHandle(device)) << "a handle closes once";
    EXPECT_EQ(CreateFileA("/etc/passwd", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST_F(WinApiTest, BufferHandlesLiveAsLongAsTheirScope) {
    BYTE buffer[512];
    DWORD handle = 0;
    {
        platform::ScopedBufferHandle scoped(buffer, sizeof buffer);
        handle = scoped.handle();
        EXPECT_NE(handle, 0u);
        platform::BufferView view = platform::resolveBufferHandle(handle);
        EXPECT_EQ(view.data, buffer);
        EXPECT_EQ(view.size, sizeof buffer);
        platform::ScopedBufferHandle other(buffer, 16);
        EXPECT_NE(other.handle(), handle);
    }
    EXPECT_EQ(platform::resolveBufferHandle(handle).data, nullptr);
}

HANDLE openVolume() {
    return CreateFileA("\\\\.\\a:", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL control(HANDLE volume, DWORD code) {
    DWORD returned = 0;
    return DeviceIoControl(volume, code, nullptr, 0, nullptr, 0, &returned, nullptr);
}

TEST_F(WinApiTest, RawVolumeStartsAtByteZeroAndAdvances) {
    makeImage();
    auto image = readBytes(driveImage());
    HANDLE volume = openVolume();
    ASSERT_NE(volume, INVALID_HANDLE_VALUE) << platform::lastErrorMessage();
    BYTE sector[512];
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(volume, sector, 512, &done, nullptr));
    EXPECT_EQ(done, 512u);
    EXPECT_EQ(std::memcmp(sector, image.data(), 512), 0);
    ASSERT_TRUE(ReadFile(volume, sector, 512, &done, nullptr));
    EXPECT_EQ(std::memcmp(sector, image.data() + 512, 512), 0);
    EXPECT_FALSE(ReadFile(volume, sector, 511, &done, nullptr)) << "whole sectors only";
    EXPECT_TRUE(CloseHandle(volume));
}

TEST_F(WinApiTest, RawVolumeLockIsExclusiveAndUnlockReleasesIt) {
    makeImage();
    HANDLE first = openVolume();
    HANDLE second = openVolume();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(control(first, FSCTL_UNLOCK_VOLUME)) << "nothing to unlock yet";
    EXPECT_TRUE(control(first, FSCTL_LOCK_VOLUME));
    EXPECT_FALSE(control(second, FSCTL_LOCK_VOLUME));
    EXPECT_NE(platform::lastErrorMessage().find("busy"), std::string::npos);
    EXPECT_EQ(platform::lastErrorKind(), base::Failure::Busy);

    // While the first holds the drive, the second cannot write to it either.
    const auto fresh = patternBytes(512, 4);
    DWORD done = 0;
    EXPECT_FALSE(WriteFile(second, fresh.data(), 512, &done, nullptr));
    EXPECT_TRUE(control(first, FSCTL_DISMOUNT_VOLUME));
    EXPECT_TRUE(control(first, FSCTL_UNLOCK_VOLUME));
    EXPECT_TRUE(control(second, FSCTL_LOCK_VOLUME));
    EXPECT_TRUE(WriteFile(second, fresh.data(), 512, &done, nullptr));
    EXPECT_EQ(done, 512u);
    EXPECT_FALSE(control(second, 0x12345));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(CloseHandle(first));
    auto image = readBytes(driveImage());
    EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), image.begin()));
}

TEST_F(WinApiTest, RawVolumeRefusesWhatIsNoDiskette) {
    EXPECT_EQ(openVolume(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::lastErrorMessage().rfind("no diskette in drive A:", 0), 0u);

    const auto big = patternBytes(10 * 1024 * 1024, 5);
    platformtest::writeBytes(driveImage(), big);
    EXPECT_EQ(openVolume(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(readBytes(driveImage()) == big);

    pointDriveAt(m_dir);
    EXPECT_EQ(openVolume(), INVALID_HANDLE_VALUE);
#ifndef _WIN32
    pointDriveAt("/dev/null");
    EXPECT_EQ(openVolume(), INVALID_HANDLE_VALUE);
#endif
}

TEST_F(WinApiTest, RawVolumeOnAWriteProtectedDisketteReadsButDoesNotWrite) {
    makeImage();
    const auto original = readBytes(driveImage());
    fs::permissions(driveImage(), fs::perms::owner_read);
    HANDLE volume = openVolume();
    ASSERT_NE(volume, INVALID_HANDLE_VALUE) << platform::lastErrorMessage();
    BYTE sector[512];
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(volume, sector, 512, &done, nullptr));
    EXPECT_EQ(done, 512u);
    EXPECT_FALSE(WriteFile(volume, sector, 512, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(platform::lastErrorMessage().rfind("write-protected", 0), 0u);
    CloseHandle(volume);
    EXPECT_TRUE(readBytes(driveImage()) == original);
}

// One BIOS call through the service device, as the sector class makes it.
struct BiosCall {
    BOOL returned = FALSE;
    DIOC_REGISTERS out{};
};

BiosCall callBios(const DIOC_REGISTERS& in) {
    HANDLE device =
        CreateFileA("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    EXPECT_NE(device, INVALID_HANDLE_VALUE);
    BiosCall call;
    call.out = in;
    DWORD returned = 0;
    call.returned = DeviceIoControl(device, VWIN32_DIOC_DOS_INT13, &call.out, sizeof call.out,
                                    &call.out, sizeof call.out, &returned, nullptr);
    if (call.returned) {
        EXPECT_EQ(returned, sizeof(DIOC_REGISTERS));
    }
    CloseHandle(device);
    return call;
}

DIOC_REGISTERS transfer(DWORD function, DWORD ebx, DWORD cylinder, DWORD head, DWORD sector) {
    DIOC_REGISTERS r{};
    r.reg_EAX = function;
    r.reg_EBX = ebx;
    r.reg_ECX = cylinder * 256 + sector;
    r.reg_EDX = head * 256;
    return r;
}

bool carry(const BiosCall& call) {
    return (call.out.reg_Flags & 1u) != 0;
}
DWORD statusOf(const BiosCall& call) {
    return (call.out.reg_EAX >> 8) & 0xFFu;
}

TEST_F(WinApiTest, BiosServiceReadsAndWritesByCylinderHeadAndSector) {
    makeImage();
    auto image = readBytes(driveImage());
    BYTE buffer[512];
    platform::ScopedBufferHandle handle(buffer, sizeof buffer);

    BiosCall reset = callBios(DIOC_REGISTERS{});
    EXPECT_TRUE(reset.returned);
    EXPECT_FALSE(carry(reset));

    // Cylinder 1, head 1, sector 3 is sector (1 * 2 + 1) * 18 + 2 = 56.
    BiosCall read = callBios(transfer(0x0201, handle.handle(), 1, 1, 3));
    ASSERT_TRUE(read.returned);
    EXPECT_FALSE(carry(read)) << platform::lastErrorMessage();
    EXPECT_EQ(read.out.reg_EAX & 0xFFFFu, 0x0001u) << "AH = 0, AL = sectors done";
    EXPECT_EQ(std::memcmp(buffer, image.data() + 56 * 512, 512), 0);

    const auto fresh = patternBytes(512, 6);
    std::memcpy(buffer, fresh.data(), 512);
    BiosCall write = callBios(transfer(0x0301, handle.handle(), 79, 1, 18));
    ASSERT_TRUE(write.returned);
    EXPECT_FALSE(carry(write)) << platform::lastErrorMessage();
    std::copy(fresh.begin(), fresh.end(), image.end() - 512);
    EXPECT_TRUE(readBytes(driveImage()) == image);
}

TEST_F(WinApiTest, BiosServiceSetsCarryOnEveryError) {
    makeImage(737280);  // 9 sectors per track, 80 cylinders
    const auto original = readBytes(driveImage());
    BYTE buffer[512] = {};
    platform::ScopedBufferHandle handle(buffer, sizeof buffer);
    platform::ScopedBufferHandle tooSmall(buffer, 511);
    BYTE twoSectors[1024] = {};
    platform::ScopedBufferHandle large(twoSectors, sizeof twoSectors);

    struct Case {
        const char* what;
        DIOC_REGISTERS in;
        DWORD status;
    };
    DIOC_REGISTERS otherDrive = transfer(0x0201, handle.handle(), 0, 0, 1);
    otherDrive.reg_EDX |= 1;
    DIOC_REGISTERS resetB{};
    resetB.reg_EDX = 1;
    const Case cases[] = {
        {"sector 10 on a 9-sector track", transfer(0x0201, handle.handle(), 0, 0, 10), 0x04},
        {"sector 0", transfer(0x0201, handle.handle(), 0, 0, 0), 0x04},
        {"head 2", transfer(0x0301, handle.handle(), 0, 2, 1), 0x04},
        {"cylinder 80", transfer(0x0301, handle.handle(), 80, 0, 1), 0x04},
        {"two sectors past the end", transfer(0x0302, large.handle(), 79, 1, 9), 0x04},
        {"drive B:", otherDrive, 0x01},
        {"reset of drive B:", resetB, 0x01},
        {"no buffer", transfer(0x0201, 0, 0, 0, 1), 0x01},
        {"a buffer too small", transfer(0x0201, tooSmall.handle(), 0, 0, 1), 0x01},
        {"an unknown function", transfer(0x0801, handle.handle(), 0, 0, 1), 0x01},
        {"no sectors", transfer(0x0200, handle.handle(), 0, 0, 1), 0x01},
    };
    for (const Case& c : cases) {
        BiosCall call = callBios(c.in);
        EXPECT_TRUE(call.returned) << c.what;
        EXPECT_TRUE(carry(call)) << c.what;
        EXPECT_EQ(statusOf(call), c.status) << c.what;
    }
    EXPECT_TRUE(readBytes(driveImage()) == original);

    fs::permissions(driveImage(), fs::perms::owner_read);
    BiosCall protectedWrite = callBios(transfer(0x0301, handle.handle(), 0, 0, 1));
    EXPECT_TRUE(carry(protectedWrite));
    EXPECT_EQ(statusOf(protectedWrite), 0x03u);

    fs::permissions(driveImage(), fs::perms::owner_write, fs::perm_options::add);  // for Windows
    fs::remove(driveImage());
    BiosCall empty = callBios(transfer(0x0201, handle.handle(), 0, 0, 1));
    EXPECT_TRUE(carry(empty));
    EXPECT_EQ(statusOf(empty), 0x80u);
}

TEST_F(WinApiTest, BiosServiceRefusesAMalformedCall) {
    HANDLE device = CreateFileA("\\\\.\\VWIN32", 0, 0, nullptr, 0, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DIOC_REGISTERS r{};
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(device, 1, &r, sizeof r, &r, sizeof r, &returned, nullptr));
    EXPECT_FALSE(
        DeviceIoControl(device, VWIN32_DIOC_DOS_INT13, &r, 20, &r, sizeof r, &returned, nullptr));
    EXPECT_FALSE(
        DeviceIoControl(device, VWIN32_DIOC_DOS_INT13, nullptr, 0, nullptr, 0, &returned, nullptr));
    CloseHandle(device);
}

}  // namespace
