// Byte-order reversal of the two BMP header records.
#include "byte_order.hpp"
#include "bmp_headers.hpp"

#include <bit>

namespace dorvane {
namespace {

void Reverse(std::uint16_t& field) {
    field = ByteSwap16(field);
}

void Reverse(std::uint32_t& field) {
    field = ByteSwap32(field);
}

// Signed fields are reversed as their 32-bit patterns.
void Reverse(std::int32_t& field) {
    field = std::bit_cast<std::int32_t>(ByteSwap32(std::bit_cast<std::uint32_t>(field)));
}

// Each field by its own width.
void ReverseFields(auto& header) {
    ForEachField(header, [](const auto&, auto& value) { Reverse(value); });
}

} // namespace

void FileHeader::ReverseByteOrder() {
    ReverseFields(*this);
}

void InfoHeader::ReverseByteOrder() {
    ReverseFields(*this);
}

} // namespace dorvane
