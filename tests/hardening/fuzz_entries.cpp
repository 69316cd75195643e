#include "hardening/fuzz_entries.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "app/CrisisDlg.h"
#include "build/payload_check.h"
#include "fat/fat12.h"
#include "fat/fat_table.h"
#include "framework/help.h"
#include "res/resources.h"
#include "support/memory_device.h"
#include "support/scripted_policy.h"
#include "ui/console/console_backend.h"

namespace fuzzentry {
namespace {

namespace fs = std::filesystem;

// One scratch folder per process for the entries that go through files, removed at exit.
class ScratchFolder {
  public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        m_path =
            std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/quenvol-fuzz-XXXXXX";
        if (::mkdtemp(m_path.data()) == nullptr) std::abort();
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

const std::string& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path();
}

bool writeWhole(const std::string& path, Bytes bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && done == bytes.size();
}

// The text a file holds: its bytes up to the first NUL.
std::string textOf(Bytes input) {
    const auto nul = std::find(input.begin(), input.end(), std::uint8_t{0});
    return std::string(input.begin(), nul);
}

std::string shown(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out + "\"";
}

// Sets an environment variable for the object's lifetime.
class EnvOverride {
  public:
    EnvOverride(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

  private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// The framework's Left and Right: a negative count gives nothing, one past the end the whole.
std::string leftOf(const std::string& text, long count) {
    if (count <= 0) return {};
    return text.substr(0, std::min<std::size_t>(text.size(), static_cast<std::size_t>(count)));
}

std::string rightOf(const std::string& text, long count) {
    if (count <= 0) return {};
    if (static_cast<std::size_t>(count) >= text.size()) return text;
    return text.substr(text.size() - static_cast<std::size_t>(count));
}

}  // namespace

std::string checkPartNumber(Bytes input) {
    const std::string project = scratchFolder() + "/project";
    fs::create_directories(project);
    if (!writeWhole(project + "/partnum.mak", input)) return "cannot write the part-number file";

    const CString before = "<before>";  // longer than any part number, so a change shows
    CCrisisDlg dlg;
    dlg.m_strProjectPath = project;
    dlg.m_strPartNum = before;
    const int result = dlg.ReadPartNumber();
    const std::string got = dlg.m_strPartNum.str();

    const std::string text = textOf(input);
    const std::size_t key = text.find("PARTNUM = ");
    if (key == std::string::npos) {
        // Without the key the file names no part number; the read may refuse it (and keep the
        // old number) or accept it with some number of at most three characters.
        if (result == 0 && got != before.str()) {
            return "a refused part-number file changed the part number to " + shown(got);
        }
        if (result != 0 && got.size() > 3) return "part number " + shown(got) + " is too long";
        return {};
    }
    const std::string expected = text.substr(std::min(text.size(), key + 10), 3);
    // Refused only when it names another part number further on, or a longer one.
    bool ambiguous = expected.find_first_of("\r\n") == std::string::npos &&
                     key + 13 < text.size() &&
                     std::isalnum(static_cast<unsigned char>(text[key + 13]));
    for (std::size_t at = text.find("PARTNUM = ", key + 1); at != std::string::npos;
         at = text.find("PARTNUM = ", at + 1))
        ambiguous = ambiguous || text.substr(std::min(text.size(), at + 10), 3) != expected;
    if (ambiguous) {
        if (result != 0 || got != before.str())
            return "a part-number file naming two part numbers, or a longer one, was taken";
        return {};
    }
    if (result != 1) return "a readable part-number file holding the key was refused";
    if (got != expected) return "part number " + shown(got) + ", expected " + shown(expected);
    return {};
}

std::string checkSettingsLoad(Bytes input) {
    const std::string folder = scratchFolder() + "/config";
    fs::create_directories(folder);
    if (!writeWhole(folder + "/quenvol.ini", input)) return "cannot write the settings file";

    EnvOverride config("XDG_CONFIG_HOME", folder);
    CCrisisDlg dlg;
    dlg.LoadHistory();

    // The four slots as the splitting rule gives them: the piece up to a CR, and the text
    // moved past the CR and the one character after it.
    std::string text = textOf(input);
    std::string expected[4];
    for (std::string& slot : expected) {
        if (text.empty()) break;
        const long length = static_cast<long>(text.size());
        const std::size_t cr = text.find('\r');
        const long pos = cr == std::string::npos ? -1 : static_cast<long>(cr);
        slot = leftOf(text, pos);
        if (slot.size() > 64 * 1024) slot.clear();  // longer than loading keeps
        text = rightOf(text, length - pos - 2);
    }
    for (int i = 0; i < 4; ++i) {
        if (dlg.m_strHistory[i].str() != expected[i]) {
            return "slot " + std::to_string(i) + " holds " + shown(dlg.m_strHistory[i].str()) +
                   ", expected " + shown(expected[i]);
        }
    }
    return {};
}

namespace {

// A context id as the help file writes it, decoded by the standard library.
std::optional<std::uint32_t> bracketedId(std::string_view line) {
    if (line.size() < 3 || line.front() != '[' || line.back() != ']') return std::nullopt;
    std::string_view digits = line.substr(1, line.size() - 2);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

std::string withoutBlanksAround(const std::string& text) {
    const auto first = text.find_first_not_of("\r\n ");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of("\r\n ") - first + 1);
}

}  // namespace

std::string checkHelpFile(Bytes input) {
    const std::string content(input.begin(), input.end());
    // The topics as the format says: a bracketed id starts one, comments are dropped, every
    // other line is text of the topic it stands in.
    std::vector<HelpTopic> expected;
    for (std::size_t at = 0; at < content.size();) {
        const std::size_t end = std::min(content.find('\n', at), content.size());
        std::string line = content.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == ';') continue;
        if (const auto id = bracketedId(line)) {
            expected.push_back({*id, {}});
        } else if (!expected.empty()) {
            expected.back().text += line + "\n";
        }
    }
    for (HelpTopic& topic : expected) topic.text = withoutBlanksAround(topic.text);

