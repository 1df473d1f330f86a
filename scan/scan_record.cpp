#include "scan_record.h"

#include <openssl/evp.h>

#include <charconv>
#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>

#include "build_info.h"
#include "errors.h"
#include "scan_output.h"

namespace scan {

namespace {

using json = nlohmann::ordered_json;

// A number as the shortest decimal that reads back to it; null when not finite.
json number(double value)
{
    if (!std::isfinite(value))
        return nullptr;
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return json::parse(std::string(text, end));
}

json number(float value)
{
    if (!std::isfinite(value))
        return nullptr;
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return json::parse(std::string(text, end));
}

template <class Number>
json numbers(const std::vector<Number>& values)
{
    if (values.empty())
        return nullptr;
    json list = json::array();
    for (Number value : values)
        list.push_back(number(value));
    return list;
}

// The quantiles as corvane's record gives them: rounded to single precision.
json single_precision(const std::vector<double>& values)
{
    std::vector<float> rounded(values.begin(), values.end());
    return numbers(rounded);
}

json text_or_null(const std::string& text)
{
    return text.empty() ? json(nullptr) : json(text);
}

std::string sha256_hex(const std::string& bytes)
{
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), hash, &length, EVP_sha256(), nullptr) != 1)
        return "";
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[hash[i] >> 4];
        text += hex[hash[i] & 0x0F];
    }
    return text;
}

json data_file_entry(const ScanRecord& record)
{
    json entry = {{"path", record.data_file}, {"size", nullptr}, {"sha256", nullptr}};
    if (record.data_bytes) {
        entry["size"] = record.data_bytes->size();
        entry["sha256"] = text_or_null(sha256_hex(*record.data_bytes));
    }
    return entry;
}

json options_entry(const Options& options)
{
    return {{"sources", {options.fewest_sources, options.most_sources}},
            {"candidates", options.candidates.empty() ? json(nullptr) : json(options.candidates)},
            {"model", options.model.empty() ? json(nullptr) : json(options.model)},
            {"replicates", options.replicates},
            {"seed", options.seed},
            {"resample", options.resample},
            {"threads", options.threads}};
}

json models_entry(const ScanRecord& record)
{
    json rows = json::array();
    if (!record.results)
        return rows;
    for (const ModelResult& result : *record.results) {
        std::vector<std::string> sources;
        for (int row : result.sources)
            sources.push_back((*record.names)[static_cast<std::size_t>(row)]);
        rows.push_back({{"sources", sources},
                        {"mY", numbers(result.mY)},
                        {"se", numbers(result.standard_errors)},
                        {"boot_mean", numbers(result.bootstrap_means)},
                        {"boot_sd", numbers(result.bootstrap_sds)},
                        {"q2.5", single_precision(result.quantile_2_5)},
                        {"q97.5", single_precision(result.quantile_97_5)},
                        {"Q", result.fitted ? number(result.Q) : json(nullptr)},
                        {"df", result.references.size()},
                        {"p", result.fitted ? number(result.p) : json(nullptr)},
                        {"feasible", result.feasible},
                        {"refused", text_or_null(result.refused)},
                        {"no_se_because", text_or_null(result.standard_error_note)},
                        {"no_Q_because", result.fitted ? json(nullptr) : text_or_null(result.fit_note)}});
    }
    return rows;
}

const char* state_of(const ScanRecord& record)
{
    if (record.running)
        return "running";
    if (record.exit_status == exit_complete)
        return "complete";
    return record.exit_status > 128 ? "interrupted" : "error stop";
}

}  // namespace

std::string record_text(const ScanRecord& record)
{
    const std::string commit = built_from_commit();
    const json document = {
        {"program", "corvane-scan"},
        {"version", program_version},
        {"commit", text_or_null(commit)},
        {"command_line", record.command_line},
        {"working_folder", record.working_folder},
        {"data_file", data_file_entry(record)},
        {"key_file", text_or_null(record.key_file)},
        {"options", options_entry(record.options)},
        {"output_folder", record.output_folder},
        {"started", record.started_utc},
        {"state", state_of(record)},
        {"duration_seconds", record.running ? json(nullptr) : json(record.duration_seconds)},
        {"exit_status", record.running ? json(nullptr) : json(record.exit_status)},
        {"error", text_or_null(record.error_message)},
        {"models", models_entry(record)},
    };
    // Names that are not UTF-8 are written with the replacement character
    // rather than stopping the record.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace scan
