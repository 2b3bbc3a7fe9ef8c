// The checks every text a vendor gives for a box goes through (the package's
// refusal messages, the launcher's texts in any language): what Windows would
// show other than the vendor meant is refused, what a box cannot usefully
// show is warned about.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pkgtool {

// Beyond this many UTF-16 units an error box is a wall of text, and on a
// small screen its OK button leaves the screen.
constexpr size_t kLongVendorTextUnits = 1024;

// ToolError (exit 2) naming `source` for a text that holds U+0000 (the box
// would end there), a control character other than tab, line feed and
// carriage return, or a bidirectional embedding, override or isolate
// (U+202A..U+202E, U+2066..U+2069: the box would read in another order than
// the text was written). A text above kLongVendorTextUnits adds a warning,
// beginning with `source`, to `warnings` (when given).
void CheckVendorText(const std::u16string& text, const std::string& source,
                     std::vector<std::string>* warnings);

}  // namespace pkgtool
