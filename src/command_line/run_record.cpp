#include "run_record.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>

#include "build_info.h"

namespace {

using json = nlohmann::ordered_json;

// A float as the shortest decimal that reads back to it: 0.538883 stays
// 0.538883 in the record instead of its widened 0.5388830304145813.
json real(float value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return json::parse(std::string(text, end));
}

json optional_real(const std::optional<float>& value)
{
    return value ? real(*value) : json(nullptr);
}

json optional_real(const std::optional<double>& value)
{
    return value ? real(static_cast<float>(*value)) : json(nullptr);
}

// The length of the UTF-8 sequence that starts at `at`, or 0 when its bytes
// are not one (a stray continuation byte, a sequence cut short, an overlong
// form, a surrogate, beyond U+10FFFF).
std::size_t utf8_sequence_length(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = at + 2; i < at + length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

// A name or a message as JSON can hold it: UTF-8 as it is, every byte that is
// not part of a UTF-8 character as \xHH (a file name in another encoding).
json text(const std::string& raw)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    for (std::size_t at = 0; at < raw.size();) {
        const std::size_t length = utf8_sequence_length(raw, at);
        if (length > 0) {
            shown.append(raw, at, length);
            at += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(raw[at++]);
        shown += "\\x";
        shown += hex[byte >> 4];
        shown += hex[byte & 0x0F];
    }
    return shown;
}

json texts(const std::vector<std::string>& raw)
{
    json list = json::array();
    for (const std::string& each : raw)
        list.push_back(text(each));
    return list;
}

json text_or_null(const std::string& raw)
{
    return raw.empty() ? json(nullptr) : text(raw);
}

json data_file_entry(const RunRecord& record)
{
    json entry = {{"path", text(record.data_file)}};
    const auto& digest = record.data_file_digest;
    entry["size"] = digest ? json(digest->size) : json(nullptr);
    entry["sha256"] = digest ? json(digest->sha256) : json(nullptr);
    return entry;
}

json results_entry(const RunRecord& record)
{
    json rows = json::array();
    for (const ParentResult& row : record.results)
        rows.push_back({{"parent", row.parent},
                        {"population", text(row.population)},
                        {"mY", real(row.estimate)},
                        {"boot_mean", optional_real(row.bootstrap_mean)},
                        {"boot_sd", optional_real(row.bootstrap_sd)},
                        {"q2.5", optional_real(row.quantile_2_5)},
                        {"q97.5", optional_real(row.quantile_97_5)}});
    return rows;
}

json optional_real(const std::optional<float>& first, const std::optional<float>& second)
{
    return optional_real(first ? first : second);
}

// A value the data file gives and an option may replace.
json replaceable_value(const std::optional<float>& data_file, const std::optional<float>& option)
{
    return {{"data_file", optional_real(data_file)},
            {"option", optional_real(option)},
            {"used", optional_real(option, data_file)}};
}

json populations_entry(const RunRecord& record)
{
    json parents = json::array();
    for (const ParentResult& row : record.results)
        parents.push_back(text(row.population));
    return {{"key_file", text_or_null(record.key_file)}, {"hybrid", text_or_null(record.hybrid)}, {"parents", parents}};
}

}  // namespace

std::optional<FileDigest> digest_of_bytes(const std::string& bytes)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1)
        return std::nullopt;
    FileDigest digest;
    digest.size = bytes.size();
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), hash, &length) != 1)
        return std::nullopt;
    static const char hex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        digest.sha256 += hex[hash[i] >> 4];
        digest.sha256 += hex[hash[i] & 0x0F];
    }
    return digest;
}

std::string utc_now_iso8601()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

namespace {

const char* state_of(const RunRecord& record)
{
    if (record.running)
        return "running";
    if (record.exit_status == 0)
        return "complete";
    return record.exit_status > 128 ? "interrupted" : "error stop";
}

bool write_all(int file, const std::string& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(file, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

// Creates a file beside `path` under a name that nothing has yet: a name that
// is taken, by a file or a link, is passed over, never opened. -1 when none
// could be created.
int create_beside(const std::string& path, std::string& created)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        created = path + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".partial";
        const int file = ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file >= 0 || errno != EEXIST)
            return file;
    }
    return -1;
}

}  // namespace

bool write_run_record(const std::string& path, const RunRecord& record)
{
    const std::string commit = built_from_commit();
    const json document = {
        {"program", "corvane"},
        {"version", program_version},
        {"commit", text_or_null(commit)},
        {"command_line", texts(record.command_line)},
        {"working_folder", text(record.working_folder)},
        {"data_file", data_file_entry(record)},
        {"answers",
         {{"divergence", record.divergence},
          {"replicates", record.replicates},
          {"seed", record.seed},
          {"resample", record.resample},
          {"time", optional_real(record.time_option)},
          {"rate", optional_real(record.rate_option)}}},
        {"time_since_admixture", replaceable_value(record.data_file_time, record.time_option)},
        {"mutation_rate", replaceable_value(record.data_file_rate, record.rate_option)},
        {"populations", populations_entry(record)},
        {"output_folder", text(record.output_folder)},
        {"log", record.log_detail},
        {"started", record.started_utc},
        {"state", state_of(record)},
        {"duration_seconds", record.running ? json(nullptr) : json(record.duration_seconds)},
        {"exit_status", record.running ? json(nullptr) : json(record.exit_status)},
        {"error", text_or_null(record.error_message)},
        {"bootstrap",
         {{"replicates", record.replicates_summarised},
          {"resampling", text_or_null(record.resampling_used)},
          {"replicates_outside_0_1", record.replicates_outside_0_1},
          {"threads", record.replicate_threads},
          {"not_run_because", text_or_null(record.bootstrap_refusal)}}},
        {"warnings", texts(record.warnings)},
        {"results", results_entry(record)},
    };
    // Every text went through text() already; the replacement only keeps a
    // byte missed there from ending the program.
    const std::string bytes = document.dump(2, ' ', false, json::error_handler_t::replace) + '\n';
    std::string temporary;
    const int file = create_beside(path, temporary);
    if (file < 0)
        return false;
    const bool written = write_all(file, bytes);
    if (::close(file) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
