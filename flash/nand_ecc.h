#pragma once
// The Hamming-type code stored in a NAND page's spare area: for each 256-byte block the XOR of the
// bit addresses of all 1-bits and of their complements (22 bits), combined per 512-byte chunk
// from the even-addressed and odd-addressed bits into three interleaved 16-bit words.
#include <cstdint>

namespace dz {

// 22-bit code of a 256-byte block: bits 11..21 XOR of the addresses of the 1-bits, bits 0..10 the
// XOR of their complements.
std::uint32_t ecc22(const std::uint8_t* block);
// 6-byte code of a 512-byte chunk.
void nand_chunk_ecc(const std::uint8_t* chunk, std::uint8_t* code);
// 24-byte code of a 2048-byte page: the codes of its four chunks in order.
void nand_page_ecc(const std::uint8_t* page, std::uint8_t* code);
// 512-byte pages on a 16-bit bus carry no code: computes and writes nothing.
void nand_no_ecc(const std::uint8_t* chunk, std::uint8_t* code);

}  // namespace dz
