// The header inspection operations and the byte-order utilities on arbitrary bytes in memory.
// Every field must hold the bytes at its place when the file holds all of them, and its default
// otherwise; the checked read must take exactly the files of 54 bytes or more that begin with
// "BM"; reversing the byte order twice must give the header back.
#include "bmp_headers.hpp"
#include "byte_order.hpp"
#include "fuzz_support.hpp"
#include "header_inspection.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

using namespace dorvane;
using namespace dorvane::fuzzing;

// Every field of header holds the bytes at its offset when data holds all of them, and its
// default otherwise.
template <typename Header>
void CheckFields(const Header& header, const std::uint8_t* data, std::size_t size) {
    const Header fallback;
    ForEachField(header, [&](const auto& field, auto actual) {
        using Value = decltype(actual);
        const bool held = field.Offset + sizeof(Value) <= size;
        const auto expected =
            held ? static_cast<Value>(LittleEndianAt(data, size, field.Offset, sizeof(Value)))
                 : fallback.*field.Member;
        Check(actual == expected, field.Name.data());
    });
}

template <typename Header> bool SameFields(const Header& a, const Header& b) {
    bool same = true;
    ForEachField(a, [&](const auto& field, auto value) { same &= value == b.*field.Member; });
    return same;
}

template <typename Header> void CheckReversal(const Header& header) {
    Header reversed = header;
    reversed.ReverseByteOrder();
    reversed.ReverseByteOrder();
    Check(SameFields(reversed, header), "reversing the byte order twice changed the header");
}

void CheckSwaps(const std::uint8_t* data, std::size_t size) {
    const auto value16 = static_cast<std::uint16_t>(LittleEndianAt(data, size, 0, 2));
    const std::uint32_t value32 = LittleEndianAt(data, size, 0, 4);
    std::uint32_t bigEndian = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        bigEndian = (bigEndian << 8) | (k < size ? data[k] : 0U);
    }
    Check(ByteSwap16(value16) == (bigEndian >> 16), "ByteSwap16");
    Check(ByteSwap32(value32) == bigEndian, "ByteSwap32");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const FileHeader fileHeader = ReadFileHeaderOf(bytes);
    const InfoHeader infoHeader = ReadInfoHeaderOf(bytes);
    CheckFields(fileHeader, data, size);
    CheckFields(infoHeader, data, size);
    FileHeader checkedFile;
    InfoHeader checkedInfo;
    FileFailure failure;
    const bool accepted = ReadBmpHeaders(bytes, checkedFile, checkedInfo, failure);
    Check(accepted == (size >= HeadersSize && data[0] == 'B' && data[1] == 'M'), "ReadBmpHeaders");
    if (accepted) {
        CheckFields(checkedFile, data, size);
        CheckFields(checkedInfo, data, size);
    }
    CheckReversal(fileHeader);
    CheckReversal(infoHeader);
    CheckSwaps(data, size);
    return 0;
}
