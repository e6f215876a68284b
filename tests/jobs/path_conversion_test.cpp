#include "path_conversion.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace dorvane;

namespace {

struct Converted {
    PathConversion Result;
    std::string Path;
};

template <std::size_t Size> Converted Convert(const char16_t* path) {
    std::array<char, Size> buffer{};
    const PathConversion result = ConvertPath(path, buffer);
    return {result, result == PathConversion::Converted ? std::string(buffer.data()) : ""};
}

} // namespace

TEST(PathConversion, EncodesUtf16AsUtf8) {
    struct Case {
        const char16_t* Wide;
        const char* Narrow;
    };
    for (const Case& c : {Case{u"", ""}, Case{u"/tmp/a.bmp", "/tmp/a.bmp"},
                          Case{u"caf\u00e9.bmp", "caf\xc3\xa9.bmp"},
                          Case{u"\u6f22\u5b57", "\xe6\xbc\xa2\xe5\xad\x97"},
                          Case{u"\U0001F600.bmp", "\xf0\x9f\x98\x80.bmp"}}) {
        const Converted converted = Convert<200>(c.Wide);
        EXPECT_EQ(converted.Result, PathConversion::Converted);
        EXPECT_EQ(converted.Path, c.Narrow);
    }
}

TEST(PathConversion, RejectsNullAndUnpairedSurrogates) {
    EXPECT_EQ(Convert<200>(nullptr).Result, PathConversion::Invalid);
    for (const char16_t* wide : {u"a\xD800",
                                 u"a\xD800"
                                 u"b",
                                 u"\xDC00", u"\xDBFF\xDBFF"}) {
        EXPECT_EQ(Convert<200>(wide).Result, PathConversion::Invalid);
    }
}

TEST(PathConversion, LengthLimitCountsNarrowBytesAndTheTerminator) {
    const std::u16string fits(199, u'a');
    EXPECT_EQ(Convert<200>(fits.c_str()).Path, std::string(199, 'a'));
    const std::u16string tooLong(200, u'a');
    EXPECT_EQ(Convert<200>(tooLong.c_str()).Result, PathConversion::TooLong);
    EXPECT_EQ(Convert<208>(tooLong.c_str()).Result, PathConversion::Converted);

    // 99 two-byte characters are 198 bytes: one more ASCII byte fits, a two-byte one does not.
    const std::u16string accents(99, u'\u00e9');
    EXPECT_EQ(Convert<200>((accents + u"a").c_str()).Result, PathConversion::Converted);
    EXPECT_EQ(Convert<200>((accents + u"\u00e9").c_str()).Result, PathConversion::TooLong);
}
