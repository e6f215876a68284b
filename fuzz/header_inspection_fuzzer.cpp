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

class FieldCheck {
  public:
    FieldCheck(const std::uint8_t* data, std::size_t size, std::size_t start)
        : Data(data), Size(size), Offset(start) {}

    // The next field of the record, read from the bytes at its offset.
    template <typename Field> void Next(Field actual, Field fallback, const char* what) {
        const std::size_t width = sizeof(Field);
        const bool held = Offset + width <= Size;
        const auto expected =
            held ? static_cast<Field>(LittleEndianAt(Data, Size, Offset, width)) : fallback;
        Check(actual == expected, what);
        Offset += width;
    }

  private:
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Offset;
};

void CheckFileHeader(const FileHeader& header, const std::uint8_t* data, std::size_t size) {
    const FileHeader fallback;
    FieldCheck field(data, size, 0);
    field.Next(header.bfType, fallback.bfType, "bfType");
    field.Next(header.bfSize, fallback.bfSize, "bfSize");
    field.Next(header.bfReserved1, fallback.bfReserved1, "bfReserved1");
    field.Next(header.bfReserved2, fallback.bfReserved2, "bfReserved2");
    field.Next(header.bfOffBits, fallback.bfOffBits, "bfOffBits");
}

void CheckInfoHeader(const InfoHeader& header, const std::uint8_t* data, std::size_t size) {
    const InfoHeader fallback;
    FieldCheck field(data, size, 14);
    field.Next(header.biSize, fallback.biSize, "biSize");
    field.Next(header.biWidth, fallback.biWidth, "biWidth");
    field.Next(header.biHeight, fallback.biHeight, "biHeight");
    field.Next(header.biPlanes, fallback.biPlanes, "biPlanes");
    field.Next(header.biBitCount, fallback.biBitCount, "biBitCount");
    field.Next(header.biCompression, fallback.biCompression, "biCompression");
    field.Next(header.biSizeImage, fallback.biSizeImage, "biSizeImage");
    field.Next(header.biXPelsPerMeter, fallback.biXPelsPerMeter, "biXPelsPerMeter");
    field.Next(header.biYPelsPerMeter, fallback.biYPelsPerMeter, "biYPelsPerMeter");
    field.Next(header.biClrUsed, fallback.biClrUsed, "biClrUsed");
    field.Next(header.biClrImportant, fallback.biClrImportant, "biClrImportant");
}

template <typename Header> bool SameFields(const Header& a, const Header& b);

template <> bool SameFields(const FileHeader& a, const FileHeader& b) {
    return a.bfType == b.bfType && a.bfSize == b.bfSize && a.bfReserved1 == b.bfReserved1 &&
           a.bfReserved2 == b.bfReserved2 && a.bfOffBits == b.bfOffBits;
}

template <> bool SameFields(const InfoHeader& a, const InfoHeader& b) {
    return a.biSize == b.biSize && a.biWidth == b.biWidth && a.biHeight == b.biHeight &&
           a.biPlanes == b.biPlanes && a.biBitCount == b.biBitCount &&
           a.biCompression == b.biCompression && a.biSizeImage == b.biSizeImage &&
           a.biXPelsPerMeter == b.biXPelsPerMeter && a.biYPelsPerMeter == b.biYPelsPerMeter &&
           a.biClrUsed == b.biClrUsed && a.biClrImportant == b.biClrImportant;
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
    CheckFileHeader(fileHeader, data, size);
    CheckInfoHeader(infoHeader, data, size);
    FileHeader checkedFile;
    InfoHeader checkedInfo;
    FileFailure failure;
    const bool accepted = ReadBmpHeaders(bytes, checkedFile, checkedInfo, failure);
    Check(accepted == (size >= HeadersSize && data[0] == 'B' && data[1] == 'M'), "ReadBmpHeaders");
    if (accepted) {
        CheckFileHeader(checkedFile, data, size);
        CheckInfoHeader(checkedInfo, data, size);
    }
    CheckReversal(fileHeader);
    CheckReversal(infoHeader);
    CheckSwaps(data, size);
    return 0;
}
