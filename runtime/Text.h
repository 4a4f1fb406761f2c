#pragma once

#include <string>
#include <string_view>

// 8-bit text is UTF-8 and wide text is UTF-16. Bytes that are not UTF-8 cross into wide text
// as lone surrogates U+DC80..U+DCFF and come back unchanged, so a file name survives the
// round trip whatever its bytes; any other lone surrogate becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view Text);
std::string Utf16ToUtf8(std::u16string_view Text);
// The first MaxBytes bytes of Text, less a UTF-8 character they would cut in two.
std::string Utf8Prefix(std::string_view Text, size_t MaxBytes);
