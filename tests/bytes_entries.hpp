#pragma once

#include "DorvaneBMPBlur.h"
#include "bmp_file_builder.hpp"
#include "file_jobs.hpp"
#include "memory_jobs.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace dorvane::testing {

// Each job from a file's bytes writes the bytes that it writes from the file at path to output,
// with the same result, failure and rows recorded, on one thread and on several; the scaling's
// by mode and value.
inline void ExpectBytesEntriesAsFiles(const std::string& path, const std::string& output, char mode,
                                      std::int32_t value, const std::string& context) {
    const Bytes source = ReadFileBytes(path);
    for (const std::uint32_t threads : {1U, 3U}) {
        const JobOptions options{threads};
        const auto blurFile = [&](FileFailure& why) {
            return BlurFiles(path.c_str(), output.c_str(), options, why);
        };
        const auto blurBytes = [&](std::vector<std::uint8_t>& out, FileFailure& why) {
            return BlurBytes(source, out, options, why);
        };
        const auto edgesFile = [&](FileFailure& why) {
            return DetectEdgesInFiles(path.c_str(), output.c_str(), options, why);
        };
        const auto edgesBytes = [&](std::vector<std::uint8_t>& out, FileFailure& why) {
            return DetectEdgesInBytes(source, out, options, why);
        };
        const auto scaleFile = [&](FileFailure& why) {
            return ScaleFiles(path.c_str(), output.c_str(), mode, value, options, why);
        };
        const auto scaleBytes = [&](std::vector<std::uint8_t>& out, FileFailure& why) {
            return ScaleBytes(source, out, mode, value, options, why);
        };
        const std::tuple<const char*, std::function<std::int32_t(FileFailure&)>,
                         std::function<std::int32_t(std::vector<std::uint8_t>&, FileFailure&)>>
            jobs[] = {{"blur", blurFile, blurBytes},
                      {"edges", edgesFile, edgesBytes},
                      {"scaling", scaleFile, scaleBytes}};
        for (const auto& [name, fromFile, fromBytes] : jobs) {
            const std::string job =
                context + ", " + name + " from bytes on " + std::to_string(threads);
            std::filesystem::remove(output);
            FileFailure fileFailure;
            const std::int32_t fileResult = fromFile(fileFailure);
            FileFailure bytesFailure;
            std::vector<std::uint8_t> written{1, 2, 3}; // replaced
            EXPECT_EQ(fromBytes(written, bytesFailure), fileResult) << job;
            EXPECT_EQ(bytesFailure.Reason(), fileFailure.Reason()) << job;
            EXPECT_EQ(bytesFailure.RowsExpected, fileFailure.RowsExpected) << job;
            EXPECT_EQ(bytesFailure.RowsRead, fileFailure.RowsRead) << job;
            EXPECT_EQ(written, fileResult == BMPBLUR_OK ? ReadFileBytes(output) : Bytes{}) << job;
        }
    }
}

} // namespace dorvane::testing
