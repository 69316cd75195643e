#include "cli/verify.h"

namespace cli {
namespace {

build::Expectation toBuild(const Expectation& expectation) {
    build::Expectation out;
    out.files = expectation.files;
    out.bootSector = expectation.bootSector;
    return out;
}

std::vector<std::string> lines(const Expectation& expectation,
                               const std::vector<build::Difference>& differences) {
    std::vector<std::string> report = expectation.problems;
    for (const build::Difference& d : differences) report.push_back("verify: " + d.text);
    return report;
}

}  // namespace

Expectation expectationOf(const build::Written& written) {
    build::Expectation sources = build::expectationOf(written);
    Expectation expectation;
    expectation.files = std::move(sources.files);
    expectation.bootSector = std::move(sources.bootSector);
    for (const build::Difference& d : sources.problems) {
        expectation.problems.push_back("verify: " + d.text);
    }
    return expectation;
}

std::vector<std::string> verifyDiskette(fat::SectorDevice& device, const Expectation& expectation) {
    return lines(expectation, build::compareDiskette(device, toBuild(expectation)));
}

std::vector<std::string> verifyDriveA(const Expectation& expectation) {
    return lines(expectation, build::compareDriveA(toBuild(expectation)));
}

}  // namespace cli
