#include "drivers/FileDriver.h"

#include "base/AtomicFile.h"
#include "base/Files.h"
#include "base/Json.h"

#include <system_error>

namespace vanto {
namespace fs = std::filesystem;

DriverCommand FileDriver::parsedCommand(const std::string& bytes) {
    try {
        return DriverCommand::fromWire(nlohmann::json::parse(bytes));
    } catch (const nlohmann::json::exception& error) {
        throw FileDriver::Failure::unreadable(json::description(error));
    } catch (const DecodeError& error) {
        throw FileDriver::Failure::unreadable(error.what());
    }
}

FileDriver::Failure FileDriver::Failure::unreadable(const std::string& reason) {
    return {Case::unreadable, "the driver's command could not be read: " + reason};
}

FileDriver::Failure FileDriver::Failure::noFolder() {
    return {Case::noFolder, "the driven take's folder beside the sheet could not be made"};
}

FileDriver::FileDriver(fs::path directory, Clock& clock) : directory_(std::move(directory)), clock_(clock) {}

fs::path FileDriver::folderBeside(const fs::path& sheet) {
    auto folder = sheet;
    folder.replace_extension(".drive");
    return folder;
}

void FileDriver::prepare() {
    // A folder that cannot be emptied would hand an earlier take's commands to this one.
    fs::remove_all(directory_);
    createFolders(directory_, fs::perms::owner_all);
}

DriverCommand FileDriver::next(double timeout, std::stop_token stop) {
    const fs::path file = directory_ / "next.json";
    const double deadline = clock_.now() + timeout;
    while (clock_.now() < deadline) {
        std::string bytes;
        try {
            bytes = readFile(file);
        } catch (const fs::filesystem_error&) {
            if (!clock_.sleep(pollInterval, stop)) throw Cancelled();
            continue;
        }
        std::error_code ignored;
        fs::remove(file, ignored);
        return parsedCommand(bytes);
    }
    return DriverCommand::idle();
}

void FileDriver::answer(const DriverResult& result) {
    const std::string id = std::to_string(result.id);
    const fs::path hidden = directory_ / (".result-" + id + ".json");
    const fs::path published = directory_ / ("result-" + id + ".json");
    // Invalid UTF-8 in a label or an error must not keep the answer from the driver.
    writeAtomically(hidden, json::written(toJSON(result), 2, nlohmann::json::error_handler_t::replace));
    std::error_code ignored;
    fs::remove(published, ignored);
    fs::rename(hidden, published);
}

fs::path FileDriver::screenshotFile(std::int64_t id) {
    return directory_ / ("look-" + std::to_string(id) + ".png");
}

} // namespace vanto
