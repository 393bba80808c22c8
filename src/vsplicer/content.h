// The objects the virtual splicer holds: its history export file and its splice images,
// generated deterministically so that tests can compare what the host received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vsplicer {

// Header "HIST", record count (uint32 LE), then CSV text with one header line and one line per
// splice. Exactly `bytes` long (a file shorter than 8 bytes is a cut header).
std::vector<uint8_t> MakeHistoryFile(size_t bytes);

// W, H (uint16 LE), then H rows top first of W pixels as B,G,R: two fibres meeting at a splice
// point near the middle, on a grey background; the picture varies slightly with `number`.
std::vector<uint8_t> MakeImage(uint16_t width, uint16_t height, uint32_t number);

}  // namespace vsplicer
