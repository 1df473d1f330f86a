#include "run_record.h"

#include <openssl/evp.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
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

json text_or_null(const std::string& text)
{
    return text.empty() ? json(nullptr) : json(text);
}

json data_file_entry(const RunRecord& record)
{
    json entry = {{"path", record.data_file}};
    const auto digest = digest_of_file(record.data_file);
    entry["size"] = digest ? json(digest->size) : json(nullptr);
    entry["sha256"] = digest ? json(digest->sha256) : json(nullptr);
    return entry;
}

json results_entry(const RunRecord& record)
{
    json rows = json::array();
    for (const ParentResult& row : record.results)
        rows.push_back({{"parent", row.parent},
                        {"population", row.population},
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
        parents.push_back(row.population);
    return {{"key_file", text_or_null(record.key_file)}, {"hybrid", text_or_null(record.hybrid)}, {"parents", parents}};
}

}  // namespace

std::optional<FileDigest> digest_of_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    FileDigest digest;
    char chunk[65536];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        EVP_DigestUpdate(context.get(), chunk, static_cast<std::size_t>(file.gcount()));
        digest.size += static_cast<std::uint64_t>(file.gcount());
    }
    if (file.bad())
        return std::nullopt;
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

bool write_run_record(const std::string& path, const RunRecord& record)
{
    const std::string commit = built_from_commit();
    const json document = {
        {"program", "corvane"},
        {"version", program_version},
        {"commit", text_or_null(commit)},
        {"command_line", record.command_line},
        {"working_folder", record.working_folder},
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
        {"output_folder", record.output_folder},
        {"started", record.started_utc},
        {"duration_seconds", record.duration_seconds},
        {"exit_status", record.exit_status},
        {"error", text_or_null(record.error_message)},
        {"bootstrap",
         {{"replicates", record.replicates_summarised},
          {"resampling", text_or_null(record.resampling_used)},
          {"replicates_outside_0_1", record.replicates_outside_0_1},
          {"not_run_because", text_or_null(record.bootstrap_refusal)}}},
        {"warnings", record.warnings},
        {"results", results_entry(record)},
    };
    const std::string temporary = path + ".partial";
    {
        std::ofstream out(temporary, std::ios::out | std::ios::trunc);
        out << document.dump(2) << '\n';
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
