#pragma once
// The window's three operations as parameters of a test: each with the texts it shows
// and the file its picture must give, for tests that treat them alike.

#include "window/AreaMaxima.h"
#include "window/Crop2048.h"
#include "window/NdviRaster.h"

#include "ExpectedOutput.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

struct Operation {
    const char* name;
    void (*run)(window::Services&);
    const char* openTitle;
    const char* eightBitMessage;
    // The save dialog and the output file; nothing for the area maxima, which shows
    // its results in labels.
    const char* saveTitle;
    const char* saveFilter;
    const char* saveExt;
    std::vector<std::uint8_t> (*expected)(const Picture&);  // with the fields' defaults

    bool writesFile() const { return expected != nullptr; }
};

inline void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }

inline std::string operationName(const ::testing::TestParamInfo<Operation>& info)
{
    return info.param.name;
}

inline std::vector<std::uint8_t> expectedDefaultNdvi(const Picture& p)
{
    return expectedNdvi(p);
}

inline const Operation kCrop{"Crop", window::cropTo2048, "切り出し対象カラ―画像ファイル",
                             "24ビットカラ―画像を指定してください", "保存先ファイル名を指定する",
                             "BMPファイル (*.bmp) | *.bmp", ".bmp", expectedCrop};
inline const Operation kMaxima{"AreaMaxima", window::findAreaMaxima, "対象カラ―画像ファイル",
                               "24ビットカラー画像を指定してください", nullptr, nullptr, nullptr, nullptr};
inline const Operation kNdvi{"Ndvi", window::makeNdviRaster, "対象物フォルスカラ―画像ファイル",
                             "24ビットフォルスカラ―画像を指定してください", "保存先ファイル名（NDVI-RAW）を指定する",
                             "RAWファイル (*.raw) | *.raw", ".raw", expectedDefaultNdvi};

}  // namespace testing_support
