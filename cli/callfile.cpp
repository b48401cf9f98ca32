#include "callfile.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zemctl {

using zem::codec::Json;

std::string rfc3339(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    const std::time_t seconds = std::time_t(ms.count() / 1000);
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", int(ms.count() % 1000));
    return text;
}

bool parseRfc3339(const std::string &text, std::chrono::system_clock::time_point &t)
{
    std::tm utc {};
    int ms = 0, length = 0;
    if (text.size() != 24
        || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &utc.tm_year, &utc.tm_mon,
               &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &ms, &length)
            != 7
        || length != 24 || utc.tm_mon < 1 || utc.tm_mon > 12 || utc.tm_mday < 1 || utc.tm_mday > 31
        || utc.tm_hour > 23 || utc.tm_min > 59 || utc.tm_sec > 60)
        return false;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const std::time_t seconds = timegm(&utc);
    t = std::chrono::system_clock::time_point(std::chrono::seconds(seconds))
        + std::chrono::milliseconds(ms);
    return true;
}

namespace {

Json recordJson(const zem::Record *record, const void *data)
{
    if (!record || !data)
        return nullptr;
    return Json { { "decoded", zem::codec::decode(*record, data) },
        { "hex", zem::codec::toHex(data, record->size) } };
}

// The record's bytes from its hex form, checked against the record's size.
std::string recordBytes(
    const Json &line, const char *key, const zem::Record *record, std::vector<std::uint8_t> &bytes)
{
    const auto it = line.find(key);
    if (!record)
        return it == line.end() || it->is_null()
            ? std::string()
            : std::string("\"") + key + "\" must be null for this command";
    if (it == line.end() || !it->is_object() || !it->contains("hex") || !(*it)["hex"].is_string())
        return std::string("\"") + key + "\" needs {\"hex\": \"...\"}";
    if (!zem::codec::fromHex((*it)["hex"].get<std::string>(), bytes))
        return std::string("\"") + key + "\" hex is not hexadecimal byte pairs";
    if (bytes.size() != record->size)
        return std::string("\"") + key + "\" holds " + std::to_string(bytes.size()) + " bytes; "
            + record->name + " has " + std::to_string(record->size);
    return {};
}

} // namespace

std::string callLine(const CallRecord &call, const char *origin)
{
    const Json line {
        { "v", kCallFileVersion },
        { "time", rfc3339(call.started) },
        { "duration_us", call.duration.count() },
        { "operation", call.operation },
        { "command", call.command },
        { "origin", origin },
        { "handle", call.handle },
        { "result", call.result },
        { "result_name", resultName(call.result) },
        { "request", recordJson(call.requestRecord, call.request) },
        { "response", recordJson(call.responseRecord, call.response) },
    };
    return line.dump();
}

CallFileWriter::~CallFileWriter()
{
    if (fd >= 0)
        ::close(fd);
}

std::string CallFileWriter::open(const std::string &fileName)
{
    name = fileName;
    fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return "cannot append to " + fileName + ": " + std::strerror(errno);
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fd = -1;
        return "cannot append to " + fileName + ": not a regular file";
    }
    return {};
}

std::string CallFileWriter::append(const std::string &text)
{
    if (fd < 0)
        return {};
    const std::string line = text + '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return "cannot write to " + name + ": " + std::strerror(n < 0 ? errno : EIO);
        done += std::size_t(n);
    }
    return {};
}

std::vector<std::string> readCallFile(const std::string &fileName, std::vector<CallEntry> &calls)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return { "cannot read " + fileName + ": " + std::strerror(errno) };
    struct stat info
    {
    };
    if (stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return { fileName + " is not a regular file" };
    if (std::uintmax_t(info.st_size) > kMaxCallFileSize)
        return { fileName + " is too large for a call file (more than "
            + std::to_string(kMaxCallFileSize) + " bytes)" };

    std::vector<std::string> errors;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (text.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        auto fail = [&](const std::string &why) {
            errors.push_back(fileName + ":" + std::to_string(number) + ": " + why);
        };
        const Json line = Json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.is_object()) {
            fail("not a JSON object");
            continue;
        }
        const auto v = line.find("v");
        if (v == line.end() || !v->is_number_integer() || *v != kCallFileVersion) {
            fail("\"v\" must be " + std::to_string(kCallFileVersion));
            continue;
        }
        const auto command = line.find("command");
        const auto result = line.find("result");
        if (command == line.end() || !command->is_string()) {
            fail("no \"command\"");
            continue;
        }
        if (result == line.end() || !result->is_number_integer() || *result < INT32_MIN
            || *result > INT32_MAX) {
            fail("\"result\" must be a 32-bit integer");
            continue;
        }
        const std::string name = command->get<std::string>();
        if (name == "get_profile" || name == "set_profile")
            continue;
        CallEntry entry;
        entry.line = number;
        entry.command = findCommand(name);
        if (!entry.command) {
            fail("unknown command \"" + name + "\"");
            continue;
        }
        entry.result = result->get<std::int32_t>();
        const auto time = line.find("time");
        if (time == line.end() || !time->is_string()
            || !parseRfc3339(time->get<std::string>(), entry.time)) {
            fail("\"time\" must be like 2026-01-31T12:00:00.000Z");
            continue;
        }
        std::string why = recordBytes(line, "request", entry.command->request, entry.request);
        if (why.empty())
            why = recordBytes(line, "response", entry.command->response, entry.response);
        if (!why.empty()) {
            fail(why);
            continue;
        }
        calls.push_back(std::move(entry));
    }
    if (in.bad())
        errors.push_back("cannot read " + fileName + ": " + std::strerror(errno));
    return errors;
}

} // namespace zemctl
