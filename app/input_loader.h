// Bringing a file in, and naming its output.
#pragma once

#include <cstddef>
#include <string>

#include "app/labels.h"
#include "app/line_end.h"
#include "platform/big_buffer.h"
#include "platform/file_io.h"

namespace linemint {

// The output path for an input path: the input's folder, and its file name
// with the prefix "去重复_". The last '/' is the separator (UTF-8 never holds
// the byte 0x2F inside a multi-byte character). A path with no '/' names a file
// in the current folder, so the result is the prefix followed by the path;
// the result is never the input path itself.
std::string outputPathFor(const std::string& path);

// Reads the file at path whole into inputBytes and normalises its end: with
// CR LF line ends a file shorter than 2 bytes becomes empty and CR LF is
// appended unless the file already ends with it; with LF line ends only an
// empty file is empty and LF is appended unless the file ends with LF. Then
// clears the output-path label (when labels is given) and sets outputPath to
// outputPathFor(path). The path "-" reads standard input.
//
// Returns the read error, if any; inputBytes is then empty, and outputPath
// and the label are set all the same (the caller decides what to show).
platform::IoError loadInput(const std::string& path, LineEnd lineEnd, platform::BigBuffer& inputBytes,
                            std::string& outputPath, LabelSink* labels);

// The end normalisation of loadInput on its own, for bytes read elsewhere:
// countsAsEmpty, then appendMissingLineEnd. Returns false when the buffer
// cannot grow (it is then unchanged).
bool normaliseLineEnds(platform::BigBuffer& bytes, LineEnd lineEnd) noexcept;

// True when a whole input of n bytes counts as empty: n < 2 with CR LF line
// ends (no room for a line end), n == 0 with LF.
bool countsAsEmpty(std::size_t n, LineEnd lineEnd) noexcept;

// Appends the line end unless bytes is empty or already ends with it; also
// for the last piece of an input read in pieces. Returns false when the
// buffer cannot grow (it is then unchanged).
bool appendMissingLineEnd(platform::BigBuffer& bytes, LineEnd lineEnd) noexcept;

}  // namespace linemint