    const std::string path = scratchFolder() + "/quenvol.HLP";
    if (!writeWhole(path, input)) return "cannot write the help file";
    const auto read = AfxReadHelpTopics(path.c_str());
    if (!read) return "a readable help file was refused";
    if (read->size() != expected.size()) {
        return std::to_string(read->size()) + " topics, expected " +
               std::to_string(expected.size());
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if ((*read)[i].contextId != expected[i].contextId || (*read)[i].text != expected[i].text) {
            return "topic " + std::to_string(i) + " is " + std::to_string((*read)[i].contextId) +
                   " " + shown((*read)[i].text) + ", expected " +
                   std::to_string(expected[i].contextId) + " " + shown(expected[i].text);
        }
    }

    // Help for the Start button and the contents, through the help service.
    console::ScriptedPolicy policy;
    console::ConsoleBackend backend(policy);
    AfxSetBackend(&backend);
    WindowObject start;
    start.id = 1006;
    std::vector<DWORD> table;
    for (const res::HelpIdPair& pair : res::crisisHelpTable()) {
        table.push_back(pair.controlId);
        table.push_back(pair.contextId);
    }
    WinHelpA(&start, path.c_str(), HELP_WM_HELP, reinterpret_cast<ULONG_PTR>(table.data()));
    WinHelpA(nullptr, path.c_str(), 0x000B, 0);
    AfxSetBackend(nullptr);
    std::string startTopic = "No Help topic is associated with this item.";
    for (const HelpTopic& topic : expected) {
        if (topic.contextId == 0x806603EE) {
            startTopic = topic.text;
            break;
        }
    }
    const std::string contents = expected.empty() ? std::string() : expected.front().text;
    if (backend.help().size() != 2) return "help requests did not each show one topic";
    if (backend.help()[0].topic != startTopic) {
        return "Start's topic shown as " + shown(backend.help()[0].topic) + ", expected " +
               shown(startTopic);
    }
    if (backend.help()[1].topic != contents) {
        return "contents shown as " + shown(backend.help()[1].topic) + ", expected " +
               shown(contents);
    }
    return {};
}

namespace {

std::string checkVolumeOn(fat::MemoryDevice& device) {
    auto mounted = fat::Volume::mount(device);
    if (!mounted) return {};  // refused with a message: that is all a bad medium may get
    fat::Volume& volume = *mounted;

    // What reads back before the write, by name.
    std::map<std::string, std::vector<std::uint8_t>> before;
    for (const fat::FileInfo& info : volume.list()) {
        const std::optional<fat::FileInfo> found = volume.find(info.name);
        auto bytes = volume.readFile(info.name);
        if (!bytes) continue;
        if (!found) return "read " + shown(info.name) + ", which find does not know";
        if (bytes->size() != found->size) {
            return "read " + std::to_string(bytes->size()) + " bytes of " + shown(info.name) +
                   ", whose entry says " + std::to_string(found->size);
        }
        before.emplace(info.name, std::move(*bytes));
    }
    const std::uint64_t freeBefore = volume.freeBytes();

    const std::string name = "FUZZ.TXT";
    const bool existed = volume.find(name).has_value();
    std::vector<std::uint8_t> data(700);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    if (!volume.writeFile(name, data, std::time_t{1'000'000'000})) return {};
    const std::uint64_t cluster = std::uint64_t{volume.geometry().sectorsPerCluster} * 512;
    const std::uint64_t taken = (data.size() + cluster - 1) / cluster * cluster;
    if (!existed && freeBefore - volume.freeBytes() != taken) {
        return "a new file of " + std::to_string(data.size()) + " bytes took " +
               std::to_string(freeBefore - volume.freeBytes()) + " bytes, not " +
               std::to_string(taken);
    }

    auto readBack = volume.readFile(name);
    if (!readBack || *readBack != data) return "a file just written does not read back";
    auto again = fat::Volume::mount(device);
    if (!again) return "the medium no longer mounts after a write: " + again.message();
    auto persisted = again->readFile(name);
    if (!persisted || *persisted != data) return "a file written does not read back after mount";
    if (existed) return {};  // replacing a file frees its chain, which garbage may share
    for (const auto& [other, bytes] : before) {
        auto now = again->readFile(other);
        if (!now || *now != bytes) return "writing a new file changed " + shown(other);
    }
    // Removing the new file gives back exactly its room.
    if (!again->removeFile(name)) return "a file just written cannot be removed";
    if (again->find(name) || again->freeBytes() != freeBefore) {
        return "removing a new file did not give back its room";
    }
    return {};
}

}  // namespace

std::string checkMount(Bytes input) {
    std::vector<std::uint8_t> image(input.begin(), input.end());
    const std::size_t sectors = std::max<std::size_t>(1, (image.size() + 511) / 512);
    image.resize(sectors * fat::kSectorSize, 0);
    {
        fat::MemoryDevice device(image);
        if (std::string fault = checkVolumeOn(device); !fault.empty()) return fault;
    }
    // Again on a medium as large as the boot sector says, up to the largest diskette, so that
    // the first sectors of an image stand for all of it.
    std::uint32_t declared = image[0x13] | image[0x14] << 8;
    if (declared == 0) {
        declared = static_cast<std::uint32_t>(image[0x20] | image[0x21] << 8 | image[0x22] << 16 |
                                              static_cast<std::uint32_t>(image[0x23]) << 24);
    }
    if (declared > sectors && declared <= 5760) {
        image.resize(std::size_t{declared} * fat::kSectorSize, 0);
        fat::MemoryDevice device(std::move(image));
        if (std::string fault = checkVolumeOn(device); !fault.empty()) {
            return fault + " (" + std::to_string(declared) + " sectors)";
        }
    }
    return {};
}

namespace {

// Entry n as the bit stream says: bits 12n to 12n+11, least significant first.
std::uint16_t bitwiseEntry(const std::vector<std::uint8_t>& bytes, std::uint32_t n) {
    std::uint16_t value = 0;
    for (std::uint32_t bit = 0; bit < 12; ++bit) {
        const std::uint64_t at = std::uint64_t{n} * 12 + bit;
        if ((bytes[at / 8] >> (at % 8)) & 1) value = static_cast<std::uint16_t>(value | 1u << bit);
    }
    return value;
}

}  // namespace

std::string checkFatEntries(Bytes input) {
    // The first two bytes give the FAT's length within the input, the rest after it the
    // changes, three bytes each: 12 bits of entry number and 12 of value.
    if (input.size() < 2) return {};
    const std::size_t wanted = (input[0] | (input[1] << 8)) % 6200;
    const std::size_t length = std::min(wanted, input.size() - 2);
    std::vector<std::uint8_t> fat(input.begin() + 2, input.begin() + 2 + length);
    const Bytes changes = input.subspan(2 + length);

    const std::uint32_t count = fat::fatEntriesIn(fat.size());
    if (count * 3 / 2 > fat.size() || (fat.size() - count * 3 / 2) > 2) {
        return std::to_string(count) + " entries said to fit in " + std::to_string(fat.size()) +
               " bytes";
    }
    for (std::uint32_t n = 0; n < count; ++n) {
        if (fat::fatEntry(fat, n) != bitwiseEntry(fat, n)) {
            return "entry " + std::to_string(n) + " reads " +
                   std::to_string(fat::fatEntry(fat, n)) + ", its bits say " +
                   std::to_string(bitwiseEntry(fat, n));
        }
    }
    if (count == 0) return {};
    for (std::size_t i = 0; i + 3 <= changes.size(); i += 3) {
        const std::uint32_t n = ((changes[i] | (changes[i + 1] & 0x0F) << 8)) % count;
        const auto value = static_cast<std::uint16_t>((changes[i + 1] >> 4) | changes[i + 2] << 4);
        std::vector<std::uint8_t> old = fat;
        fat::setFatEntry(fat, n, value);
        if (fat::fatEntry(fat, n) != (value & 0x0FFF)) {
            return "entry " + std::to_string(n) + " set to " + std::to_string(value) + " reads " +
                   std::to_string(fat::fatEntry(fat, n));
        }
        // Only the two bytes entry n starts in may change, and in them only its own bits.
        const std::size_t at = n + n / 2;
        if (std::memcmp(fat.data(), old.data(), at) != 0 ||
            std::memcmp(fat.data() + at + 2, old.data() + at + 2, fat.size() - at - 2) != 0) {
            return "setting entry " + std::to_string(n) + " changed bytes outside its own";
        }
        for (std::uint32_t m : {n - 1, n + 1}) {
            if (m < count && bitwiseEntry(fat, m) != bitwiseEntry(old, m)) {
                return "setting entry " + std::to_string(n) + " changed entry " + std::to_string(m);
            }
        }
        if (((n & 1) ? (fat[at] & 0x0F) != (old[at] & 0x0F)
                     : (fat[at + 1] & 0xF0) != (old[at + 1] & 0xF0))) {
            return "setting entry " + std::to_string(n) + " changed the half byte it shares";
        }
    }
    return {};
}

std::string checkPayloadFile(Bytes input) {
    const std::size_t split = std::min<std::size_t>(3, input.size());
    const std::string partNumber(input.begin(), input.begin() + static_cast<long>(split));
    const Bytes file = input.subspan(split);
    static const std::vector<std::string> kNames = {
        "size",        "blank",     "package", "layout", "reset-vector", "flash-descriptor",
        "part-number", "option-rom"};
    for (const auto role : {build::PayloadRole::SystemImage, build::PayloadRole::OptionRom}) {
        const auto findings = build::checkPayload(file, role, partNumber);
        if (findings.empty()) return "no finding at all";
        for (const build::PayloadFinding& f : findings) {
            if (std::find(kNames.begin(), kNames.end(), f.name) == kNames.end())
                return "a finding of an unpublished name: " + f.name;
            if (f.offset > file.size() || (f.offset == file.size() && !file.empty()))
                return f.name + " at offset " + std::to_string(f.offset) + " of a file of " +
                       std::to_string(file.size()) + " bytes";
            if (f.text.empty()) return f.name + " without a sentence";
        }
    }
    return {};
}

}  // namespace fuzzentry
