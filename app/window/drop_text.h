// The text a drop hands to the window: the dropped local files' paths.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace linemint {

// One path alone as it is; several paths each followed by CR LF, in the order
// of the drop; no path gives the empty text. Such a text of several paths
// names no file, so loading it fails (see WindowController::onFileDropped).
std::string dropText(const std::vector<std::string>& paths);

// The number of paths in a drop text of several paths (each followed by
// CR LF), or 1 for any text that does not end with CR LF.
std::size_t pathCountInDropText(const std::string& text);

}  // namespace linemint
