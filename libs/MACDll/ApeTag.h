#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The tags at the end of a file: APEv2 (read and written) and ID3v1 (stripped, or written in
// place of APEv2 when asked).
namespace mac {

// Text fields by key, in the order they were found or set.
using TTagFields = std::vector<std::pair<std::string, std::string>>;

// TagFileSimple's work: the fields of the file's APEv2 tag (none with Clear), then each of
// Fields set (an empty value removes the key, compared without case); every trailing ID3v1
// and APE tag is stripped and one new tag appended, none when no field remains. A result
// code of MACDll.h.
int32_t RewriteTag(const std::string& File, const TTagFields& Fields, bool Clear, bool OldId3);

} // namespace mac
